#include "transfer_text.h"

#include <cstdarg>
#include <cstdio>

#include "platform/text.h"
#include "string_table.h"

namespace vdtransfer {
namespace {

std::string VFormat(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char small[256];
  const int n = std::vsnprintf(small, sizeof small, format, args);
  std::string out;
  if (n < 0) {
    va_end(again);
    return out;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(n));
  } else {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return out;
}

}  // namespace

std::string Sprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = VFormat(format, args);
  va_end(args);
  return out;
}

std::string SprintfTable(int stringId, ...) {
  // The table's views are NUL-terminated literals.
  const std::string_view format = vd::resources::LoadText(stringId);
  if (format.empty()) return {};
  va_list args;
  va_start(args, stringId);
  std::string out = VFormat(format.data(), args);
  va_end(args);
  return out;
}

std::u16string TableText(int stringId) { return platform::Utf8ToUtf16(vd::resources::LoadText(stringId)); }

std::u16string Wide(std::string_view utf8) { return platform::Utf8ToUtf16(utf8); }

}  // namespace vdtransfer
