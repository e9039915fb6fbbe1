#pragma once
// Registry values: the product reads sign-in data, install paths and writes
// its registration through this interface only.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace platform {

enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine };

struct RegValue {
  enum class Type { String, Dword };
  Type type = Type::String;
  std::u16string text;   // Type::String, up to the first NUL
  std::string raw;       // Type::String: the stored bytes, unchecked (may be odd or unterminated)
  uint32_t number = 0;   // Type::Dword
};

// Key paths use "\" between parts and compare without regard to ASCII case.
// An empty value name is the key's default value.
class IRegistry {
 public:
  virtual ~IRegistry() = default;
  virtual bool KeyExists(RegRoot root, std::u16string_view path) = 0;
  virtual Result CreateKey(RegRoot root, std::u16string_view path) = 0;
  // Deletes the key only when it has neither subkeys nor values.
  virtual Result DeleteKeyIfEmpty(RegRoot root, std::u16string_view path) = 0;
  // Deletes the key with everything below it.
  virtual Result DeleteTree(RegRoot root, std::u16string_view path) = 0;
  virtual std::optional<RegValue> GetValue(RegRoot root, std::u16string_view path,
                                           std::u16string_view name) = 0;
  virtual Result SetString(RegRoot root, std::u16string_view path, std::u16string_view name,
                           std::u16string_view value) = 0;
  // Stores `bytes` as a REG_SZ exactly as given: lets callers (and tests)
  // hold values other writers could leave, odd-sized or unterminated.
  virtual Result SetRawString(RegRoot root, std::u16string_view path, std::u16string_view name,
                              std::string_view bytes) = 0;
  virtual Result SetDword(RegRoot root, std::u16string_view path, std::u16string_view name,
                          uint32_t value) = 0;
  virtual Result DeleteValue(RegRoot root, std::u16string_view path, std::u16string_view name) = 0;
  virtual std::vector<std::u16string> SubKeys(RegRoot root, std::u16string_view path) = 0;
  virtual std::vector<std::u16string> ValueNames(RegRoot root, std::u16string_view path) = 0;

  // Convenience readers over GetValue.
  std::optional<std::u16string> GetString(RegRoot root, std::u16string_view path,
                                          std::u16string_view name);
  std::optional<uint32_t> GetDword(RegRoot root, std::u16string_view path,
                                   std::u16string_view name);
};

// The machine's registry (Windows), or the process's in-memory one (POSIX).
IRegistry& SystemRegistry();

}  // namespace platform
