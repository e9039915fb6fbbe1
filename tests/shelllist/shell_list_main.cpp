// shell_list [parse name [expected name]]: prints the children of a shell
// folder ("Computer" by default), one display name a line, in UTF-8. With an
// expected name it lists again (up to 60 s) until that name is among them:
// the cloud folder answers from its cache and fills it in the background.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/text.h"
#include "shell_list.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring path = argc > 1 ? argv[1] : vd::tools::kComputer;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  auto names = vd::tools::ListShellFolder(path);
  if (argc > 2) {
    const std::wstring expected = argv[2];
    for (int i = 0; i < 300 && std::find(names.begin(), names.end(), expected) == names.end(); ++i) {
      ::Sleep(200);
      names = vd::tools::ListShellFolder(path);
    }
  }
  for (auto& n : names) {
    std::string line = platform::WideToUtf8(std::u16string(n.begin(), n.end()));
    std::printf("%s\n", line.c_str());
  }
  ::CoUninitialize();
  return names.empty() ? 1 : 0;
}
