#pragma once
// Cloud names become local file and folder names (thumbnails, downloads,
// opened files, the temp folder). The service is not trusted: a name may be
// "..", hold separators, name a device, end in a dot, be too long or carry
// characters the ANSI code page cannot hold. Every such name goes through
// here and comes out as a safe name for one path component, or refused with
// a reason; a joined path never leaves its base folder.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vd::localname {

// Longest name of one component, in UTF-16 units.
inline constexpr std::size_t kMaxNameUnits = 255;
// The longest path the ANSI file calls take (MAX_PATH less its terminator).
inline constexpr std::size_t kMaxAnsiPathUnits = 259;

enum class Verdict {
  Kept,     // the name as it came
  Changed,  // characters replaced, trailing dots or spaces cut, a device name escaped, shortened
  Refused,  // empty, "." or "..", or nothing left
};

struct LocalName {
  Verdict verdict = Verdict::Refused;
  std::u16string name;         // the component to use; empty when refused
  const char* reason = nullptr;  // the first rule that applied; null when kept
};

// Whether a piece of text survives the round trip through the 8-bit code
// page the product hands paths to the SDK and the caches in.
using RoundTrip = std::function<bool(std::u16string_view)>;
bool SurvivesAnsiCodePage(std::u16string_view text);

// `maxUnits` shortens further for a caller that adds to the name later (a
// download's " (1)" and ".tmp"); at least 40, at most kMaxNameUnits.
LocalName MakeLocalName(std::u16string_view cloudName, const RoundTrip& survives = SurvivesAnsiCodePage,
                        std::size_t maxUnits = kMaxNameUnits);

// base + separator + the guarded name; nothing when the name is refused or
// the base is empty. The result lies directly below base.
std::optional<std::u16string> JoinUnder(std::u16string_view base, std::u16string_view cloudName,
                                        char16_t separator = u'\\',
                                        const RoundTrip& survives = SurvivesAnsiCodePage);

// The same for 8-bit names and paths in the ANSI code page.
std::optional<std::string> MakeLocalNameAnsi(std::string_view cloudName, std::size_t maxUnits = kMaxNameUnits);
std::optional<std::string> JoinUnderAnsi(std::string_view base, std::string_view cloudName, char separator,
                                         std::size_t maxUnits = kMaxNameUnits);
// The same, the name shortened so that the whole path with `room` more units
// (suffixes the caller adds later) still fits kMaxAnsiPathUnits; nothing when
// the name is refused or the base leaves no room for a recognisable name.
std::optional<std::string> JoinUnderAnsiWithinPath(std::string_view base, std::string_view cloudName, char separator,
                                                   std::size_t room);

}  // namespace vd::localname
