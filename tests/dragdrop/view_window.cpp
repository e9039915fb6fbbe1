// vdview.exe: a folder's own view in a window of its own, for the demo's
// screenshots of folders Wine's Explorer does not enter by itself.
//
//   vdview.exe <x> <y> <seconds> <desktop path> [child name ...]
//
// Shows the folder at the desktop path ("::{...}\::{...}" or a drive path),
// or the child reached through the names, at x, y for that many seconds.
#include <windows.h>
#include <objbase.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "message_pump.h"
#include "shell_walk.h"
#include "view_host.h"

namespace {

// What the view's list shows, a row a line, for the log.
void PrintRows(const vd::testing::ViewHost& host) {
  for (const std::wstring& name : host.Names()) std::printf("  %s\n", vd::demo::Utf8(name).c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: vdview <x> <y> <seconds> <desktop path> [child name ...]\n");
    return 2;
  }
  const int x = _wtoi(argv[1]), y = _wtoi(argv[2]);
  const DWORD seconds = static_cast<DWORD>(_wtoi(argv[3]));
  const std::wstring path = argv[4];
  const std::vector<std::wstring> names(argv + 5, argv + argc);
  if (FAILED(::OleInitialize(nullptr))) return 2;

  int rc = 3;
  {
    std::wstring title = names.empty() ? path : names.back();
    vd::testing::ViewHost host(x, y, 600, 360, title.c_str());
    vd::com::ComPtr<IShellFolder> folder = vd::demo::BindPath(path, names, host.Frame());
    if (folder && SUCCEEDED(host.Show(folder.get()))) {
      std::printf("showing %s\n", vd::demo::Utf8(names.empty() ? path : path + L" > " + names.back()).c_str());
      std::fflush(stdout);
      vd::testing::PumpUntil([] { return false; }, seconds * 1000);
      PrintRows(host);
      rc = 0;
    }
    if (rc != 0) std::fprintf(stderr, "the folder could not be shown\n");
  }
  ::OleUninitialize();
  return rc;
}
