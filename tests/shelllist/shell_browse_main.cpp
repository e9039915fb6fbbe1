// shell_browse <parse name> [seconds]: opens a window that hosts the shell's
// explorer browser on a folder, as Explorer would show it, and keeps it up
// for the given time (default 15 s) so that it can be looked at or captured.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cwchar>

namespace {

IExplorerBrowser* g_browser = nullptr;

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_SIZE && g_browser) {
    RECT rc = {0, 0, LOWORD(lp), HIWORD(lp)};
    g_browser->SetRect(nullptr, rc);
  }
  if (message == WM_DESTROY) ::PostQuitMessage(0);
  return ::DefWindowProcW(window, message, wp, lp);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: shell_browse <parse name> [seconds]\n");
    return 2;
  }
  const int seconds = argc > 2 ? _wtoi(argv[2]) : 15;
  if (FAILED(::OleInitialize(nullptr))) return 2;

  WNDCLASSW frame = {};
  frame.lpfnWndProc = FrameProc;
  frame.hInstance = ::GetModuleHandleW(nullptr);
  frame.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  frame.lpszClassName = L"VDShellBrowseFrame";
  ::RegisterClassW(&frame);
  HWND window = ::CreateWindowW(L"VDShellBrowseFrame", argv[1], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 760, 520,
                                nullptr, nullptr, frame.hInstance, nullptr);
  if (!window) return 3;

  int rc = 0;
  LPITEMIDLIST folder = nullptr;
  IShellFolder* desktop = nullptr;
  HRESULT hr = ::SHGetDesktopFolder(&desktop);
  if (SUCCEEDED(hr)) hr = desktop->ParseDisplayName(window, nullptr, argv[1], nullptr, &folder, nullptr);
  if (SUCCEEDED(hr)) {
    hr = ::CoCreateInstance(CLSID_ExplorerBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IExplorerBrowser,
                            reinterpret_cast<void**>(&g_browser));
  }
  if (SUCCEEDED(hr)) {
    RECT rect;
    ::GetClientRect(window, &rect);
    FOLDERSETTINGS settings = {FVM_DETAILS, 0};
    hr = g_browser->Initialize(window, &rect, &settings);
  }
  if (SUCCEEDED(hr)) hr = g_browser->BrowseToIDList(folder, SBSP_ABSOLUTE);
  if (FAILED(hr)) {
    std::fprintf(stderr, "shell_browse: 0x%08lX\n", static_cast<unsigned long>(hr));
    rc = 1;
  } else {
    ::SetTimer(window, 1, static_cast<UINT>(seconds) * 1000, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_TIMER && msg.hwnd == window) break;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (g_browser) {
    g_browser->Destroy();
    g_browser->Release();
  }
  ::CoTaskMemFree(folder);
  if (desktop) desktop->Release();
  ::DestroyWindow(window);
  ::OleUninitialize();
  return rc;
}
