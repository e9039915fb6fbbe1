#pragma once
// The cloud disk's own view: a list of the folder's items in report or icon
// style, filled page by page on a thread of its own, following the cache's
// and the desktop client's records.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "com_object.h"
#include "com_ptr.h"
#include "view_core.h"

namespace vd {
class CIVDShellFolder;
}

namespace vdview {

// Window messages of the list view (the view's procedure runs on it).
inline constexpr UINT WM_VD_REFRESH_ALL = 2024;
inline constexpr UINT WM_VD_REFRESH_ONE = 2025;
inline constexpr UINT WM_VD_THUMBNAILS = 2029;
inline constexpr UINT WM_VD_UPDATE_LISTS = 2030;
inline constexpr UINT WM_VD_DRAW_PAGE = 2031;
inline constexpr UINT WM_VD_LOADING = 2032;  // wParam 1 show, 0 hide
inline constexpr UINT WM_VD_FIX_IMAGES = 2033;
inline constexpr int kListId = 123;
inline constexpr UINT_PTR kLoadingTimer = 1024;
inline constexpr DWORD kDefaultViewStyle = 0x56000349;

class CIVDShellView final
    : public vd::com::ComObject<CIVDShellView, IShellView, vd::com::ComAlias<IOleWindow, IShellView>> {
public:
    HRESULT FinalConstruct() noexcept;
    void FinalRelease() noexcept;
    // `folder`: the folder this view shows; `pidl` its list from the cloud root.
    HRESULT Init(vd::CIVDShellFolder* folder, LPCITEMIDLIST pidl) noexcept;

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* out) noexcept override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    // IShellView
    STDMETHODIMP TranslateAccelerator(MSG*) noexcept override { return S_FALSE; }
    STDMETHODIMP EnableModeless(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP UIActivate(UINT state) noexcept override;
    STDMETHODIMP Refresh() noexcept override;
    STDMETHODIMP CreateViewWindow(IShellView* previous, LPCFOLDERSETTINGS settings, IShellBrowser* browser, RECT* area,
                                  HWND* out) noexcept override;
    STDMETHODIMP DestroyViewWindow() noexcept override;
    STDMETHODIMP GetCurrentInfo(LPFOLDERSETTINGS out) noexcept override;
    STDMETHODIMP AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) noexcept override { return S_OK; }
    STDMETHODIMP SaveViewState() noexcept override;
    STDMETHODIMP SelectItem(PCUITEMID_CHILD, SVSIF) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetItemObject(UINT what, REFIID iid, void** out) noexcept override;

    void PostUpdateMainWnd(bool force);
    // Asks the list thread for a fill of that mode, merged with one pending.
    void RequestFill(FillMode mode, bool force);
    void QuitViewListThread();
    void UpdateViewList();
    void DeleteCtrlItem();
    static void ModifyStyle(DWORD remove, DWORD add, UINT swpFlags);
    DWORD GetViewStyle() const;
    void ShowLoadingBar();
    void HideLoadingBar();
    HWND ListWindow() const noexcept { return m_list; }

    // Handles one copy-data record: from the desktop client, the cache or
    // another view. False when it was malformed and dropped.
    bool ShellServerProc(std::uint64_t code, std::string_view bytes);

private:
    struct PagePlan {
        vd::com::ComPtr<IEnumIDList> items;  // null: clear the list
        int first = 0;
        bool last = false;  // the fill's last page
    };

    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK LoadingBarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnViewMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnListMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnNotify(NMHDR* header);
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);

    void OnCreate();
    void OnSize(int width, int height);
    bool _CreateListView();
    void _InitListView();
    void _UpdateShellSettings();
    void _ViewActivate(UINT state);
    void _ViewDeactivate();

    void ViewListThread();
    void _FillListViewEx();
    void DrawViewList();
    void DrawPage(PagePlan& page);
    void OnHeaderClick(int column);
    // A double-click or Enter: a folder opens in the browser, a fixed node's
    // page goes to the desktop client, a file is downloaded and opened.
    void OnItemActivated(int row);
    void OnItemActivatedFile(vd::PcPidl item);
    // True when the key was handled and goes no further.
    bool OnKeyDown(UINT key);
    void SortItems();
    void RefreshThumbnails();
    // Thumbnails go in as items are painted: a painted item whose picture is
    // not its thumbnail (or points at a thumbnail that went) is queued, and
    // the queue is worked off after the paint.
    void CheckPaintedImage(int row, vd::PcPidl item, int image);
    void QueueFix(int row);
    void FixImages();
    void SignOut();

    ViewFacts Facts() const;
    bool IsReceivedSharesTree() const;

    vd::com::ComPtr<vd::CIVDShellFolder> m_folder;
    LPITEMIDLIST m_pidl = nullptr;  // from the cloud root; null for the root
    std::string m_catalogId;
    vd::com::ComPtr<IShellBrowser> m_browser;
    vd::com::ComPtr<IDropTarget> m_dropTarget;
    FOLDERSETTINGS m_settings = {};
    HWND m_parent = nullptr;
    HWND m_window = nullptr;
    HWND m_list = nullptr;
    HWND m_loadingBar = nullptr;
    WNDPROC m_listProc = nullptr;
    WNDPROC m_barProc = nullptr;
    DWORD m_viewStyle = kDefaultViewStyle;
    SortState m_sort;
    bool m_shareView = false;
    UINT m_uiState = SVUIA_DEACTIVATE;
    HMENU m_menu = nullptr;

    // Fill state: the thread's flags and the pages it hands to the window.
    std::thread m_thread;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_threadRunning{false};
    std::atomic<bool> m_force{false};
    HANDLE m_wake = nullptr;
    std::atomic<int> m_fillRequest{-1};  // the FillMode asked for and not yet taken; -1 none
    std::atomic<int> m_listedEnd{0};  // catalog entries the list holds (fixed nodes not counted)
    int m_fillCount = 0;
    std::atomic<bool> m_loadingWanted{true};
    int m_loadingFrame = 0;
    std::atomic<bool> m_canDestroy{false};
    bool m_deferredRefresh = false;
    std::mutex m_pagesLock;
    std::deque<PagePlan> m_pages;
    std::set<int> m_imageFixes;             // rows painted with the wrong picture
    std::map<std::wstring, bool> m_thumbFiles;  // content ID: its thumbnail file is there
    std::wstring m_thumbFolder;
    bool m_thumbFolderKnown = false;
};

// Creates the view of a folder (the folder's CreateViewObject).
HRESULT CreateCloudView(vd::CIVDShellFolder* folder, LPCITEMIDLIST pidl, REFIID iid, void** out) noexcept;

}  // namespace vdview
