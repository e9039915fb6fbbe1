#include "local_name.h"

#include <algorithm>
#include <array>

#include "platform/text.h"

namespace vd::localname {
namespace {

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool Reserved(char16_t c) {
  constexpr std::u16string_view kReserved = u"\\/:*?\"<>|";
  return c < 0x20 || c == 0x7F || kReserved.find(c) != std::u16string_view::npos;
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 (the superscript digits too) name
// devices whatever extension follows and whatever spaces precede it.
bool IsDeviceName(std::u16string_view name) {
  std::u16string_view stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  std::u16string upper;
  for (char16_t c : stem) upper += Upper(c);
  static constexpr std::array<std::u16string_view, 4> kPlain = {u"CON", u"PRN", u"AUX", u"NUL"};
  if (std::find(kPlain.begin(), kPlain.end(), upper) != kPlain.end()) return true;
  if (upper.size() != 4 || (upper.compare(0, 3, u"COM") != 0 && upper.compare(0, 3, u"LPT") != 0)) return false;
  const char16_t digit = upper[3];
  return (digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
}

void CutTrailingDotsAndSpaces(std::u16string& name) {
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
}

// Cuts to the length, keeping a short extension, never inside a surrogate pair.
void Shorten(std::u16string& name, std::size_t maxUnits) {
  const std::size_t dot = name.rfind(u'.');
  std::u16string extension;
  if (dot != std::u16string::npos && dot > 0 && name.size() - dot <= 32) extension = name.substr(dot);
  std::size_t keep = maxUnits - extension.size();
  if (keep > 0 && IsHigh(name[keep - 1])) --keep;
  std::u16string stem = name.substr(0, keep);
  CutTrailingDotsAndSpaces(stem);
  name = stem + extension;
}

void Note(LocalName& out, const char* reason) {
  if (out.reason == nullptr) out.reason = reason;
}

}  // namespace

bool SurvivesAnsiCodePage(std::u16string_view text) { return platform::AnsiToWide(platform::WideToAnsi(text)) == text; }

LocalName MakeLocalName(std::u16string_view cloudName, const RoundTrip& survives, std::size_t maxUnits) {
  // Room for at least a short stem and an extension.
  if (maxUnits < 40 || maxUnits > kMaxNameUnits) maxUnits = kMaxNameUnits;
  LocalName out;
  std::u16string name;
  name.reserve(cloudName.size());
  for (std::size_t i = 0; i < cloudName.size(); ++i) {
    const char16_t c = cloudName[i];
    std::size_t units = 1;
    if (IsHigh(c) && i + 1 < cloudName.size() && IsLow(cloudName[i + 1])) units = 2;
    const std::u16string_view piece = cloudName.substr(i, units);
    if (Reserved(c)) {
      Note(out, "separator, reserved or control character");
      name += u'_';
    } else if ((units == 1 && (IsHigh(c) || IsLow(c))) || !survives(piece)) {
      Note(out, "character the code page cannot hold");
      name += u'_';
    } else {
      name.append(piece);
    }
    i += units - 1;
  }
  if (name == u"." || name == u"..") {
    out.reason = "names the folder itself or its parent";
    return out;
  }
  const std::size_t before = name.size();
  CutTrailingDotsAndSpaces(name);
  if (name.size() != before) Note(out, "trailing dot or space");
  if (name.empty()) {
    out.reason = cloudName.empty() ? "empty name" : "nothing left of the name";
    return out;
  }
  if (IsDeviceName(name)) {
    Note(out, "device name");
    name.insert(name.begin(), u'_');
  }
  if (name.size() > maxUnits) {
    Note(out, "longer than a file name may be");
    Shorten(name, maxUnits);
    if (name.empty()) {
      out.reason = "nothing left of the name";  // only spaces before the cut
      return out;
    }
  }
  out.verdict = out.reason == nullptr ? Verdict::Kept : Verdict::Changed;
  out.name = std::move(name);
  return out;
}

std::optional<std::u16string> JoinUnder(std::u16string_view base, std::u16string_view cloudName, char16_t separator,
                                        const RoundTrip& survives) {
  if (base.empty()) return std::nullopt;
  LocalName local = MakeLocalName(cloudName, survives);
  if (local.verdict == Verdict::Refused) return std::nullopt;
  std::u16string path(base);
  if (path.back() != u'\\' && path.back() != u'/') path += separator;
  return path + local.name;
}

std::optional<std::string> MakeLocalNameAnsi(std::string_view cloudName, std::size_t maxUnits) {
  LocalName local = MakeLocalName(platform::AnsiToWide(cloudName), SurvivesAnsiCodePage, maxUnits);
  if (local.verdict == Verdict::Refused) return std::nullopt;
  return platform::WideToAnsi(local.name);
}

std::optional<std::string> JoinUnderAnsi(std::string_view base, std::string_view cloudName, char separator,
                                         std::size_t maxUnits) {
  if (base.empty()) return std::nullopt;
  std::optional<std::string> name = MakeLocalNameAnsi(cloudName, maxUnits);
  if (!name) return std::nullopt;
  std::string path(base);
  if (path.back() != '\\' && path.back() != '/') path += separator;
  return path + *name;
}

std::optional<std::string> JoinUnderAnsiWithinPath(std::string_view base, std::string_view cloudName, char separator,
                                                   std::size_t room) {
  // Shortened to what the path leaves, but never below what a name needs to
  // stay recognisable: a base that deep refuses the name instead.
  constexpr std::size_t kShortestName = 40;
  const std::size_t used = platform::AnsiToWide(base).size() + 1 + room;
  const std::size_t byPath = used < kMaxAnsiPathUnits ? kMaxAnsiPathUnits - used : 0;
  const std::size_t units = std::min(kMaxNameUnits - room, std::max(byPath, kShortestName));
  std::optional<std::string> path = JoinUnderAnsi(base, cloudName, separator, units);
  if (path && platform::AnsiToWide(*path).size() + room > kMaxAnsiPathUnits) return std::nullopt;
  return path;
}

}  // namespace vd::localname
