#pragma once
// Text building shared by the transfer dialogs and engines: printf into a
// string, and string-table texts as the windows show them.
#include <string>
#include <string_view>

namespace vdtransfer {

// printf-style formatting into a string (UTF-8 formats, UTF-8 result).
std::string Sprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same with a format taken from the string table.
std::string SprintfTable(int stringId, ...);
// A string-table text as UTF-16.
std::u16string TableText(int stringId);
std::u16string Wide(std::string_view utf8);

}  // namespace vdtransfer
