// Enumerating child windows across processes is beyond the platform layer's
// named-window channel, so the walk is done here directly.
#include "view_windows_win32.h"

#include <windows.h>

#include <vector>

namespace nimbra {
namespace {

bool HasClass(HWND hwnd, const wchar_t* name) {
  wchar_t buffer[64] = {};
  int n = ::GetClassNameW(hwnd, buffer, static_cast<int>(std::size(buffer)));
  return n > 0 && ::lstrcmpW(buffer, name) == 0;
}

BOOL CALLBACK CollectViews(HWND hwnd, LPARAM lp) {
  if (HasClass(hwnd, L"VDViewClass")) reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK CollectExplorers(HWND hwnd, LPARAM lp) {
  if (HasClass(hwnd, L"CabinetWClass") || HasClass(hwnd, L"ExploreWClass")) {
    ::EnumChildWindows(hwnd, CollectViews, lp);  // every descendant, not only direct children
  }
  return TRUE;
}

}  // namespace

int SendToViewWindows(uint64_t code, std::string_view bytes) {
  std::vector<HWND> views;
  ::EnumWindows(CollectExplorers, reinterpret_cast<LPARAM>(&views));
  int delivered = 0;
  for (HWND view : views) {
    COPYDATASTRUCT cds = {};
    cds.dwData = static_cast<ULONG_PTR>(code);
    cds.cbData = static_cast<DWORD>(bytes.size());
    cds.lpData = bytes.empty() ? nullptr : const_cast<char*>(bytes.data());
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(view, WM_COPYDATA, reinterpret_cast<WPARAM>(::GetForegroundWindow()),
                              reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL | SMTO_ABORTIFHUNG, 1000, &result)) {
      ++delivered;
    }
  }
  return delivered;
}

}  // namespace nimbra
