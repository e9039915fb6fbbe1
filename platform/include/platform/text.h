#pragma once
// Text conversions between the three encodings the product meets: UTF-16 on
// the shell side, the ANSI code page (936 on the product's home systems) for
// IDs, names and paths handed to the SDK and the caches, and UTF-8 on the wire.
// On POSIX the ANSI code page is UTF-8.
#include <string>
#include <string_view>

namespace platform {

unsigned AnsiCodePage();

std::u16string AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::u16string_view wide);
// The OEM code page (the console's; 936 on the product's home systems too).
std::string WideToOem(std::u16string_view wide);
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view wide);

// Portable helpers used by both implementations.
std::u16string Utf8ToUtf16(std::string_view utf8);   // invalid bytes become U+FFFD
std::string Utf16ToUtf8(std::u16string_view utf16);  // lone surrogates become U+FFFD

// ASCII-only case folding, the way the registry and file names compare on the
// product's side for the keys and IDs it uses.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
std::u16string ToUpperAscii(std::u16string_view s);

}  // namespace platform
