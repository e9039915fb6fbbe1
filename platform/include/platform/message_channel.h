#pragma once
// Copy-data records between processes: a record (a 64-bit code and some bytes)
// sent to a window found by its name, answered with an integer. On Windows
// this is WM_COPYDATA through SendMessageTimeout; on POSIX a local socket.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace platform {

using CopyDataHandler = std::function<intptr_t(uint64_t code, std::string_view bytes)>;

// A hidden window that receives copy-data records on a thread of its own and
// hands each to the handler; the handler's return value goes back to the sender.
class MessageWindow {
 public:
  virtual ~MessageWindow() = default;
  static std::unique_ptr<MessageWindow> Create(std::u16string_view name, CopyDataHandler handler,
                                               Result* error = nullptr);
};

// Sends one record and waits at most `timeout_ms` for the answer.
// kNoWindow when no window has that name, kTimeout when it did not answer.
Result SendCopyData(std::u16string_view window_name, uint64_t code, std::string_view bytes,
                    uint32_t timeout_ms, intptr_t* reply = nullptr);

bool WindowExists(std::u16string_view window_name);

// Texts as copy-data records carry them: UTF-16 little-endian with a zero
// unit, or 8-bit with a zero byte. Records come from other processes, so the
// decoders read nothing outside the payload and refuse what does not fit.
enum class RecordTextError { None, OddLength, MissingTerminator, EmbeddedNul, TooLong };
std::string EncodeWideRecordText(std::u16string_view text);
std::string EncodeNarrowRecordText(std::string_view text);
// `max_units` / `max_bytes` bound the text without its terminator.
RecordTextError DecodeWideRecordText(std::string_view payload, size_t max_units, std::u16string* out);
RecordTextError DecodeNarrowRecordText(std::string_view payload, size_t max_bytes, std::string* out);

}  // namespace platform
