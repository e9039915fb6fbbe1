#include "trace.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "platform/clock.h"
#include "platform/fault.h"

namespace vd::trace {
namespace {

std::atomic<ITraceSink*> g_trace_sink{nullptr};
std::atomic<ILogSink*> g_log_sink{nullptr};
std::atomic<long> g_sequence{0};
thread_local const ScopeTrace* t_innermost = nullptr;
thread_local const char* t_innermost_method = nullptr;

constexpr size_t kMaxMethod = 519;
constexpr size_t kMaxFile = 259;

std::string_view Cut(std::string_view s, size_t max) { return s.size() > max ? s.substr(0, max) : s; }

void Emit(const std::string& record) {
  if (ITraceSink* sink = g_trace_sink.load(std::memory_order_acquire)) {
    try {
      sink->OnTraceRecord(record);
    } catch (...) {
    }
  }
}

void LogFault(const char* where, const char* what) noexcept {
  Log(LogLevel::Error, __FILE__, __LINE__, where, "%s: exception caught: %s", where, what);
}

}  // namespace

void SetTraceSink(ITraceSink* sink) { g_trace_sink.store(sink, std::memory_order_release); }
void SetLogSink(ILogSink* sink) {
  g_log_sink.store(sink, std::memory_order_release);
  // What the guards at thread entries catch is worth a line in the same log.
  platform::SetFaultReporter(sink ? &LogFault : nullptr);
}

std::string FormatEntry(std::string_view method, std::string_view file, int line, long sequence) {
  std::string out = "1|";
  out.append(Cut(method, kMaxMethod)).append("|").append(Cut(file, kMaxFile));
  out.append("|").append(std::to_string(line)).append("|").append(std::to_string(sequence));
  return out;
}

std::string FormatExit(std::string_view method, std::string_view file, int line, long sequence,
                       long elapsed_ms, double cpu_percent) {
  std::string out = "0|";
  out.append(Cut(method, kMaxMethod)).append("|").append(Cut(file, kMaxFile));
  char tail[96];
  std::snprintf(tail, sizeof tail, "|%d|%ld|%ld|%.1f", line, sequence, elapsed_ms, cpu_percent);
  return out.append(tail);
}

double CpuPercent(uint64_t cpu_delta_100ns, uint64_t elapsed_ms, unsigned processors) {
  if (elapsed_ms <= 100 || processors == 0) return 0.0;
  return static_cast<double>(cpu_delta_100ns / 100) / processors / static_cast<double>(elapsed_ms);
}

ScopeTrace::ScopeTrace(const char* method, const char* file, int line) noexcept
    : method_(method ? method : ""), file_(file ? file : ""), line_(line), outer_(t_innermost) {
  t_innermost = this;
  t_innermost_method = method_;
  if (!g_trace_sink.load(std::memory_order_acquire)) return;
  active_ = true;
  sequence_ = g_sequence.fetch_add(1, std::memory_order_relaxed) + 1;
  start_ms_ = platform::TickCountMs();
  start_cpu_ = platform::ThreadCpuTime100ns();
  try {
    Emit(FormatEntry(method_, file_, line_, sequence_));
  } catch (...) {
  }
}

ScopeTrace::~ScopeTrace() {
  t_innermost = outer_;
  t_innermost_method = outer_ ? outer_->method_ : nullptr;
  if (!active_) return;
  try {
    uint64_t elapsed = platform::TickCountMs() - start_ms_;
    uint64_t cpu = platform::ThreadCpuTime100ns() - start_cpu_;
    Emit(FormatExit(method_, file_, line_, sequence_, static_cast<long>(elapsed),
                    CpuPercent(cpu, elapsed, platform::ProcessorCount())));
  } catch (...) {
  }
}

const char* ScopeTrace::CurrentMethod() noexcept { return t_innermost_method; }

void LogV(LogLevel level, const char* file, int line, const char* function, const char* format,
          va_list args) noexcept {
  ILogSink* sink = g_log_sink.load(std::memory_order_acquire);
  if (!sink || !format) return;
  try {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return;
    std::string message;
    if (static_cast<size_t>(n) < sizeof small) {
      message.assign(small, static_cast<size_t>(n));
    } else {
      std::vector<char> big(static_cast<size_t>(n) + 1);
      std::vsnprintf(big.data(), big.size(), format, args);
      message.assign(big.data(), static_cast<size_t>(n));
    }
    const char* method = t_innermost_method ? t_innermost_method : (function ? function : "");
    sink->OnLogLine(level, file ? file : "", line, method, message);
  } catch (...) {
  }
}

void Log(LogLevel level, const char* file, int line, const char* function, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  LogV(level, file, line, function, format, args);
  va_end(args);
}

void LogFailure(const char* file, int line, const char* function, const char* expression, long code) noexcept {
  Log(LogLevel::Error, file, line, function, "%s failed: 0x%08lX", expression ? expression : "",
      static_cast<unsigned long>(code) & 0xFFFFFFFFul);
}

}  // namespace vd::trace
