#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "log_impl.h"
#include "os.h"

namespace vd::service {
namespace {

constexpr const char* kLevelNames[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR"};

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::string BaseName(const char* path) {
  if (!path) return {};
  std::string s(path);
  const auto cut = s.find_last_of("/\\");
  return cut == std::string::npos ? s : s.substr(cut + 1);
}

std::string FormatV(const char* format, va_list args) {
  if (!format) return {};
  char small[512];
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  if (n < 0) {
    va_end(again);
    return "(bad log format)";
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(again);
    return std::string(small, static_cast<size_t>(n));
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, again);
  va_end(again);
  big.resize(static_cast<size_t>(n));
  return big;
}

// The log file and its older generations "<path>.1" .. "<path>.<keep>".
class RotatingFile {
 public:
  bool Open(const std::string& path, int keep, long long maxBytes) {
    file_.reset();
    path_ = path;
    keep_ = keep < 0 ? 0 : keep;
    maxBytes_ = maxBytes < 4096 ? 4096 : maxBytes;
    return Reopen("ab");
  }

  void Write(const std::string& line, bool flush) {
    if (!file_) return;
    if (size_ > 0 && size_ + static_cast<long long>(line.size()) > maxBytes_) Rotate();
    if (!file_) return;
    if (std::fwrite(line.data(), 1, line.size(), file_.get()) == line.size()) size_ += static_cast<long long>(line.size());
    if (flush) std::fflush(file_.get());
  }

  bool IsOpen() const { return file_ != nullptr; }

 private:
  std::string Generation(int n) const { return path_ + "." + std::to_string(n); }

  bool Reopen(const char* mode) {
    file_.reset(std::fopen(path_.c_str(), mode));
    if (!file_) return false;
    std::fseek(file_.get(), 0, SEEK_END);
    size_ = std::ftell(file_.get());
    if (size_ < 0) size_ = 0;
    return true;
  }

  void Rotate() {
    file_.reset();
    if (keep_ == 0) {
      Reopen("wb");
      return;
    }
    std::remove(Generation(keep_).c_str());
    for (int n = keep_ - 1; n >= 1; --n) std::rename(Generation(n).c_str(), Generation(n + 1).c_str());
    std::rename(path_.c_str(), Generation(1).c_str());
    Reopen("wb");
  }

  UniqueFile file_;
  std::string path_;
  int keep_ = 0;
  long long maxBytes_ = 0;
  long long size_ = 0;
};

struct PendingLine {
  bool open = false;
  bool hasMessage = false;
  int level = 0;
  std::string file;
  int line = 0;
  std::string function;
  std::string message;
};

thread_local PendingLine t_pending;

// Each level call formats its arguments into the pending line.
#define VA_FORWARD(level)             \
  do {                                \
    va_list args;                     \
    va_start(args, format);           \
    Record(level, format, args);      \
    va_end(args);                     \
  } while (0)

class Log final : public CLog {
 public:
  int Init(const char* logFile, int level, int keepFiles, int maxFileMiB, int flushLevel) override {
    try {
      if (!logFile || !*logFile) return -1;
      std::lock_guard lock(mutex_);
      level_ = level;
      flushLevel_ = flushLevel;
      const long long maxBytes = static_cast<long long>(maxFileMiB > 0 ? maxFileMiB : 1) << 20;
      return file_.Open(logFile, keepFiles, maxBytes) ? 0 : -1;
    } catch (...) {
      return -1;
    }
  }

  void Begin() override {
    t_pending.open = true;
    t_pending.hasMessage = false;
    t_pending.file.clear();
    t_pending.line = 0;
    t_pending.function.clear();
    t_pending.message.clear();
  }
  void SetSourceFileName(const char* file) override { Guard([&] { t_pending.file = BaseName(file); }); }
  void SetLine(int line) override { t_pending.line = line; }
  void SetFunctionName(const char* function) override { Guard([&] { t_pending.function = function ? function : ""; }); }

  void Trace(const char* format, ...) override { VA_FORWARD(kLogTrace); }
  void Debug(const char* format, ...) override { VA_FORWARD(kLogDebug); }
  void Info(const char* format, ...) override { VA_FORWARD(kLogInfo); }
  void Warn(const char* format, ...) override { VA_FORWARD(kLogWarn); }
  void Error(const char* format, ...) override { VA_FORWARD(kLogError); }

  void End() override {
    if (t_pending.hasMessage) Guard([&] {
        Emit(t_pending.level, t_pending.file, t_pending.line, t_pending.function, t_pending.message);
      });
    t_pending.open = false;
    t_pending.hasMessage = false;
  }

  int KillAll(const char* exeName) override {
    try {
      return exeName && *exeName ? KillProcessesNamed(exeName) : 0;
    } catch (...) {
      return 0;
    }
  }

  bool Enabled(int level) {
    std::lock_guard lock(mutex_);
    return file_.IsOpen() && level >= level_;
  }

  // One whole line per write under the lock, so lines of threads never mix.
  void Emit(int level, const std::string& file, int line, const std::string& function, const std::string& message) {
    if (!Enabled(level)) return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const int millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    const std::tm tm = LocalTime(seconds);
    char head[96];
    std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d %u %u %s ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis, ProcessId(), ThreadId(),
                  kLevelNames[level < 0 ? 0 : level > 4 ? 4 : level]);
    std::string text = head;
    text += file.empty() ? "-" : file;
    text += ':';
    text += std::to_string(line);
    text += ' ';
    text += function.empty() ? "-" : function;
    text += ' ';
    text += message;
    text += '\n';
    std::lock_guard lock(mutex_);
    file_.Write(text, level >= flushLevel_);
  }

 private:
  template <class F>
  static void Guard(F&& f) noexcept {
    try {
      f();
    } catch (...) {
    }
  }

  // A level call outside Begin..End is a line of its own.
  void Record(int level, const char* format, va_list args) noexcept {
    try {
      if (!Enabled(level)) return;
      std::string message = FormatV(format, args);
      if (!t_pending.open) {
        Emit(level, {}, 0, {}, message);
        return;
      }
      t_pending.level = level;
      t_pending.message = std::move(message);
      t_pending.hasMessage = true;
    } catch (...) {
    }
  }

  std::mutex mutex_;
  RotatingFile file_;
  int level_ = kLogInfo;
  int flushLevel_ = kLogInfo;
};

#undef VA_FORWARD

Log& TheLog() {
  // Never destroyed: threads may still log while the process unwinds.
  static Log* log = new Log;
  return *log;
}

}  // namespace

void WriteLogLine(int level, const char* file, int line, const char* function, const char* format, ...) {
  try {
    Log& log = TheLog();
    if (!log.Enabled(level)) return;
    va_list args;
    va_start(args, format);
    std::string message = FormatV(format, args);
    va_end(args);
    log.Emit(level, BaseName(file), line, function ? function : "", message);
  } catch (...) {
  }
}

}  // namespace vd::service

CLog* CLog::Instance() { return &vd::service::TheLog(); }
