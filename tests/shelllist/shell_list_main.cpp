// shell_list [parse name]: prints the children of a shell folder ("Computer"
// by default), one display name a line, in UTF-8.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "platform/text.h"
#include "shell_list.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring path = argc > 1 ? argv[1] : vd::tools::kComputer;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  auto names = vd::tools::ListShellFolder(path);
  for (auto& n : names) {
    std::string line = platform::WideToUtf8(std::u16string(n.begin(), n.end()));
    std::printf("%s\n", line.c_str());
  }
  ::CoUninitialize();
  return names.empty() ? 1 : 0;
}
