#include "platform/message_channel.h"

namespace platform {

std::string EncodeWideRecordText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2 + 2);
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  out.append(2, '\0');
  return out;
}

std::string EncodeNarrowRecordText(std::string_view text) {
  std::string out(text);
  out.push_back('\0');
  return out;
}

RecordTextError DecodeWideRecordText(std::string_view payload, size_t max_units, std::u16string* out) {
  if (payload.size() % 2 != 0) return RecordTextError::OddLength;
  if (payload.size() < 2) return RecordTextError::MissingTerminator;
  const size_t units = payload.size() / 2 - 1;
  if (units > max_units) return RecordTextError::TooLong;
  auto unit_at = [&](size_t i) {
    return static_cast<char16_t>(static_cast<unsigned char>(payload[2 * i]) |
                                 (static_cast<unsigned char>(payload[2 * i + 1]) << 8));
  };
  if (unit_at(units) != 0) return RecordTextError::MissingTerminator;
  out->clear();
  out->reserve(units);
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = unit_at(i);
    if (c == 0) return RecordTextError::EmbeddedNul;
    out->push_back(c);
  }
  return RecordTextError::None;
}

RecordTextError DecodeNarrowRecordText(std::string_view payload, size_t max_bytes, std::string* out) {
  if (payload.empty() || payload.back() != '\0') return RecordTextError::MissingTerminator;
  const std::string_view text = payload.substr(0, payload.size() - 1);
  if (text.find('\0') != std::string_view::npos) return RecordTextError::EmbeddedNul;
  if (text.size() > max_bytes) return RecordTextError::TooLong;
  out->assign(text);
  return RecordTextError::None;
}

}  // namespace platform
