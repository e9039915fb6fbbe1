#pragma once
// The diagnostic logger class exported by the library, for its own scope
// traces and for other modules of the product.
#include <windows.h>

#ifdef VD_BUILDING_PANDREL
#define XLOGGER_API __declspec(dllexport)
#else
#define XLOGGER_API __declspec(dllimport)
#endif

namespace XLOGGER {

enum XLogLevel { XLL_TRACE = 0, XLL_DEBUG = 1, XLL_INFO = 2, XLL_WARN = 3, XLL_ERROR = 4 };

class CMemWriter;

class XLOGGER_API XLogger {
 public:
  XLogger();
  ~XLogger();
  XLogger(const XLogger&) = delete;
  // Shares the other logger's writer.
  XLogger& operator=(const XLogger& other);

  // (module path, logger name, level, configuration text). Nonzero when the
  // logger is open; 0 when already open returns 0 as well.
  int Open(const wchar_t* module_path, const wchar_t* name, int level, const wchar_t* config);
  // One text record; `length` < 0 takes the text up to its terminator.
  int Write(const wchar_t* name, XLogLevel level, const char* text, int length);
  // One binary record of at most 5092 bytes, with a caption.
  int Write2(const void* data, unsigned size, XLogLevel level, const char* caption, int length);
  void SetLevel(XLogLevel level);

 private:
  CMemWriter* m_writer;
};

}  // namespace XLOGGER
