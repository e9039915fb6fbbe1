// The local-name guard on arbitrary UTF-16 text: whatever the name, the
// joined path is its base, one separator and one safe component.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "local_name.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool Reserved(char16_t c) {
  return c < 0x20 || c == 0x7F || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos;
}

// Every other 64th unit cannot pass the code page: the replacement path runs too.
bool Sometimes(std::u16string_view piece) { return (piece[0] & 0x3F) != 0x3F; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string name(size / 2, u'\0');
  for (std::size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  using namespace vd::localname;
  const LocalName local = MakeLocalName(name, Sometimes);
  const std::u16string base = u"C:\\base";
  const auto joined = JoinUnder(base, name, u'\\', Sometimes);
  if (local.verdict == Verdict::Refused) {
    Require(local.name.empty() && local.reason != nullptr && !joined);
    return 0;
  }
  const std::u16string& n = local.name;
  Require(!n.empty() && n.size() <= kMaxNameUnits);
  Require(n != u"." && n != u"..");
  Require(n.back() != u'.' && n.back() != u' ');
  for (std::size_t i = 0; i < n.size(); ++i) {
    Require(!Reserved(n[i]));
    if (n[i] >= 0xD800 && n[i] <= 0xDBFF) Require(i + 1 < n.size() && n[i + 1] >= 0xDC00 && n[i + 1] <= 0xDFFF);
    if (n[i] >= 0xDC00 && n[i] <= 0xDFFF) Require(i > 0 && n[i - 1] >= 0xD800 && n[i - 1] <= 0xDBFF);
  }
  Require((local.verdict == Verdict::Kept) == (n == name));
  const LocalName again = MakeLocalName(n, Sometimes);
  Require(again.verdict == Verdict::Kept && again.name == n);
  Require(joined && *joined == base + u"\\" + n);
  return 0;
}
