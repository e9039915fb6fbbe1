#pragma once
// INI profiles ("Config.ini", "NimbraSet.ini", "sdkconfig.ini", ...), with the
// semantics of the Windows profile API: a missing file, section or key gives
// the caller's default.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace platform {

class IProfile {
 public:
  virtual ~IProfile() = default;
  // Leading digits (after an optional sign) are the value; anything else gives 0,
  // a missing key gives `fallback`.
  virtual int GetInt(std::u16string_view file, std::u16string_view section,
                     std::u16string_view key, int fallback) = 0;
  // At most `max_chars - 1` characters come back, as the API's buffer would hold.
  virtual std::u16string GetString(std::u16string_view file, std::u16string_view section,
                                   std::u16string_view key, std::u16string_view fallback,
                                   std::size_t max_chars) = 0;
  virtual Result WriteString(std::u16string_view file, std::u16string_view section,
                             std::u16string_view key, std::u16string_view value) = 0;
};

IProfile& SystemProfile();

// The POSIX profile's reading of a file's text, exposed so it can be fuzzed
// without files: the value GetString and GetInt start from (nothing when the
// section or key is missing), and GetInt's reading of a value.
std::optional<std::string> FindProfileValue(std::string_view text, std::u16string_view section,
                                            std::u16string_view key);
int ProfileIntValue(std::string_view value);

}  // namespace platform
