#include "mem_writer.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"

namespace XLOGGER {
namespace {

std::u16string Cut(std::u16string_view s, size_t max) { return std::u16string(s.substr(0, std::min(s.size(), max))); }

std::u16string FolderOf(std::u16string_view path) {
  size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, cut));
}

bool ValidLevel(int level) { return level >= 0 && level <= 4; }

}  // namespace

void ReportLoggerError(const char* source, std::string_view message) {
  auto temp = platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Temp);
  if (!temp) return;
  std::string line = std::string(source) + ": " + std::string(message) + "\r\n";
  platform::SystemFileSystem().AppendFile(platform::JoinPath(*temp, u"XLgErrors.log"), line);
}

CMemWriter* CMemWriter::Open(int level, std::u16string_view module_path, std::u16string_view name,
                             std::u16string_view config) {
  static std::atomic<unsigned> counter{0};
  if (!ValidLevel(level)) return nullptr;
  auto parsed = ParseLogConfig(config);
  if (!parsed) {
    ReportLoggerError("..\\Logger\\Connection", "bad configuration text");
    return nullptr;
  }
  auto* w = new CMemWriter();
  w->m_pid = platform::CurrentProcessId();
  w->m_modulePath = Cut(module_path, 260);
  w->m_loggerName = Cut(name.empty() ? std::u16string_view(u"Default") : name, 260);
  w->m_config = Cut(config, 1024);
  w->m_level = level;
  unsigned n = counter++;
  w->m_fileId = platform::Utf8ToWide(std::to_string(n));
  w->m_sectionName = Cut(u"XLg" + platform::Utf8ToWide(std::to_string(w->m_pid) + "_" + std::to_string(n) + "_") +
                             w->m_loggerName,
                         260);
  // The log server is local: it lives in this process and owns the files.
  std::string error;
  std::u16string folder = FolderOf(w->m_modulePath);
  if (folder.empty()) folder = platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Temp).value_or(u".");
  w->m_server = CLocalLogServer::Open(w->m_sectionName, folder, *parsed, &error);
  if (w->m_server) w->m_channel = OpenRecordChannel(w->m_sectionName, kSectionSize, &error);
  if (!w->m_server || !w->m_channel) {
    ReportLoggerError("..\\Logger\\MemWriter", error);
    w->Release();
    return nullptr;
  }
  w->m_buffer = std::make_unique<CMemBuffer>(*w->m_channel);
  w->m_open = true;
  return w;
}

bool CMemWriter::Accepts(int level) const noexcept {
  return m_open && ValidLevel(level) && level >= m_level.load();
}

Record CMemWriter::NewRecord(RecordKind kind, int level) const {
  Record r;
  r.kind = kind;
  r.level = level;
  r.pid = m_pid;
  r.tid = platform::CurrentThreadId();
  r.unix_ms = static_cast<uint64_t>(platform::UnixTimeMs());
  return r;
}

int CMemWriter::Append(const Record& record) {
  switch (m_buffer->Append(record, kWriteWaitMs)) {
    case AppendResult::Ok:
      return 1;
    case AppendResult::Timeout:
      ReportLoggerError("..\\Logger\\MemBuffer", "Write: WAIT_TIMEOUT!!! Wait:" + std::to_string(kWriteWaitMs) +
                                                     " Time:" + std::to_string(platform::TickCountMs()) +
                                                     " ThreadId:" + std::to_string(platform::CurrentThreadId()));
      return 0;
    case AppendResult::Full:
      ReportLoggerError("..\\Logger\\MemBuffer", "Buffer is full!!!");
      return 0;
    case AppendResult::TooLarge:
      return 0;
  }
  return 0;
}

int CMemWriter::Write(std::u16string_view name, int level, std::string_view text) {
  if (!Accepts(level)) return 0;
  Record r = NewRecord(RecordKind::Text, level);
  r.name = Cut(name, 260);
  r.payload.assign(text.substr(0, std::min(text.size(), CMemBuffer::kMaxPayload)));
  return Append(r);
}

int CMemWriter::Write2(const void* data, size_t size, int level, std::string_view caption) {
  if (!Accepts(level) || (!data && size)) return 0;
  Record r = NewRecord(RecordKind::Binary, level);
  r.payload.assign(caption.substr(0, std::min<size_t>(caption.size(), 1024)));
  r.payload.push_back('\0');
  if (size) r.payload.append(static_cast<const char*>(data), std::min(size, kMaxBinaryRecord));
  return Append(r);
}

void CMemWriter::SetLevel(int level) noexcept {
  if (m_open && ValidLevel(level)) m_level = level;
}

void CMemWriter::Flush() {
  if (m_server) m_server->Flush();
}

const std::u16string& CMemWriter::FilePath() const {
  static const std::u16string none;
  return m_server ? m_server->FilePath() : none;
}

}  // namespace XLOGGER
