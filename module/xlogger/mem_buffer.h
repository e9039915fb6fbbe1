#pragma once
// Records in the shared section. The section starts with a header; records
// follow back to back until the server drains them all at once:
//   header: magic "XLG1", capacity, end offset, dropped count
//   record: size, kind, level, pid, tid, unix milliseconds, name length,
//           name (UTF-16), payload; padded to 8 bytes.
// The reader trusts nothing it finds there: another process may have
// written it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "record_channel.h"

namespace XLOGGER {

enum class RecordKind : uint16_t { Text = 1, Binary = 2 };

struct Record {
  RecordKind kind = RecordKind::Text;
  int level = 0;
  uint32_t pid = 0;
  uint32_t tid = 0;
  uint64_t unix_ms = 0;
  std::u16string name;
  std::string payload;
};

enum class AppendResult { Ok, Timeout, Full, TooLarge };

class CMemBuffer {
 public:
  static constexpr uint32_t kMagic = 0x31474C58;  // "XLG1"
  static constexpr size_t kHeaderSize = 64;
  static constexpr size_t kMaxPayload = 1u << 20;

  explicit CMemBuffer(IRecordChannel& channel) : channel_(channel) {}

  // Server side: lays out an empty header unless a valid one is there.
  void Initialize();
  AppendResult Append(const Record& record, uint32_t wait_ms);
  // Takes every record out, leaving the buffer empty. Records that do not
  // parse end the batch; their count goes to `damaged`.
  std::vector<Record> Drain(uint32_t wait_ms, size_t* damaged = nullptr);
  uint32_t Dropped();

  static std::string Encode(const Record& record);
  // Parses a drained block; stops at the first record that does not fit.
  static std::vector<Record> Decode(std::string_view bytes, size_t* damaged);

 private:
  IRecordChannel& channel_;
};

}  // namespace XLOGGER
