#include <windows.h>

#include <cstring>

#include "platform/registry.h"
#include "platform/win32/unique.h"

namespace platform {
namespace {

using win32::unique_hkey;
using win32::W;

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
  }
  return HKEY_CURRENT_USER;
}

unique_hkey Open(RegRoot root, std::u16string_view path, REGSAM access) {
  unique_hkey key;
  std::u16string p(path);
  if (::RegOpenKeyExW(RootKey(root), W(p), 0, access, key.put()) != ERROR_SUCCESS) return {};
  return key;
}

class Win32Registry final : public IRegistry {
 public:
  bool KeyExists(RegRoot root, std::u16string_view path) override {
    return static_cast<bool>(Open(root, path, KEY_READ));
  }

  Result CreateKey(RegRoot root, std::u16string_view path) override {
    unique_hkey key;
    std::u16string p(path);
    return ::RegCreateKeyExW(RootKey(root), W(p), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
  }

  Result DeleteKeyIfEmpty(RegRoot root, std::u16string_view path) override {
    unique_hkey key = Open(root, path, KEY_READ);
    if (!key) return kNotFound;
    DWORD subkeys = 0, values = 0;
    LSTATUS rc = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                    &values, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    if (subkeys || values) return kDirNotEmpty;
    key.reset();
    std::u16string p(path);
    return ::RegDeleteKeyW(RootKey(root), W(p));
  }

  Result DeleteTree(RegRoot root, std::u16string_view path) override {
    std::u16string p(path);
    if (p.empty()) return kAccessDenied;
    LSTATUS rc = ::RegDeleteTreeW(RootKey(root), W(p));
    if (rc != ERROR_SUCCESS) return rc;
    return ::RegDeleteKeyW(RootKey(root), W(p)) == ERROR_SUCCESS || !KeyExists(root, path) ? kOk : kAccessDenied;
  }

  std::optional<RegValue> GetValue(RegRoot root, std::u16string_view path,
                                   std::u16string_view name) override {
    unique_hkey key = Open(root, path, KEY_READ);
    if (!key) return std::nullopt;
    std::u16string n(name);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), W(n), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::string data(size, '\0');
    if (::RegQueryValueExW(key.get(), W(n), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    data.resize(size);
    RegValue v;
    if (type == REG_DWORD && size == 4) {
      v.type = RegValue::Type::Dword;
      std::memcpy(&v.number, data.data(), 4);
      return v;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    v.type = RegValue::Type::String;
    // The stored bytes need not be terminated: take whole characters up to the first NUL.
    std::u16string text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), text.size() * 2);
    if (auto nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
    v.text = std::move(text);
    v.raw = std::move(data);
    return v;
  }

  Result SetString(RegRoot root, std::u16string_view path, std::u16string_view name,
                   std::u16string_view value) override {
    unique_hkey key;
    std::u16string p(path), n(name), val(value);
    LSTATUS rc = ::RegCreateKeyExW(RootKey(root), W(p), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return ::RegSetValueExW(key.get(), W(n), 0, REG_SZ, reinterpret_cast<const BYTE*>(val.c_str()),
                            static_cast<DWORD>((val.size() + 1) * 2));
  }

  Result SetRawString(RegRoot root, std::u16string_view path, std::u16string_view name,
                      std::string_view bytes) override {
    unique_hkey key;
    std::u16string p(path), n(name);
    LSTATUS rc = ::RegCreateKeyExW(RootKey(root), W(p), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return ::RegSetValueExW(key.get(), W(n), 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
  }

  Result SetDword(RegRoot root, std::u16string_view path, std::u16string_view name,
                  uint32_t value) override {
    unique_hkey key;
    std::u16string p(path), n(name);
    LSTATUS rc = ::RegCreateKeyExW(RootKey(root), W(p), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD v = value;
    return ::RegSetValueExW(key.get(), W(n), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  }

  Result DeleteValue(RegRoot root, std::u16string_view path, std::u16string_view name) override {
    unique_hkey key = Open(root, path, KEY_SET_VALUE);
    if (!key) return kNotFound;
    std::u16string n(name);
    return ::RegDeleteValueW(key.get(), W(n));
  }

  std::vector<std::u16string> SubKeys(RegRoot root, std::u16string_view path) override {
    std::vector<std::u16string> names;
    unique_hkey key = Open(root, path, KEY_READ);
    if (!key) return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      if (::RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.push_back(win32::U16(name, len));
    }
    return names;
  }

  std::vector<std::u16string> ValueNames(RegRoot root, std::u16string_view path) override {
    std::vector<std::u16string> names;
    unique_hkey key = Open(root, path, KEY_READ);
    if (!key) return names;
    wchar_t name[16384];
    for (DWORD i = 0;; ++i) {
      DWORD len = 16384;
      if (::RegEnumValueW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.push_back(win32::U16(name, len));
    }
    return names;
  }
};

}  // namespace

IRegistry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace platform
