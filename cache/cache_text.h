#pragma once
// Decimal texts as the service and the listing records carry them.
#include <cstdint>
#include <string_view>

namespace vdcache {

// Leading blanks, an optional sign, then digits; anything else ends the
// number and text without digits gives 0. Overflow saturates.
inline int64_t ParseInt64(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint64_t value = 0;
  constexpr uint64_t kLimit = static_cast<uint64_t>(INT64_MAX);
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > kLimit) return negative ? INT64_MIN : INT64_MAX;
  }
  return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

}  // namespace vdcache
