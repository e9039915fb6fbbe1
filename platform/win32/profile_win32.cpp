#include <windows.h>

#include <vector>

#include "platform/profile.h"
#include "platform/win32/unique.h"

namespace platform {
namespace {

using win32::W;

class Win32Profile final : public IProfile {
 public:
  int GetInt(std::u16string_view file, std::u16string_view section, std::u16string_view key,
             int fallback) override {
    std::u16string f(file), s(section), k(key);
    return static_cast<int>(::GetPrivateProfileIntW(W(s), W(k), fallback, W(f)));
  }

  std::u16string GetString(std::u16string_view file, std::u16string_view section,
                           std::u16string_view key, std::u16string_view fallback,
                           std::size_t max_chars) override {
    if (max_chars == 0) return {};
    std::u16string f(file), s(section), k(key), d(fallback);
    std::vector<wchar_t> buf(max_chars, L'\0');
    DWORD n = ::GetPrivateProfileStringW(W(s), W(k), W(d), buf.data(), static_cast<DWORD>(max_chars), W(f));
    return win32::U16(buf.data(), n);
  }

  Result WriteString(std::u16string_view file, std::u16string_view section,
                     std::u16string_view key, std::u16string_view value) override {
    std::u16string f(file), s(section), k(key), v(value);
    return ::WritePrivateProfileStringW(W(s), W(k), W(v), W(f)) ? kOk : static_cast<Result>(::GetLastError());
  }
};

}  // namespace

IProfile& SystemProfile() {
  static Win32Profile profile;
  return profile;
}

}  // namespace platform
