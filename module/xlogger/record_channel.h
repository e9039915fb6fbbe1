#pragma once
// The shared section between the loggers of all processes and the log
// server: a block of memory, the write lock every writer takes, and the
// event that wakes the server.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace XLOGGER {

inline constexpr size_t kSectionSize = 7686050;

class IRecordChannel {
 public:
  virtual ~IRecordChannel() = default;
  virtual uint8_t* Data() = 0;
  virtual size_t Size() const = 0;
  virtual bool Lock(uint32_t timeout_ms) = 0;
  virtual void Unlock() = 0;
  virtual void SignalReader() = 0;
  virtual bool WaitForRecords(uint32_t timeout_ms) = 0;
};

// Creates or opens the section `name` of `size` bytes with its objects
// "<name>_XLOGGER_WRITE_EVENT" (lock) and "<name>_XLOGGER_READ_EVENT"
// (auto-reset, initially set). On failure `error` says which call failed.
std::unique_ptr<IRecordChannel> OpenRecordChannel(std::u16string_view name, size_t size, std::string* error);

}  // namespace XLOGGER
