#include "vd_shell_view.h"

#include <shlwapi.h>
#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "com_boundary.h"
#include "login.h"
#include "message_box.h"
#include "nimbra_messages.h"
#include "pidl.h"
#include "platform/fault.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "shell_env.h"
#include "shell_image_lists.h"
#include "string_table.h"
#include "trace.h"
#include "untils.h"
#include "vd_cache.h"
#include "download_task.h"
#include "vd_data_object.h"
#include "vd_module.h"
#include "vd_shell_folder.h"

namespace vdview {

using vd::VDPidlMgr;
using vd::com::ComPtr;

namespace {

// The open views, by list window: broadcasts and style changes walk it.
std::mutex g_viewsLock;
std::map<HWND, CIVDShellView*> g_views;
std::atomic<DWORD> g_listStyle{kDefaultViewStyle};
// Sync states from the desktop client's records: catalog ID to state word.
std::map<std::string, int> g_syncStates;

constexpr wchar_t kViewClass[] = L"VDViewClass";

vd::PcPidl Bytes(LPCITEMIDLIST list) { return reinterpret_cast<vd::PcPidl>(list); }

std::wstring W(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

// The account's settings file, where the view style is kept.
std::u16string SettingsFile() { return vd::CVDLogin::GetInstance().AccountSettingsFile(); }

std::wstring Text(int id) { return W(platform::Utf8ToUtf16(vd::resources::LoadText(id))); }

struct ColumnSpec {
    int textId;
    int width;
};
constexpr ColumnSpec kNormalColumns[] = {{237, 240}, {238, 125}, {239, 125}};
constexpr ColumnSpec kShareColumns[] = {{237, 240}, {241, 125}, {238, 125}, {240, 125}};

// Detail texts of the manager: 1 text, 2 size, 3 time.
std::wstring Detail(vd::PcPidl item, int column) {
    const std::optional<std::u16string> text = VDPidlMgr::GetDetailText(item, column);
    return text ? W(*text) : std::wstring();
}

int CALLBACK CompareItems(LPARAM a, LPARAM b, LPARAM context) {
    const auto* view = reinterpret_cast<const std::pair<SortState, bool>*>(context);
    return CompareViewItems(reinterpret_cast<vd::PcPidl>(a), reinterpret_cast<vd::PcPidl>(b), view->first,
                            view->second, [](std::u16string_view x, std::u16string_view y) {
                                return ::StrCmpLogicalW(std::wstring(x.begin(), x.end()).c_str(),
                                                        std::wstring(y.begin(), y.end()).c_str());
                            });
}

HICON OverlayIcon(std::uint32_t state, int size) {
    const std::u16string_view file = OverlayIconFile(state);
    if (file.empty()) return nullptr;
    // Loaded once per file and size for the process.
    static std::mutex lock;
    static std::map<std::pair<std::u16string, int>, HICON> icons;
    std::lock_guard<std::mutex> guard(lock);
    const auto key = std::make_pair(std::u16string(file), size);
    if (const auto it = icons.find(key); it != icons.end()) return it->second;
    wchar_t images[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    HICON icon = nullptr;
    if (VDModule::GetInStallPath(&VDModule::Instance(), images, &length)) {
        const std::wstring path = std::wstring(images, length) + W(std::u16string(file));
        icon = static_cast<HICON>(::LoadImageW(nullptr, path.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE));
    }
    icons.emplace(key, icon);
    return icon;
}

}  // namespace

HRESULT CreateCloudView(vd::CIVDShellFolder* folder, LPCITEMIDLIST pidl, REFIID iid, void** out) noexcept {
    ComPtr<CIVDShellView> view;
    HRESULT hr = vd::com::MakeObject(view);
    if (FAILED(hr)) return hr;
    hr = view->Init(folder, pidl);
    if (FAILED(hr)) return hr;
    return view->QueryInterface(iid, out);
}

HRESULT CIVDShellView::FinalConstruct() noexcept {
    return vd::com::ComBoundary("CIVDShellView::FinalConstruct", [&]() -> HRESULT {
        const int report = platform::SystemProfile().GetInt(SettingsFile(), u"Pandrel", u"VDViewStyle", 0);
        DWORD style = g_listStyle.load();
        style = report != 0 ? ((style | LVS_REPORT) & ~LVS_NOCOLUMNHEADER) : ((style & ~LVS_REPORT) | LVS_NOCOLUMNHEADER);
        g_listStyle.store(style);
        m_viewStyle = style;
        return S_OK;
    });
}

void CIVDShellView::FinalRelease() noexcept {
    QuitViewListThread();
    if (m_thread.joinable()) {
        // The last reference may be the fill thread's own, let go as it ends.
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach();
        } else {
            m_thread.join();
        }
    }
    if (m_wake) ::CloseHandle(m_wake);
    ::ILFree(m_pidl);
}

HRESULT CIVDShellView::Init(vd::CIVDShellFolder* folder, LPCITEMIDLIST pidl) noexcept {
    m_folder = ComPtr<vd::CIVDShellFolder>(folder);
    if (pidl != nullptr && pidl->mkid.cb != 0) {
        m_pidl = ::ILClone(pidl);
        if (m_pidl == nullptr) return E_OUTOFMEMORY;
        char16_t id[vd::pidl_layout::kIdChars + 1] = {};
        std::size_t length = vd::pidl_layout::kIdChars;
        const vd::PcPidl last = VDPidlMgr::GetLastItem(Bytes(m_pidl));
        if (VDPidlMgr::GetItemType(last) == vd::kKindNode) {
            m_catalogId = platform::WideToAnsi(vd::FixedNodeCatalogId(VDPidlMgr::GetNodeIndex(last)));
        } else if (VDPidlMgr::GetId(last, id, length)) {
            m_catalogId = platform::WideToAnsi(std::u16string_view(id, length));
        }
    } else {
        m_catalogId = platform::WideToAnsi(vd::kRootCatalogId);
    }
    m_shareView = m_pidl != nullptr &&
                  VDPidlMgr::GetItemType(VDPidlMgr::GetLastItem(Bytes(m_pidl))) == vd::kKindNode &&
                  VDPidlMgr::GetNodeIndex(VDPidlMgr::GetLastItem(Bytes(m_pidl))) == vd::kNodeReceivedShares;
    return S_OK;
}

bool CIVDShellView::IsReceivedSharesTree() const {
    // The received-shares node sits directly under the cloud root.
    return !IsEmptyList(Bytes(m_pidl)) && VDPidlMgr::GetFirstNodeIndex(Bytes(m_pidl)) == vd::kNodeReceivedShares;
}

ViewFacts CIVDShellView::Facts() const {
    ViewFacts facts;
    facts.catalogId = m_catalogId;
    facts.isReceivedShares = m_shareView;
    facts.inReceivedShares = IsReceivedSharesTree();
    facts.editingLabel = m_list != nullptr && ListView_GetEditControl(m_list) != nullptr;
    return facts;
}

// ------------------------------------------------------------------ IShellView

STDMETHODIMP CIVDShellView::GetWindow(HWND* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = m_window;
    return m_window ? S_OK : E_FAIL;
}

STDMETHODIMP CIVDShellView::UIActivate(UINT state) noexcept {
    return vd::com::ComBoundary("CIVDShellView::UIActivate", [&]() -> HRESULT {
        if (state != m_uiState) _ViewActivate(state);
        if (state != SVUIA_DEACTIVATE && m_browser) {
            LRESULT ignored = 0;
            int parts[] = {-1};
            m_browser->SendControlMsg(FCW_STATUS, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts), &ignored);
            const std::wstring name = Text(103);
            m_browser->SendControlMsg(FCW_STATUS, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(name.c_str()), &ignored);
        }
        return S_OK;
    });
}

void CIVDShellView::_ViewDeactivate() {
    if (m_menu == nullptr || !m_browser) return;
    m_browser->SetMenuSB(nullptr, nullptr, nullptr);
    m_browser->RemoveMenusSB(m_menu);
    ::DestroyMenu(m_menu);
    m_menu = nullptr;
}

void CIVDShellView::_ViewActivate(UINT state) {
    if (m_browser) {
        LRESULT ignored = 0;
        m_browser->SendControlMsg(FCW_TOOLBAR, TB_HIDEBUTTON, 1019, TRUE, &ignored);
    }
    _ViewDeactivate();
    if (state != SVUIA_DEACTIVATE && m_browser) {
        m_menu = ::CreateMenu();
        OLEMENUGROUPWIDTHS widths = {{0, 0, 0, 0, 0, 0}};
        if (m_menu && SUCCEEDED(m_browser->InsertMenusSB(m_menu, &widths))) {
            m_browser->SetMenuSB(m_menu, nullptr, m_window);
        }
    }
    m_uiState = state;
}

STDMETHODIMP CIVDShellView::Refresh() noexcept {
    if (m_window == nullptr) return E_FAIL;
    RequestFill(FillMode::Refresh, false);
    return S_OK;
}

STDMETHODIMP CIVDShellView::GetCurrentInfo(LPFOLDERSETTINGS out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = m_settings;
    return S_OK;
}

STDMETHODIMP CIVDShellView::SaveViewState() noexcept {
    return vd::com::ComBoundary("CIVDShellView::SaveViewState", [&]() -> HRESULT {
        if (!m_browser) return E_FAIL;
        ComPtr<IStream> stream;
        HRESULT hr = m_browser->GetViewStateStream(STGM_WRITE, stream.put());
        if (FAILED(hr) || !stream) return FAILED(hr) ? hr : E_FAIL;
        const DWORD words[2] = {1, m_viewStyle};
        ULONG written = 0;
        return stream->Write(words, sizeof words, &written);
    });
}

STDMETHODIMP CIVDShellView::GetItemObject(UINT, REFIID iid, void** out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return vd::com::ComBoundary("CIVDShellView::GetItemObject", [&]() -> HRESULT {
        if (!IsEqualIID(iid, IID_IDataObject) || !m_folder) return E_FAIL;
        ComPtr<vdtransfer::CNDDataObject> data;
        HRESULT hr = vd::com::MakeObject(data);
        if (FAILED(hr)) return hr;
        hr = data->Init(m_folder.get(), m_list);
        if (FAILED(hr)) return hr;
        return data->QueryInterface(iid, out);
    });
}

STDMETHODIMP CIVDShellView::CreateViewWindow(IShellView*, LPCFOLDERSETTINGS settings, IShellBrowser* browser,
                                             RECT* area, HWND* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return vd::com::ComBoundary("CIVDShellView::CreateViewWindow", [&]() -> HRESULT {
        if (!m_folder) {
            vd::ui::ShowText(nullptr, u"CIVDShellView::CreateViewWindow() m_pFolder==NULL", u"NSF", MB_OK);
            return E_FAIL;
        }
        if (browser == nullptr || area == nullptr) return E_INVALIDARG;
        static std::once_flag registered;
        static HRESULT registration = S_OK;
        std::call_once(registered, [] {
            WNDCLASSW wc = {};
            wc.style = CS_VREDRAW | CS_HREDRAW;
            wc.lpfnWndProc = &CIVDShellView::WndProc;
            wc.hInstance = VDModule::GetModuleInstance();
            wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
            wc.lpszClassName = kViewClass;
            if (!::RegisterClassW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
                registration = HRESULT_FROM_WIN32(::GetLastError());
            }
        });
        if (FAILED(registration)) return registration;
        m_browser = ComPtr<IShellBrowser>(browser);
        if (settings) m_settings = *settings;
        m_settings.fFlags |= FWF_AUTOARRANGE | FWF_NOSUBFOLDERS | FWF_NOCLIENTEDGE;
        ComPtr<IStream> stream;
        if (SUCCEEDED(browser->GetViewStateStream(STGM_READ, stream.put())) && stream) {
            DWORD words[2] = {};
            ULONG read = 0;
            if (SUCCEEDED(stream->Read(words, sizeof words, &read)) && read == sizeof words && words[1] != 0) {
                m_viewStyle = words[1];
            }
        }
        if (FAILED(browser->GetWindow(&m_parent))) return E_FAIL;
        // The window keeps the view alive until WM_NCDESTROY.
        AddRef();
        m_window = ::CreateWindowExW(WS_EX_CONTROLPARENT, kViewClass, nullptr,
                                     WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_TABSTOP, area->left,
                                     area->top, area->right - area->left, area->bottom - area->top, m_parent, nullptr,
                                     VDModule::GetModuleInstance(), this);
        if (m_window == nullptr) {
            Release();
            return HRESULT_FROM_WIN32(::GetLastError());
        }
        HRESULT hr = m_folder->CreateViewObject(m_window, IID_IDropTarget, m_dropTarget.put_void());
        if (SUCCEEDED(hr) && !m_dropTarget) {
            vd::ui::ShowText(nullptr, u"CIVDShellView::CreateViewWindow() m_pDropTarget==NULL", u"NSF", MB_OK);
            hr = E_FAIL;
        }
        if (FAILED(hr)) {
            // No view: its window goes, and the browser is not held.
            QuitViewListThread();
            ::DestroyWindow(m_window);
            m_browser.reset();
            return hr;
        }
        ::RegisterDragDrop(m_window, m_dropTarget.get());
        if (!vd::ShellEnv::IsHostInExplorer()) ModifyStyle(0, LVS_SINGLESEL, 0);
        *out = m_window;
        return S_OK;
    });
}

STDMETHODIMP CIVDShellView::DestroyViewWindow() noexcept {
    return vd::com::ComBoundary("CIVDShellView::DestroyViewWindow", [&]() -> HRESULT {
        VD_LOG_INFO("DestroyViewWindow");
        QuitViewListThread();
        // The fill thread only reads the cache and posts: it ends soon, and
        // never waits on this thread.
        if (m_thread.joinable()) m_thread.join();
        {
            std::lock_guard<std::mutex> guard(m_pagesLock);
            m_pages.clear();
        }
        {
            std::lock_guard<std::mutex> guard(g_viewsLock);
            if (m_list) g_views.erase(m_list);
        }
        if (m_window == nullptr || !::IsWindow(m_window)) return E_FAIL;
        ::RevokeDragDrop(m_window);
        m_dropTarget.reset();
        UIActivate(SVUIA_DEACTIVATE);
        DeleteCtrlItem();
        ::DestroyWindow(m_window);
        if (m_browser) {
            LRESULT ignored = 0;
            m_browser->SendControlMsg(FCW_TOOLBAR, TB_HIDEBUTTON, 1019, FALSE, &ignored);
        }
        m_browser.reset();
        m_canDestroy.store(false);
        return S_OK;
    });
}

// ------------------------------------------------------------------ windows

LRESULT CALLBACK CIVDShellView::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* view = static_cast<CIVDShellView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        view->m_window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
    }
    auto* view = reinterpret_cast<CIVDShellView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    if (!platform::NoThrow("CIVDShellView::WndProc", [&] { result = view->OnViewMessage(message, wParam, lParam); })) {
        result = 0;
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        view->m_window = nullptr;
        view->Release();
    }
    return result;
}

LRESULT CIVDShellView::OnViewMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate();
            return 0;
        case WM_DESTROY:
            // A browser may take its window down without DestroyViewWindow
            // (a sign-out closes it): the fill thread ends with the window.
            QuitViewListThread();
            return 0;
        case WM_SIZE:
            OnSize(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_SETFOCUS:
            if (m_browser) m_browser->OnViewWindowActive(this);
            if (m_uiState != SVUIA_ACTIVATE_FOCUS) _ViewActivate(SVUIA_ACTIVATE_FOCUS);
            if (m_list) ::SetFocus(m_list);
            return 0;
        case WM_SETTINGCHANGE:
            _UpdateShellSettings();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == 710) Refresh();
            return 0;
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_COPYDATA: {
            const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (record == nullptr || (record->cbData != 0 && record->lpData == nullptr)) return 0;
            return ShellServerProc(record->dwData,
                                   std::string_view(static_cast<const char*>(record->lpData), record->cbData));
        }
        case vd::WM_VD_COPYDATA: {
            // Only blocks this module made and has not handed out yet.
            std::unique_ptr<vd::PostedCopyData> posted = vd::PostedCopyData::Take(lParam);
            if (!posted) {
                VD_LOG_WARN("a posted record that is not ours was dropped");
                return 0;
            }
            return ShellServerProc(posted->record.dwData, posted->bytes);
        }
        default:
            return ::DefWindowProcW(m_window, message, wParam, lParam);
    }
}

void CIVDShellView::OnCreate() {
    if (!_CreateListView()) return;
    _InitListView();
    RequestFill(FillMode::First, false);
}

bool CIVDShellView::_CreateListView() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x73F};
    ::InitCommonControlsEx(&controls);
    RECT client = {};
    ::GetClientRect(m_window, &client);
    m_list = ::CreateWindowExW(0, WC_LISTVIEWW, nullptr, m_viewStyle, 0, 0, client.right, client.bottom, m_window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), VDModule::GetModuleInstance(),
                               nullptr);
    if (m_list == nullptr) return false;
    m_loadingBar = ::CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD, 0, 0, 260, 32, m_list, nullptr,
                                     VDModule::GetModuleInstance(), nullptr);
    {
        std::lock_guard<std::mutex> guard(g_viewsLock);
        g_views[m_list] = this;
    }
    ::SetWindowLongPtrW(m_list, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_listProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CIVDShellView::ListProc)));
    if (m_loadingBar) {
        ::SetWindowLongPtrW(m_loadingBar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_barProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
            m_loadingBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CIVDShellView::LoadingBarWndProc)));
    }
    _UpdateShellSettings();
    ListView_SetExtendedListViewStyleEx(m_list, LVS_EX_DOUBLEBUFFER | LVS_EX_FULLROWSELECT,
                                        LVS_EX_DOUBLEBUFFER | LVS_EX_FULLROWSELECT);
    UpdateViewList();
    return true;
}

void CIVDShellView::_UpdateShellSettings() {
    SHELLFLAGSTATE state = {};
    ::SHGetSettings(&state, SSF_DOUBLECLICKINWEBVIEW | SSF_WIN95CLASSIC);
    DWORD extended = 0;
    if (!state.fWin95Classic && !state.fDoubleClickInWebView) {
        extended = LVS_EX_ONECLICKACTIVATE | LVS_EX_TRACKSELECT | LVS_EX_UNDERLINEHOT;
    }
    const DWORD mask = LVS_EX_ONECLICKACTIVATE | LVS_EX_TRACKSELECT | LVS_EX_UNDERLINEHOT;
    ListView_SetExtendedListViewStyleEx(m_list, mask, extended);
}

void CIVDShellView::_InitListView() {
    ::SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
    DeleteCtrlItem();
    HWND header = ListView_GetHeader(m_list);
    const int existing = header ? Header_GetItemCount(header) : 0;
    for (int i = existing - 1; i >= 0; --i) ListView_DeleteColumn(m_list, i);
    const ColumnSpec* specs = m_shareView ? kShareColumns : kNormalColumns;
    const int count = m_shareView ? 4 : 3;
    for (int i = 0; i < count; ++i) {
        std::wstring text = Text(specs[i].textId);
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM | LVCF_MINWIDTH;
        column.fmt = LVCFMT_LEFT;
        column.cx = specs[i].width;
        column.cxMin = 100;
        column.pszText = text.data();
        column.iSubItem = i;
        ListView_InsertColumn(m_list, i, &column);
    }
    ::SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
}

void CIVDShellView::OnSize(int width, int height) {
    if (m_list) ::MoveWindow(m_list, 0, 0, width, height, TRUE);
}

void CIVDShellView::UpdateViewList() {
    ShellViewHelper& helper = ShellViewHelper::Instance();
    helper.InitShellViewHelper();
    if (!helper.IsRunning()) {
        VD_LOG_ERROR("RaiseException!!!");
        return;
    }
    ListView_SetImageList(m_list, helper.ThumbList(), LVSIL_NORMAL);
    ListView_SetImageList(m_list, helper.SmallList(), LVSIL_SMALL);
}

void CIVDShellView::DeleteCtrlItem() {
    // Each row's identifier is freed by LVN_DELETEITEM.
    if (m_list) ListView_DeleteAllItems(m_list);
}

DWORD CIVDShellView::GetViewStyle() const {
    return m_list ? static_cast<DWORD>(::GetWindowLongPtrW(m_list, GWL_STYLE)) : m_viewStyle;
}

void CIVDShellView::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) {
    DWORD style = (g_listStyle.load() & ~remove) | add;
    {
        std::lock_guard<std::mutex> guard(g_viewsLock);
        for (auto& [list, view] : g_views) {
            const DWORD now = static_cast<DWORD>(::GetWindowLongPtrW(list, GWL_STYLE));
            const DWORD wanted = (now & ~remove) | add;
            if (wanted != now) {
                ::SetWindowLongPtrW(list, GWL_STYLE, wanted);
                if (swpFlags != 0) {
                    ::SetWindowPos(list, nullptr, 0, 0, 0, 0,
                                   swpFlags | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
                }
            }
            view->m_viewStyle = wanted;
        }
    }
    g_listStyle.store(style);
    platform::SystemProfile().WriteString(SettingsFile(), u"Pandrel", u"VDViewStyle",
                                          (style & LVS_REPORT) ? u"1" : u"0");
}

// ------------------------------------------------------------------ the list

LRESULT CALLBACK CIVDShellView::ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* view = reinterpret_cast<CIVDShellView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    if (!platform::NoThrow("CIVDShellView::ListProc", [&] { result = view->OnListMessage(message, wParam, lParam); })) {
        result = 0;
    }
    return result;
}

LRESULT CIVDShellView::OnListMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (m_loadingBar) {
                const int x = LOWORD(lParam) / 2 - 130, y = HIWORD(lParam) / 2 - 32;
                ::SetWindowPos(m_loadingBar, nullptr, x, y, 260, 32, SWP_NOZORDER | SWP_NOACTIVATE);
            }
            break;
        case WM_VD_REFRESH_ALL: {
            std::lock_guard<std::mutex> guard(g_viewsLock);
            for (const auto& entry : g_views) ::PostMessageW(entry.first, WM_VD_REFRESH_ONE, 0, 0);
            return 0;
        }
        case WM_VD_REFRESH_ONE:
            Refresh();
            return 0;
        case WM_VD_UPDATE_LISTS:
            UpdateViewList();
            return 0;
        case WM_VD_DRAW_PAGE:
            DrawViewList();
            return 0;
        case WM_VD_THUMBNAILS:
            // New thumbnail files, or thumbnails that went: the painted items look again.
            m_thumbFiles.clear();
            ::InvalidateRect(m_list, nullptr, FALSE);
            return 0;
        case WM_VD_FIX_IMAGES:
            FixImages();
            return 0;
        case WM_KEYDOWN:
            if (OnKeyDown(static_cast<UINT>(wParam))) return 0;
            break;
        case WM_VD_LOADING:
            if (wParam) {
                ShowLoadingBar();
            } else {
                HideLoadingBar();
            }
            return 0;
        case WM_NCDESTROY: {
            WNDPROC previous = m_listProc;
            ::SetWindowLongPtrW(m_list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            {
                std::lock_guard<std::mutex> guard(g_viewsLock);
                g_views.erase(m_list);
            }
            return ::CallWindowProcW(previous, m_list, message, wParam, lParam);
        }
        default:
            break;
    }
    return ::CallWindowProcW(m_listProc, m_list, message, wParam, lParam);
}

LRESULT CIVDShellView::OnNotify(NMHDR* header) {
    if (header == nullptr || header->hwndFrom == nullptr) return 0;
    if (header->hwndFrom == m_list) {
        switch (header->code) {
            case NM_CUSTOMDRAW:
                return OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
            case LVN_DELETEITEM:
                ::ILFree(reinterpret_cast<LPITEMIDLIST>(reinterpret_cast<NMLISTVIEW*>(header)->lParam));
                return 0;
            case LVN_COLUMNCLICK:
                OnHeaderClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
                return 0;
            case LVN_ITEMACTIVATE:
                OnItemActivated(reinterpret_cast<NMITEMACTIVATE*>(header)->iItem);
                return 0;
            default:
                return 0;
        }
    }
    if (header->hwndFrom == ListView_GetHeader(m_list)) {
        if (header->code == HDN_TRACKW || header->code == HDN_ITEMCHANGINGW) {
            auto* change = reinterpret_cast<NMHEADERW*>(header);
            if (change->pitem && (change->pitem->mask & HDI_WIDTH) && change->pitem->cxy < 80) change->pitem->cxy = 80;
        }
    }
    return 0;
}

LRESULT CIVDShellView::OnCustomDraw(NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            const auto item = reinterpret_cast<vd::PcPidl>(draw->nmcd.lItemlParam);
            if (item != nullptr && VDPidlMgr::GetItemType(item) == vd::kKindContent) {
                LVITEMW row = {};
                row.mask = LVIF_IMAGE;
                row.iItem = static_cast<int>(draw->nmcd.dwItemSpec);
                if (ListView_GetItem(m_list, &row)) CheckPaintedImage(row.iItem, item, row.iImage);
            }
            return CDRF_NOTIFYPOSTPAINT;
        }
        case CDDS_ITEMPOSTPAINT: {
            const auto item = reinterpret_cast<vd::PcPidl>(draw->nmcd.lItemlParam);
            if (item == nullptr) return CDRF_DODEFAULT;
            const std::uint32_t state = VDPidlMgr::GetState(item);
            const int size = (GetViewStyle() & LVS_TYPEMASK) == LVS_REPORT ? 16 : 32;
            HICON overlay = OverlayIcon(state, size);
            if (overlay == nullptr) return CDRF_DODEFAULT;
            RECT icon = {};
            icon.left = LVIR_ICON;
            if (::SendMessageW(m_list, LVM_GETITEMRECT, draw->nmcd.dwItemSpec, reinterpret_cast<LPARAM>(&icon))) {
                const int x = icon.left + (icon.right - icon.left - size) / 2;
                const int y = icon.top + (icon.bottom - icon.top - size) / 2;
                ::DrawIconEx(draw->nmcd.hdc, x, y, overlay, size, size, 0, nullptr, DI_NORMAL);
            }
            return CDRF_DODEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

void CIVDShellView::OnHeaderClick(int column) {
    m_sort.Click(column);
    SortItems();
}

bool CIVDShellView::OnKeyDown(UINT key) {
    const bool control = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
    if (key == VK_F5) {
        Refresh();
        return true;
    }
    if (control && key == 'A') {
        ListView_SetItemState(m_list, -1, LVIS_SELECTED, LVIS_SELECTED);
        return true;
    }
    return false;
}

void CIVDShellView::OnItemActivated(int row) {
    if (row < 0) row = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED);
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (row < 0 || !ListView_GetItem(m_list, &item) || item.lParam == 0) return;
    const auto bytes = reinterpret_cast<vd::PcPidl>(item.lParam);
    const int kind = VDPidlMgr::GetItemType(bytes);
    if (kind == vd::kKindContent) {
        OnItemActivatedFile(bytes);
        return;
    }
    if (kind == vd::kKindNode) {
        const int index = VDPidlMgr::GetNodeIndex(bytes);
        if (index == vd::kNodeCalendar || index == vd::kNodeMessages || index == vd::kNodeContacts ||
            index == vd::kNodeNotes) {
            vd::ShellEnv::ShellNimbraView(index, m_window);  // their pages are the desktop client's
            return;
        }
    }
    // A folder (or a node that lists items) opens in this browser.
    LPCITEMIDLIST root = vd::ShellEnv::RootList();
    if (root == nullptr || !m_browser) return;
    LPITEMIDLIST folder = m_pidl ? ::ILCombine(root, m_pidl) : ::ILClone(root);
    LPITEMIDLIST target = folder ? ::ILCombine(folder, reinterpret_cast<LPCITEMIDLIST>(bytes)) : nullptr;
    ::ILFree(folder);
    if (target == nullptr) return;
    m_browser->BrowseObject(target, SBSP_SAMEBROWSER | SBSP_ABSOLUTE);
    ::ILFree(target);
}

void CIVDShellView::OnItemActivatedFile(vd::PcPidl item) {
    if (ListView_GetSelectedCount(m_list) > 1) return;
    // In a file dialog the dialog takes the file.
    ComPtr<ICommDlgBrowser> dialog;
    if (m_browser && SUCCEEDED(m_browser->QueryInterface(IID_ICommDlgBrowser, dialog.put_void())) && dialog) {
        ::SendMessageW(m_parent, WM_COMMAND, IDOK, 0);
        return;
    }
    // Opened from the account's open-files folder, in the item's folders, and
    // sent back when it changes there.
    std::u16string target = vd::CVDLogin::GetInstance().OpenFilesFolder();
    if (target.empty()) return;
    constexpr std::size_t kFullNameChars = 519;  // the display path's longest
    char16_t full[kFullNameChars + 1] = {};
    std::size_t length = kFullNameChars;
    LPITEMIDLIST path = m_pidl ? ::ILCombine(m_pidl, reinterpret_cast<LPCITEMIDLIST>(item))
                               : ::ILClone(reinterpret_cast<LPCITEMIDLIST>(item));
    const bool named = path && VDPidlMgr::GetFullName(Bytes(path), full, length) >= 0;
    ::ILFree(path);
    if (!named) return;
    const std::u16string_view name(full, length);
    const std::size_t first = name.find(u'\\'), last = name.rfind(u'\\');
    if (first != std::u16string_view::npos && last > first) {
        target += u"\\";
        target += name.substr(first + 1, last - first - 1);
    }
    target += u"\\";
    const int made = ::SHCreateDirectoryExW(nullptr, reinterpret_cast<const wchar_t*>(target.c_str()), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
        VD_LOG_ERROR("CreateMultiDir Fail! %s", platform::WideToAnsi(target).c_str());
        return;
    }
    vdtransfer::CloudEntry entry;
    entry.id = platform::WideToAnsi(VDPidlMgr::GetIdString(item));
    entry.name = platform::WideToAnsi(VDPidlMgr::GetName(item));
    entry.size = VDPidlMgr::GetSize(item);
    entry.fullId = entry.id;
    entry.parentId = m_catalogId;
    auto* task = new vdtransfer::CVDDownloadFileTask();
    if (task->StartDownloadServer({entry}, m_window, 3, false, platform::WideToAnsi(target), "") != 0) {
        VD_LOG_ERROR("the file could not be opened: its download did not start");
    }
}

void CIVDShellView::SortItems() {
    std::pair<SortState, bool> context{m_sort, m_shareView};
    ListView_SortItems(m_list, &CompareItems, reinterpret_cast<LPARAM>(&context));
}

// ------------------------------------------------------------------ loading bar

void CIVDShellView::ShowLoadingBar() {
    if (m_loadingBar == nullptr) return;
    ::SetTimer(m_loadingBar, kLoadingTimer, 100, nullptr);
    RECT client = {};
    ::GetClientRect(m_list, &client);
    ::SetWindowPos(m_loadingBar, HWND_TOP, client.right / 2 - 130, client.bottom / 2 - 32, 260, 32,
                   SWP_SHOWWINDOW | SWP_NOACTIVATE);
}

void CIVDShellView::HideLoadingBar() {
    if (m_loadingBar == nullptr) return;
    ::KillTimer(m_loadingBar, kLoadingTimer);
    ::ShowWindow(m_loadingBar, SW_HIDE);
}

LRESULT CALLBACK CIVDShellView::LoadingBarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* view = reinterpret_cast<CIVDShellView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_TIMER:
            if (wParam == kLoadingTimer) {
                view->m_loadingFrame = (view->m_loadingFrame + 1) % 6;
                ::InvalidateRect(window, nullptr, FALSE);
                return 0;
            }
            break;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(window, &paint);
            RECT client = {};
            ::GetClientRect(window, &client);
            ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            int textLeft = 10;
            HBITMAP frame = static_cast<HBITMAP>(::LoadImageW(VDModule::GetResourceInstance(),
                                                              MAKEINTRESOURCEW(IDB_LOADING_FIRST + view->m_loadingFrame),
                                                              IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
            if (frame) {
                BITMAP info = {};
                ::GetObjectW(frame, sizeof info, &info);
                HDC memory = ::CreateCompatibleDC(dc);
                HGDIOBJ old = ::SelectObject(memory, frame);
                ::BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
                ::SelectObject(memory, old);
                ::DeleteDC(memory);
                ::DeleteObject(frame);
                textLeft = info.bmWidth + 10;
            }
            HFONT font = ::CreateFontW(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"微软雅黑");
            HGDIOBJ oldFont = ::SelectObject(dc, font);
            ::SetBkMode(dc, TRANSPARENT);
            const std::wstring text = Text(407);
            ::TextOutW(dc, textLeft, 8, text.c_str(), static_cast<int>(text.size()));
            ::SelectObject(dc, oldFont);
            ::DeleteObject(font);
            ::EndPaint(window, &paint);
            return 0;
        }
        case WM_NCDESTROY: {
            WNDPROC previous = view->m_barProc;
            ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            return ::CallWindowProcW(previous, window, message, wParam, lParam);
        }
        default:
            break;
    }
    return ::CallWindowProcW(view->m_barProc, window, message, wParam, lParam);
}

// ------------------------------------------------------------------ filling

void CIVDShellView::PostUpdateMainWnd(bool force) {
    if (m_quit.load()) return;
    if (!m_threadRunning.load()) {
        if (m_thread.joinable()) m_thread.join();
        if (m_wake == nullptr) m_wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (m_wake == nullptr) return;
        m_threadRunning.store(true);
        // The thread holds a reference: a view released while it fills stays until the fill ends.
        AddRef();
        m_thread = std::thread([this] {
            platform::NoThrow("CIVDShellView::ViewListThread", [&] { ViewListThread(); });
            m_threadRunning.store(false);
            m_canDestroy.store(true);
            Release();
        });
    }
    m_force.store(force);
    ::SetEvent(m_wake);
}

void CIVDShellView::RequestFill(FillMode mode, bool force) {
    int pending = m_fillRequest.load();
    int merged;
    do {
        merged = pending < 0 ? static_cast<int>(mode)
                             : static_cast<int>(MergeFillRequests(static_cast<FillMode>(pending), mode));
    } while (!m_fillRequest.compare_exchange_weak(pending, merged));
    PostUpdateMainWnd(force);
}

void CIVDShellView::QuitViewListThread() {
    m_quit.store(true);
    if (m_wake) ::SetEvent(m_wake);
}

void CIVDShellView::ViewListThread() {
    static std::atomic<bool> asked{false};
    while (true) {
        const DWORD waited = ::WaitForSingleObject(m_wake, 2000);
        if (m_quit.load()) return;
        if (waited != WAIT_OBJECT_0) continue;
        _FillListViewEx();
        // After the first fill of the process, the desktop client is asked for
        // the sync folders' states, from this thread: it may be slow to
        // answer, and neither the shell's thread nor the first rows wait for it.
        if (!asked.exchange(true) &&
            !vd::Untils::SendToNimbra(vd::NIMBRA_SYNC_STATE_REQUEST, std::string_view(), 5000)) {
            VD_LOG_WARN("侧边栏主动向同步盘获取状态失败 ErrorCode=%lu", ::GetLastError());
        }
    }
}

void CIVDShellView::_FillListViewEx() {
    const int request = m_fillRequest.exchange(-1);
    if (request < 0) return;  // taken by the fill before this wake
    const auto mode = static_cast<FillMode>(request);
    const bool pageMode = mode == FillMode::NextPage;
    FillPlan plan(mode, pageMode, m_listedEnd.load());
    ++m_fillCount;
    if (m_fillCount == 1 && m_loadingWanted.load()) ::PostMessageW(m_list, WM_VD_LOADING, 1, 0);
    if (plan.ClearsList()) {
        std::lock_guard<std::mutex> guard(m_pagesLock);
        m_pages.push_back(PagePlan{});
        m_listedEnd.store(0);
    }
    ::PostMessageW(m_list, WM_VD_UPDATE_LISTS, 0, 0);
    // Only a first fill and a user's refresh ask the cloud; every other fill
    // shows what the cache holds, so a record never starts another listing.
    bool askCloud = (mode == FillMode::First || mode == FillMode::Refresh) && !pageMode;
    constexpr SHCONTF kFlags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
    bool more = true;
    while (more && !m_quit.load()) {
        bool atEnd = true;
        bool loading = false;
        ComPtr<IEnumIDList> items;
        // Pages come from the cache alone, so what it holds shows at once.
        const HRESULT hr = m_folder->EnumObjectsEx(nullptr, kFlags, items.put(), plan.First(), plan.Last(), &atEnd,
                                                   &loading);
        if (FAILED(hr) || !items) {
            VD_LOG_ERROR("显示接口调用失败");
        } else {
            {
                std::lock_guard<std::mutex> guard(m_pagesLock);
                m_pages.push_back(PagePlan{items, plan.First(), atEnd});
            }
            ::PostMessageW(m_list, WM_VD_DRAW_PAGE, 0, 0);
        }
        if (askCloud) {
            // Then the cloud is asked for the folder again (starting a listing
            // takes a while); what it finds comes back as records.
            askCloud = false;
            ComPtr<IEnumIDList> ignored;
            bool ignoredEnd = true;
            m_folder->EnumObjectsEx(m_window, kFlags, ignored.put(), 0, 1, &ignoredEnd, &loading);
        }
        m_loadingWanted.store(m_fillCount < 2 && loading);
        if (!m_loadingWanted.load()) ::PostMessageW(m_list, WM_VD_LOADING, 0, 0);
        more = plan.Advance(atEnd);
        if (more) ::Sleep(kPagePauseMs);
    }
    if (!m_quit.load()) RefreshThumbnails();
}

void CIVDShellView::DrawViewList() {
    std::deque<PagePlan> pages;
    {
        std::lock_guard<std::mutex> guard(m_pagesLock);
        pages.swap(m_pages);
    }
    if (pages.empty()) return;
    ::SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
    for (PagePlan& page : pages) {
        if (m_quit.load()) break;
        DrawPage(page);
    }
    ::SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(m_list, nullptr, FALSE);
    m_canDestroy.store(true);
}

void CIVDShellView::DrawPage(PagePlan& page) {
    if (!page.items) {
        DeleteCtrlItem();
        return;
    }
    ShellViewHelper& helper = ShellViewHelper::Instance();
    std::map<std::string, std::string> sharers;
    if (m_shareView) vdcache::CVDCache::GetInstance()->GetShareUser(sharers);
    std::map<std::string, int> syncStates;
    {
        std::lock_guard<std::mutex> guard(g_viewsLock);
        syncStates = g_syncStates;
    }
    int entries = 0;
    LPITEMIDLIST item = nullptr;
    while (!m_quit.load() && page.items->Next(1, &item, nullptr) == S_OK) {
        vd::PidlPtr bytes = reinterpret_cast<vd::PidlPtr>(item);
        const int kind = VDPidlMgr::GetItemType(bytes);
        if (kind != vd::kKindNode) ++entries;
        char16_t id[vd::pidl_layout::kIdChars + 1] = {};
        std::size_t idLength = vd::pidl_layout::kIdChars;
        const bool hasId = VDPidlMgr::GetId(bytes, id, idLength);
        if (hasId && kind != vd::kKindContent) {
            const auto sync = syncStates.find(platform::WideToAnsi(std::u16string_view(id, idLength)));
            if (sync != syncStates.end()) {
                VDPidlMgr::SetState(bytes, ComposeSyncOverlay(VDPidlMgr::GetState(bytes), sync->second));
            }
        }
        std::wstring name = W(VDPidlMgr::GetName(bytes));
        int image = -1;
        if (kind == vd::kKindContent && hasId) image = helper.FindThumbnail(W(std::u16string(id, idLength)));
        if (image < 0) image = helper.GetImage(bytes);
        LVITEMW row = {};
        row.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
        row.iItem = ListView_GetItemCount(m_list);
        row.pszText = name.data();
        row.iImage = image;
        row.lParam = reinterpret_cast<LPARAM>(item);
        const int at = static_cast<int>(::SendMessageW(m_list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
        if (at < 0) {
            ::ILFree(item);
            break;
        }
        std::wstring size = Detail(bytes, 2);
        std::wstring time = Detail(bytes, 3);
        if (m_shareView) {
            std::wstring sharer = Detail(bytes, 1);
            const auto known = sharers.find(platform::WideToAnsi(VDPidlMgr::GetText(bytes)));
            if (known != sharers.end() && !known->second.empty() && known->second.size() <= 248) {
                sharer = W(platform::AnsiToWide(known->second));
            }
            ListView_SetItemText(m_list, at, 1, sharer.data());
            ListView_SetItemText(m_list, at, 2, size.data());
            ListView_SetItemText(m_list, at, 3, time.data());
        } else {
            ListView_SetItemText(m_list, at, 1, size.data());
            ListView_SetItemText(m_list, at, 2, time.data());
        }
    }
    m_listedEnd.store(std::max(m_listedEnd.load(), page.first + entries));
}

// ------------------------------------------------------------------ thumbnails

void CIVDShellView::RefreshThumbnails() {
    // The files already there show as the items paint; the missing ones are
    // fetched on the prefetch pool, whose end posts WM_VD_THUMBNAILS.
    if (m_list == nullptr) return;
    ::PostMessageW(m_list, WM_VD_THUMBNAILS, 0, 0);
    vd::ShellEnv::BeginDownloadTbimg(m_catalogId, m_list, WM_VD_THUMBNAILS);
}

void CIVDShellView::QueueFix(int row) {
    if (m_imageFixes.empty()) ::PostMessageW(m_list, WM_VD_FIX_IMAGES, 0, 0);
    m_imageFixes.insert(row);
}

void CIVDShellView::CheckPaintedImage(int row, vd::PcPidl item, int image) {
    ShellViewHelper& helper = ShellViewHelper::Instance();
    const std::wstring id = W(VDPidlMgr::GetIdString(item));
    if (id.empty()) return;
    const int thumbnail = helper.FindThumbnail(id);
    if (thumbnail >= 0) {
        helper.Touch(id);
        if (image != thumbnail) QueueFix(row);
        return;
    }
    // No thumbnail in memory: a picture pointing at a slot is a thumbnail
    // that went (or another item's now); one whose file is there is built.
    if (helper.IsThumbnailSlot(image)) {
        QueueFix(row);
        return;
    }
    const std::wstring key = ImageKeyOf(item);
    if (key == L".null") return;
    if (!m_thumbFolderKnown) {
        m_thumbFolder = W(vd::ShellEnv::ThumbnailFolder(m_catalogId));
        m_thumbFolderKnown = !m_thumbFolder.empty();
    }
    if (!m_thumbFolderKnown) return;
    auto [at, fresh] = m_thumbFiles.emplace(id, false);
    if (fresh) at->second = ::GetFileAttributesW((m_thumbFolder + L"\\" + id + key).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (at->second) QueueFix(row);
}

void CIVDShellView::FixImages() {
    std::set<int> rows;
    rows.swap(m_imageFixes);
    ShellViewHelper& helper = ShellViewHelper::Instance();
    for (int row : rows) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM | LVIF_IMAGE;
        item.iItem = row;
        if (!ListView_GetItem(m_list, &item) || item.lParam == 0) continue;
        const auto bytes = reinterpret_cast<vd::PcPidl>(item.lParam);
        const std::wstring id = W(VDPidlMgr::GetIdString(bytes));
        const std::wstring key = ImageKeyOf(bytes);
        int image = helper.FindThumbnail(id);
        const auto file = m_thumbFiles.find(id);
        if (image < 0 && file != m_thumbFiles.end() && file->second) {
            image = helper.InsertThumbnail(id, m_thumbFolder + L"\\" + id + key, key);
        }
        if (image < 0) image = helper.GetImage(bytes);
        if (image >= 0 && image != item.iImage) {
            item.mask = LVIF_IMAGE;
            item.iImage = image;
            ListView_SetItem(m_list, &item);
        }
    }
}

// ------------------------------------------------------------------ records

bool CIVDShellView::ShellServerProc(std::uint64_t code, std::string_view bytes) {
    const DWORD start = ::GetTickCount();
    VD_LOG_INFO("云端推送任务开始时间：%d毫秒   pDataStruct->dwData=%d", static_cast<int>(start), static_cast<int>(code));
    const vd::ViewDecode decoded = vd::DecodeViewRecord(code, bytes);
    if (!decoded.ok) {
        VD_LOG_WARN("record %llu dropped: %s", static_cast<unsigned long long>(code),
                    vd::RecordDropName(decoded.reason));
        return false;
    }
    const vd::ViewRecord& record = decoded.record;
    switch (DecideViewAction(code, record.catalogId, Facts())) {
        case ViewAction::Refill:
            RequestFill(FillMode::RefreshCatalog, true);
            break;
        case ViewAction::DeferRefill:
            m_deferredRefresh = true;
            break;
        case ViewAction::NextPage:
            RequestFill(FillMode::NextPage, true);
            break;
        case ViewAction::Reload:
            if (m_folder) m_folder->GetDisk(m_pidl);
            break;
        case ViewAction::RedrawOverlays: {
            std::lock_guard<std::mutex> guard(g_viewsLock);
            for (const std::u16string& id : record.states.catalogIds) {
                g_syncStates[platform::WideToAnsi(id)] = static_cast<int>(record.states.first);
            }
            for (const auto& entry : g_views) ::InvalidateRect(entry.first, nullptr, FALSE);
            break;
        }
        case ViewAction::SignOut:
            vd::CVDLogin::GetInstance().OnViewRecord(record);
            SignOut();
            break;
        case ViewAction::ReadLogin:
        case ViewAction::RenewTokens:
        case ViewAction::SetProxy:
            vd::CVDLogin::GetInstance().OnViewRecord(record);
            break;
        default:
            break;
    }
    const DWORD end = ::GetTickCount();
    VD_LOG_INFO("云端推送任务结束时间：%d毫秒   耗时：%d毫秒", static_cast<int>(end), static_cast<int>(end - start));
    return true;
}

void CIVDShellView::SignOut() {
    QuitViewListThread();
    {
        std::lock_guard<std::mutex> guard(m_pagesLock);
        m_pages.clear();
    }
    DeleteCtrlItem();
    // The browser's top-level window goes: nothing of the account stays on screen.
    HWND top = m_parent ? ::GetAncestor(m_parent, GA_ROOT) : nullptr;
    if (top) ::PostMessageW(top, WM_CLOSE, 0, 0);
}

void PostToAllViews(UINT message) noexcept {
    std::lock_guard<std::mutex> guard(g_viewsLock);
    for (const auto& entry : g_views) ::PostMessageW(entry.first, message, 0, 0);
}

}  // namespace vdview
