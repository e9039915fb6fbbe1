#pragma once
// Scope traces and log lines for every method of the product. Records go to
// pluggable sinks (the diagnostic logger, the service library's log); with no
// sink installed a trace costs a load and a branch.
#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace vd::trace {

enum class LogLevel { Trace = 0, Debug = 1, Info = 2, Warn = 3, Error = 4 };

// Receives finished trace records ("1|method|file|line|seq" on entry,
// "0|method|file|line|seq|elapsed ms|cpu %" on exit), from any thread.
class ITraceSink {
 public:
  virtual ~ITraceSink() = default;
  virtual void OnTraceRecord(std::string_view record) = 0;
};

// Receives one formatted log line with where it came from, from any thread.
class ILogSink {
 public:
  virtual ~ILogSink() = default;
  virtual void OnLogLine(LogLevel level, const char* file, int line, const char* method,
                         std::string_view message) = 0;
};

// Sinks must outlive every thread that may still trace; null switches off.
void SetTraceSink(ITraceSink* sink);
void SetLogSink(ILogSink* sink);

// Entry record on construction, exit record with timing on destruction.
class ScopeTrace {
 public:
  ScopeTrace(const char* method, const char* file, int line) noexcept;
  ~ScopeTrace();
  ScopeTrace(const ScopeTrace&) = delete;
  ScopeTrace& operator=(const ScopeTrace&) = delete;

  // Innermost traced method on this thread, or null.
  static const char* CurrentMethod() noexcept;

 private:
  const char* method_;
  const char* file_;
  int line_;
  long sequence_ = 0;
  uint64_t start_ms_ = 0;
  uint64_t start_cpu_ = 0;
  const ScopeTrace* outer_;
  bool active_ = false;
};

// printf-style log line; the method is the innermost traced one when there is one.
void Log(LogLevel level, const char* file, int line, const char* function, const char* format, ...) noexcept
    __attribute__((format(printf, 5, 6)));
void LogV(LogLevel level, const char* file, int line, const char* function, const char* format,
          va_list args) noexcept;
// One line for a failed call, with its expression and code.
void LogFailure(const char* file, int line, const char* function, const char* expression, long code) noexcept;

// Record formats, shared with tests and sinks that parse them.
std::string FormatEntry(std::string_view method, std::string_view file, int line, long sequence);
std::string FormatExit(std::string_view method, std::string_view file, int line, long sequence,
                       long elapsed_ms, double cpu_percent);
// Processor use of a call: thread time growth (100 ns units) / 100 / CPUs / ms;
// calls of 100 ms or less report 0.
double CpuPercent(uint64_t cpu_delta_100ns, uint64_t elapsed_ms, unsigned processors);

}  // namespace vd::trace

#define VD_TRACE_CONCAT2(a, b) a##b
#define VD_TRACE_CONCAT(a, b) VD_TRACE_CONCAT2(a, b)
#define VD_TRACE(method) ::vd::trace::ScopeTrace VD_TRACE_CONCAT(vd_scope_trace_, __LINE__)(method, __FILE__, __LINE__)

#define VD_LOG(level, ...) ::vd::trace::Log(level, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define VD_LOG_TRACE(...) VD_LOG(::vd::trace::LogLevel::Trace, __VA_ARGS__)
#define VD_LOG_DEBUG(...) VD_LOG(::vd::trace::LogLevel::Debug, __VA_ARGS__)
#define VD_LOG_INFO(...) VD_LOG(::vd::trace::LogLevel::Info, __VA_ARGS__)
#define VD_LOG_WARN(...) VD_LOG(::vd::trace::LogLevel::Warn, __VA_ARGS__)
#define VD_LOG_ERROR(...) VD_LOG(::vd::trace::LogLevel::Error, __VA_ARGS__)

// Error paths as one line each: a negative code (a failed HRESULT) is logged
// with its expression and returned.
#define VD_RETURN_IF_FAILED(expr)                                                \
  do {                                                                           \
    const long vd_hr_ = static_cast<long>(expr);                                 \
    if (vd_hr_ < 0) {                                                            \
      ::vd::trace::LogFailure(__FILE__, __LINE__, __func__, #expr, vd_hr_);      \
      return vd_hr_;                                                             \
    }                                                                            \
  } while (0)

#define VD_RETURN_HR_IF(hr, cond)                                                \
  do {                                                                           \
    if (cond) {                                                                  \
      ::vd::trace::LogFailure(__FILE__, __LINE__, __func__, #cond, (long)(hr));  \
      return (hr);                                                               \
    }                                                                            \
  } while (0)
