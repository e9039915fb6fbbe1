#pragma once
// The local log server: the other end of the shared section. It owns the
// files: drains records on a thread of its own, prefixes each line with the
// configured format, rolls over at the size limit and removes files older
// than the backup days.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "log_config.h"
#include "mem_buffer.h"
#include "record_channel.h"

namespace XLOGGER {

class CLocalLogServer {
 public:
  // Opens the section, lays out its header and starts draining into the file
  // named by `config` (relative names land in `folder`).
  static std::shared_ptr<CLocalLogServer> Open(std::u16string_view section_name, std::u16string_view folder,
                                               const LogConfig& config, std::string* error);
  ~CLocalLogServer();

  // Writes everything written so far; for tests and orderly shutdown.
  void Flush();
  const std::u16string& FilePath() const { return path_; }

 private:
  CLocalLogServer(std::unique_ptr<IRecordChannel> channel, std::u16string path, LogConfig config);
  void Run();
  void WriteBatch();
  void RemoveOldFiles();
  std::u16string NextPath() const;

  std::unique_ptr<IRecordChannel> channel_;
  CMemBuffer buffer_;
  std::u16string path_;
  LogConfig config_;
  int part_ = 0;
  uint64_t written_ = 0;
  std::mutex write_mutex_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Text of one record as it lands in the file, without the line break.
std::string FormatRecordLine(const Record& record, std::u16string_view log_format);

}  // namespace XLOGGER
