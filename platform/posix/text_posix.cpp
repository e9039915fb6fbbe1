#include "platform/text.h"

namespace platform {

// POSIX systems speak UTF-8 where Windows speaks its ANSI code page.
unsigned AnsiCodePage() { return 65001; }
std::u16string AnsiToWide(std::string_view ansi) { return Utf8ToUtf16(ansi); }
std::string WideToAnsi(std::u16string_view wide) { return Utf16ToUtf8(wide); }
std::string WideToOem(std::u16string_view wide) { return Utf16ToUtf8(wide); }
std::u16string Utf8ToWide(std::string_view utf8) { return Utf8ToUtf16(utf8); }
std::string WideToUtf8(std::u16string_view wide) { return Utf16ToUtf8(wide); }

}  // namespace platform
