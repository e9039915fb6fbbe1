#pragma once
// Lists a shell folder the way Explorer sees it: parse the path from the
// desktop, bind, enumerate, ask each child's display name.
#include <string>
#include <vector>

namespace vd::tools {

// Display names of the folder's children; empty when the path does not bind.
// COM must be initialised on the calling thread.
std::vector<std::wstring> ListShellFolder(const std::wstring& parse_name);

inline constexpr wchar_t kComputer[] = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

}  // namespace vd::tools
