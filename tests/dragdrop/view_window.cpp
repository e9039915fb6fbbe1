// vdview.exe: a folder's own view in a window of its own, for the demo's
// screenshots where Wine's Explorer cannot go yet (it enters no catalog of
// the cloud disk: the stock view asks for a context menu the folder does
// not have).
//
//   vdview.exe <x> <y> <seconds> <desktop path> [child name ...]
//
// Shows the folder at the desktop path ("::{...}\::{...}" or a drive path),
// or the child reached through the names, at x, y for that many seconds.
// The host is the least a view needs: a frame window and an IShellBrowser
// that gives it.
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

namespace {

class Browser final : public IShellBrowser {
 public:
  explicit Browser(HWND frame) : m_frame(frame) {}
  vd::com::ComPtr<IShellView> view;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IShellBrowser) {
      *out = static_cast<IShellBrowser*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  // Lives on the stack of wmain, longer than the view.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = m_frame;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return S_OK; }
  STDMETHODIMP EnableModelessSB(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return S_FALSE; }
  STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
  STDMETHODIMP GetViewStateStream(DWORD, IStream** stream) override {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetControlWindow(UINT, HWND* window) override {
    if (window) *window = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT* result) override {
    if (result) *result = 0;
    return E_NOTIMPL;
  }
  STDMETHODIMP QueryActiveShellView(IShellView** out) override {
    if (!out) return E_POINTER;
    *out = view.get();
    if (*out) (*out)->AddRef();
    return *out ? S_OK : E_FAIL;
  }
  STDMETHODIMP OnViewWindowActive(IShellView*) override { return S_OK; }
  STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return S_OK; }

 private:
  HWND m_frame;
};

HWND g_viewWindow = nullptr;

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE && g_viewWindow) {
    ::MoveWindow(g_viewWindow, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// What the view's list shows, a row a line, for the log.
void PrintRows(HWND view) {
  HWND list = ::FindWindowExW(view, nullptr, L"SysListView32", nullptr);
  const int count = list ? static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
  for (int row = 0; row < count; ++row) {
    wchar_t text[MAX_PATH] = {};
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    std::printf("  %s\n", vd::demo::Utf8(text).c_str());
  }
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

  WNDCLASSW frameClass = {};
  frameClass.lpfnWndProc = FrameProc;
  frameClass.hInstance = ::GetModuleHandleW(nullptr);
  frameClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  frameClass.lpszClassName = L"vdview";
  ::RegisterClassW(&frameClass);
  std::wstring title = names.empty() ? path : names.back();
  HWND frame = ::CreateWindowExW(0, L"vdview", title.c_str(), WS_OVERLAPPEDWINDOW, x, y, 600, 360, nullptr, nullptr,
                                 frameClass.hInstance, nullptr);
  int rc = 3;
  {
    Browser browser(frame);
    vd::com::ComPtr<IShellFolder> folder = vd::demo::BindPath(path, names, frame);
    // A cloud folder never listed before answers empty and lists in the
    // background; the shell's stock view would not show what comes later.
    if (folder) vd::demo::WaitListed(folder.get(), frame, 15000);
    if (folder && SUCCEEDED(folder->CreateViewObject(frame, IID_IShellView, browser.view.put_void()))) {
      FOLDERSETTINGS settings = {FVM_DETAILS, 0};
      RECT area;
      ::GetClientRect(frame, &area);
      if (SUCCEEDED(browser.view->CreateViewWindow(nullptr, &settings, &browser, &area, &g_viewWindow))) {
        browser.view->UIActivate(SVUIA_ACTIVATE_NOFOCUS);
        ::ShowWindow(frame, SW_SHOWNORMAL);
        std::printf("showing %s\n", vd::demo::Utf8(names.empty() ? path : path + L" > " + names.back()).c_str());
        std::fflush(stdout);
        vd::testing::PumpUntil([] { return false; }, seconds * 1000);
        PrintRows(g_viewWindow);
        browser.view->UIActivate(SVUIA_DEACTIVATE);
        browser.view->DestroyViewWindow();
        g_viewWindow = nullptr;
        rc = 0;
      }
    }
    if (rc != 0) std::fprintf(stderr, "the folder could not be shown\n");
    browser.view = nullptr;
  }
  ::DestroyWindow(frame);
  ::OleUninitialize();
  return rc;
}
