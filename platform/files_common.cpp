#include "platform/files.h"

namespace platform {

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string out(folder);
  const char16_t sep = PathSeparator();
  if (!out.empty() && out.back() != sep && out.back() != u'/') out.push_back(sep);
  out.append(name);
  return out;
}

}  // namespace platform
