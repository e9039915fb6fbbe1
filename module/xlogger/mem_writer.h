#pragma once
// One open logger: the connection to the log server and the writing side
// of the shared section. Shared by every XLogger that was assigned from
// the one that opened it, hence the reference count.
#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "log_server.h"
#include "mem_buffer.h"
#include "record_channel.h"

namespace XLOGGER {

inline constexpr size_t kMaxBinaryRecord = 5092;
inline constexpr uint32_t kWriteWaitMs = 1500;

class CMemWriter {
 public:
  // Asks the log server for a file and a section and opens the section.
  // Null on failure; the reason goes to the logger's own error file.
  static CMemWriter* Open(int level, std::u16string_view module_path, std::u16string_view name,
                          std::u16string_view config);

  void AddRef() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // 1 when the record went into the section, 0 when it was dropped.
  int Write(std::u16string_view name, int level, std::string_view text);
  int Write2(const void* data, size_t size, int level, std::string_view caption);
  void SetLevel(int level) noexcept;
  int Level() const noexcept { return m_level.load(); }
  void Flush();  // for tests and shutdown: the server writes what it has

  const std::u16string& SectionName() const { return m_sectionName; }
  const std::u16string& FilePath() const;

 private:
  CMemWriter() = default;
  ~CMemWriter() = default;
  bool Accepts(int level) const noexcept;
  Record NewRecord(RecordKind kind, int level) const;
  int Append(const Record& record);

  std::atomic<int> refs_{1};
  std::u16string m_fileId;
  std::u16string m_sectionName;
  std::u16string m_modulePath;
  std::u16string m_loggerName;
  std::u16string m_config;
  std::shared_ptr<CLocalLogServer> m_server;
  std::unique_ptr<IRecordChannel> m_channel;
  std::unique_ptr<CMemBuffer> m_buffer;
  std::atomic<int> m_level{0};
  bool m_open = false;
  uint32_t m_pid = 0;
};

// Errors of the logger itself, appended to "XLgErrors.log" in the temporary folder.
void ReportLoggerError(const char* source, std::string_view message);

}  // namespace XLOGGER
