#pragma once
// Registration scripts in the usual .rgs form:
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {GUID} = s 'Description'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// parsed into a tree first (so a malformed script writes nothing), then
// applied to a registry. Unregistration removes what registration wrote:
// ForceRemove keys with all below them, plain keys once nothing else is left
// in them, values listed under NoRemove keys; NoRemove keys stay.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace vd::registrar {

struct RgsValue {
  std::u16string name;  // empty: the key's default value
  platform::RegValue value;
};

enum class KeyFlag { Normal, ForceRemove, NoRemove, Delete };

struct RgsKey {
  std::u16string name;
  KeyFlag flag = KeyFlag::Normal;
  std::optional<platform::RegValue> default_value;
  std::vector<RgsValue> values;
  std::vector<RgsKey> children;
};

struct RgsRoot {
  platform::RegRoot root = platform::RegRoot::ClassesRoot;
  std::vector<RgsKey> keys;
};

struct RgsScript {
  std::vector<RgsRoot> roots;
};

// %NAME% in names and values is replaced from this map; "%%" is a literal "%".
using Replacements = std::map<std::u16string, std::u16string>;

struct ParseError {
  int line = 0;
  std::string message;  // UTF-8, for logs and test output
};

// The script, or the first error with its line.
std::optional<RgsScript> Parse(std::u16string_view text, const Replacements& replacements, ParseError* error);

// Where a root lands: per-user registration sends HKCR to
// HKCU\Software\Classes and HKLM to HKCU.
struct RootMapping {
  bool per_user = false;
};

// 0 or the first registry error.
platform::Result Register(platform::IRegistry& registry, const RgsScript& script, RootMapping mapping = {});
platform::Result Unregister(platform::IRegistry& registry, const RgsScript& script, RootMapping mapping = {});

}  // namespace vd::registrar
