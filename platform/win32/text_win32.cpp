#include <windows.h>

#include "platform/text.h"

namespace platform {
namespace {

std::u16string ToWide(unsigned cp, std::string_view in) {
  if (in.empty()) return {};
  int n = ::MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<size_t>(n), u'\0');
  ::MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string FromWide(unsigned cp, std::u16string_view in) {
  if (in.empty()) return {};
  auto* w = reinterpret_cast<const wchar_t*>(in.data());
  int n = ::WideCharToMultiByte(cp, 0, w, static_cast<int>(in.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(cp, 0, w, static_cast<int>(in.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

unsigned AnsiCodePage() { return ::GetACP(); }
std::u16string AnsiToWide(std::string_view ansi) { return ToWide(CP_THREAD_ACP, ansi); }
std::string WideToAnsi(std::u16string_view wide) { return FromWide(CP_THREAD_ACP, wide); }
std::string WideToOem(std::u16string_view wide) { return FromWide(CP_OEMCP, wide); }
std::u16string Utf8ToWide(std::string_view utf8) { return Utf8ToUtf16(utf8); }
std::string WideToUtf8(std::u16string_view wide) { return Utf16ToUtf8(wide); }

}  // namespace platform
