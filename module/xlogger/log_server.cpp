#include "log_server.h"

#include <ctime>

#include "platform/clock.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "platform/text.h"

namespace XLOGGER {
namespace {

std::tm LocalTime(uint64_t unix_ms) { return platform::LocalTime(static_cast<int64_t>(unix_ms / 1000)); }

bool IsAbsolute(std::u16string_view p) {
  return (!p.empty() && (p[0] == u'/' || p[0] == u'\\')) || (p.size() > 1 && p[1] == u':');
}

std::u16string Folder(std::u16string_view path) {
  size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, cut));
}

std::u16string BaseName(std::u16string_view path) {
  size_t cut = path.find_last_of(u"\\/");
  return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

}  // namespace

std::string FormatRecordLine(const Record& record, std::u16string_view log_format) {
  Stamp stamp;
  stamp.local = LocalTime(record.unix_ms);
  stamp.millis = static_cast<int>(record.unix_ms % 1000);
  stamp.pid = record.pid;
  stamp.tid = record.tid;
  std::string line = FormatPrefix(log_format, stamp);
  line += ' ';
  line += static_cast<char>('0' + (record.level & 7));
  line += ' ';
  if (record.kind == RecordKind::Text) {
    line += record.payload;
  } else {
    // Binary records carry their caption, a NUL, then the bytes.
    static const char* hex = "0123456789ABCDEF";
    size_t nul = record.payload.find('\0');
    std::string_view caption(record.payload.data(), nul == std::string::npos ? 0 : nul);
    std::string_view bytes = nul == std::string::npos ? std::string_view(record.payload)
                                                      : std::string_view(record.payload).substr(nul + 1);
    line.append(caption);
    line += " [" + std::to_string(bytes.size()) + " bytes] ";
    for (unsigned char c : bytes) {
      line += hex[c >> 4];
      line += hex[c & 15];
    }
  }
  // One record is one line, whatever it contained.
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

std::shared_ptr<CLocalLogServer> CLocalLogServer::Open(std::u16string_view section_name, std::u16string_view folder,
                                                       const LogConfig& config, std::string* error) {
  auto channel = OpenRecordChannel(section_name, kSectionSize, error);
  if (!channel) return nullptr;
  std::u16string name = ExpandFileName(config.file_name, LocalTime(static_cast<uint64_t>(platform::UnixTimeMs())));
  std::u16string path = IsAbsolute(name) ? name : platform::JoinPath(folder, name);
  platform::SystemFileSystem().CreateDirectories(Folder(path));
  return std::shared_ptr<CLocalLogServer>(new CLocalLogServer(std::move(channel), std::move(path), config));
}

CLocalLogServer::CLocalLogServer(std::unique_ptr<IRecordChannel> channel, std::u16string path, LogConfig config)
    : channel_(std::move(channel)), buffer_(*channel_), path_(std::move(path)), config_(std::move(config)) {
  buffer_.Initialize();
  if (auto size = platform::SystemFileSystem().FileSize(path_)) written_ = *size;
  RemoveOldFiles();
  thread_ = std::thread([this] { Run(); });
}

CLocalLogServer::~CLocalLogServer() {
  stop_ = true;
  channel_->SignalReader();
  thread_.join();
  WriteBatch();
}

void CLocalLogServer::Flush() { WriteBatch(); }

void CLocalLogServer::Run() {
  while (!stop_) {
    channel_->WaitForRecords(1000);
    // A batch that fails (no memory for its text) is lost; the thread is not.
    platform::NoThrow("CLocalLogServer::Run", [this] { WriteBatch(); });
  }
}

std::u16string CLocalLogServer::NextPath() const {
  if (part_ == 0) return path_;
  size_t dot = path_.rfind(u'.');
  size_t sep = path_.find_last_of(u"\\/");
  std::u16string suffix = u"." + platform::Utf8ToWide(std::to_string(part_));
  if (dot == std::u16string::npos || (sep != std::u16string::npos && dot < sep)) return path_ + suffix;
  return path_.substr(0, dot) + suffix + path_.substr(dot);
}

void CLocalLogServer::WriteBatch() {
  std::lock_guard lock(write_mutex_);
  size_t damaged = 0;
  std::vector<Record> records = buffer_.Drain(5000, &damaged);
  if (records.empty() && damaged == 0) return;
  std::string text;
  for (auto& r : records) text += FormatRecordLine(r, config_.log_format) + "\r\n";
  if (damaged) text += "xlogger: damaged records skipped\r\n";
  const uint64_t limit = static_cast<uint64_t>(config_.file_size_mb) << 20;
  if (written_ > 0 && written_ + text.size() > limit) {
    ++part_;
    written_ = 0;
  }
  if (platform::SystemFileSystem().AppendFile(NextPath(), text) == platform::kOk) written_ += text.size();
}

void CLocalLogServer::RemoveOldFiles() {
  // Only files of this logger: same name up to the date part, ".txt".
  std::u16string base = BaseName(path_);
  std::u16string stem = base.substr(0, base.find_first_of(u" ."));
  if (stem.empty()) return;
  std::vector<platform::DirEntry> entries;
  if (platform::SystemFileSystem().List(Folder(path_), entries) != platform::kOk) return;
  const int64_t cutoff = static_cast<int64_t>(std::time(nullptr)) - int64_t{config_.backup_days} * 86400;
  for (auto& e : entries) {
    if (e.is_directory || e.modified_unix >= cutoff || e.name.rfind(stem, 0) != 0) continue;
    if (e.name.size() < 4 || !platform::EqualsNoCase(e.name.substr(e.name.size() - 4), u".txt")) continue;
    platform::SystemFileSystem().RemoveFile(platform::JoinPath(Folder(path_), e.name));
  }
}

}  // namespace XLOGGER
