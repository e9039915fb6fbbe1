#pragma once
// The least a folder's view needs from a shell browser: a frame window and an
// IShellBrowser that gives it. The frame's class is the shell's own browser
// class, so records addressed to the views of Explorer windows reach it too.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "com_ptr.h"

namespace vd::testing {

class HostBrowser final : public IShellBrowser {
 public:
  HWND frame = nullptr;
  vd::com::ComPtr<IShellView> view;
  std::vector<UINT> statusMessages;  // SendControlMsg(FCW_STATUS) messages, in order
  std::vector<std::vector<BYTE>> browsed;  // BrowseObject's identifier lists, in order

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IShellBrowser) {
      *out = static_cast<IShellBrowser*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  // Owned by its ViewHost, which outlives the view.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = frame;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return S_OK; }
  STDMETHODIMP EnableModelessSB(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return S_FALSE; }
  STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE list, UINT) override {
    if (!list) return E_INVALIDARG;
    const auto* bytes = reinterpret_cast<const BYTE*>(list);
    browsed.emplace_back(bytes, bytes + ::ILGetSize(list));
    return S_OK;
  }
  STDMETHODIMP GetViewStateStream(DWORD, IStream** stream) override {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetControlWindow(UINT, HWND* window) override {
    if (window) *window = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP SendControlMsg(UINT id, UINT message, WPARAM, LPARAM, LRESULT* result) override {
    if (result) *result = 0;
    if (id == FCW_STATUS) statusMessages.push_back(message);
    return S_OK;
  }
  STDMETHODIMP QueryActiveShellView(IShellView** out) override {
    if (!out) return E_POINTER;
    *out = view.get();
    if (*out) (*out)->AddRef();
    return *out ? S_OK : E_FAIL;
  }
  STDMETHODIMP OnViewWindowActive(IShellView*) override { return S_OK; }
  STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return S_OK; }
};

class ViewHost {
 public:
  ViewHost(int x, int y, int width, int height, const wchar_t* title) {
    static ATOM atom = [] {
      WNDCLASSW frameClass = {};
      frameClass.lpfnWndProc = &ViewHost::FrameProc;
      frameClass.hInstance = ::GetModuleHandleW(nullptr);
      frameClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
      frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
      frameClass.lpszClassName = L"CabinetWClass";
      return ::RegisterClassW(&frameClass);
    }();
    (void)atom;
    m_browser.frame = ::CreateWindowExW(0, L"CabinetWClass", title, WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr,
                                        nullptr, ::GetModuleHandleW(nullptr), this);
  }
  ~ViewHost() { Close(); }
  ViewHost(const ViewHost&) = delete;
  ViewHost& operator=(const ViewHost&) = delete;

  // The folder's view in the frame, activated; S_OK or the failing call's result.
  HRESULT Show(IShellFolder* folder, UINT viewMode = FVM_DETAILS) {
    HRESULT hr = folder->CreateViewObject(m_browser.frame, IID_IShellView, m_browser.view.put_void());
    if (FAILED(hr)) return hr;
    FOLDERSETTINGS settings = {viewMode, 0};
    RECT area;
    ::GetClientRect(m_browser.frame, &area);
    hr = m_browser.view->CreateViewWindow(nullptr, &settings, &m_browser, &area, &m_view);
    if (FAILED(hr)) return hr;
    m_browser.view->UIActivate(SVUIA_ACTIVATE_NOFOCUS);
    ::ShowWindow(m_browser.frame, SW_SHOWNORMAL);
    return S_OK;
  }
  void Close() {
    if (m_browser.view) {
      m_browser.view->UIActivate(SVUIA_DEACTIVATE);
      m_browser.view->DestroyViewWindow();
      m_browser.view.reset();
    }
    m_view = nullptr;
    if (::IsWindow(m_browser.frame)) ::DestroyWindow(m_browser.frame);
  }

  HWND Frame() const { return m_browser.frame; }
  HWND View() const { return m_view; }
  HWND List() const { return m_view ? ::FindWindowExW(m_view, nullptr, WC_LISTVIEWW, nullptr) : nullptr; }
  IShellView* ShellView() const { return m_browser.view.get(); }
  HostBrowser& Browser() { return m_browser; }

  int Count() const {
    HWND list = List();
    return list ? static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
  }
  std::wstring Text(int row, int column) const {
    wchar_t text[MAX_PATH] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    ::SendMessageW(List(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
  }
  int Image(int row) const {
    LVITEMW item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    return ::SendMessageW(List(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) ? item.iImage : -2;
  }
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (int i = 0, n = Count(); i < n; ++i) names.push_back(Text(i, 0));
    return names;
  }
  int Find(const std::wstring& name) const {
    for (int i = 0, n = Count(); i < n; ++i) {
      if (Text(i, 0) == name) return i;
    }
    return -1;
  }

 private:
  static LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* host = reinterpret_cast<ViewHost*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_SIZE && host && host->m_view) {
      ::MoveWindow(host->m_view, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  HostBrowser m_browser;
  HWND m_view = nullptr;
};

}  // namespace vd::testing
