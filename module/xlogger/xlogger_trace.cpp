#include "xlogger_trace.h"

#include <mutex>

#include "platform/clock.h"
#include "platform/files.h"
#include "trace.h"

namespace XLOGGER {
namespace {

class WriterTraceSink final : public vd::trace::ITraceSink {
 public:
  explicit WriterTraceSink(CMemWriter* writer) : writer_(writer) {}
  void OnTraceRecord(std::string_view record) override { writer_->Write(u"trace", 0, record); }

 private:
  CMemWriter* writer_;
};

}  // namespace

CMemWriter* OpenNamedLogger(std::u16string_view xlog_folder, std::u16string_view name, int level) {
  if (platform::SystemFileSystem().CreateDirectories(xlog_folder) != platform::kOk) {
    ReportLoggerError("..\\Logger\\XLogger2", "cannot create the log folder");
    return nullptr;
  }
  std::tm now = platform::LocalTime(platform::UnixTimeMs() / 1000);
  std::u16string folder(xlog_folder);
  if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') folder.push_back(platform::PathSeparator());
  return CMemWriter::Open(level, platform::ExecutablePath(), name, NamedLoggerConfig(folder, name, now));
}

CMemWriter* OpenProcessLogger(std::u16string_view xlog_folder) {
  static std::mutex mutex;
  static CMemWriter* writer = nullptr;  // lives as long as the process
  std::lock_guard lock(mutex);
  if (writer) return writer;
  writer = OpenNamedLogger(xlog_folder, kProcessLoggerName);
  if (writer) {
    static WriterTraceSink* sink = new WriterTraceSink(writer);
    vd::trace::SetTraceSink(sink);
  }
  return writer;
}

}  // namespace XLOGGER
