#pragma once
// The service library's process-wide log, as the product uses it.
#include "service/service_api.h"

// Levels, lowest first; Init's level drops every line below it.
enum CLogLevel { kLogTrace = 0, kLogDebug = 1, kLogInfo = 2, kLogWarn = 3, kLogError = 4 };

// One line is Begin(), the Set* fields, one level call with a printf format,
// then End(). The pending fields belong to the calling thread, so threads never
// mix each other's fields. No method throws.
class CLog {
 public:
  VD_SERVICE_API static CLog* Instance();

  // logFile: full path of the log file; its folder must exist. Rotates when
  // the file would pass maxFileMiB, keeping keepFiles older files as
  // "<logFile>.1" (newest) .. "<logFile>.<keepFiles>". Lines at flushLevel or
  // above reach the disk at once. May be called again to switch files.
  // 0 on success, -1 when the file cannot be opened.
  virtual int Init(const char* logFile, int level, int keepFiles, int maxFileMiB,
                   int flushLevel) = 0;
  virtual void Begin() = 0;
  virtual void SetSourceFileName(const char* file) = 0;
  virtual void SetLine(int line) = 0;
  virtual void SetFunctionName(const char* function) = 0;
  virtual void Trace(const char* format, ...) = 0;
  virtual void Debug(const char* format, ...) = 0;
  virtual void Info(const char* format, ...) = 0;
  virtual void Warn(const char* format, ...) = 0;
  virtual void Error(const char* format, ...) = 0;
  virtual void End() = 0;
  // Terminates every other process whose executable file name is exeName
  // (without folder; case-insensitive on Windows). Returns how many it ended.
  virtual int KillAll(const char* exeName) = 0;

 protected:
  ~CLog() = default;
};
