// The cloud disk's own view under Wine, hosted the way Explorer hosts it:
// the installed library, the desktop client signed in to a reference service
// whose alice also has a catalog of 100,000 contents, and a shell browser of
// the test's own.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "e2e_install.h"
#include "message_pump.h"
#include "pidl.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/sync.h"
#include "service_account.h"
#include "view_host.h"
#include "wine_test_support.h"

namespace {

namespace fs = std::filesystem;
using vd::testing::PumpUntil;
using vd::testing::ViewHost;

constexpr wchar_t kMyComputer[] = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
using vd::testing::kCloudDisk;
constexpr wchar_t kSyncFolder[] =
    L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{A7DEC21D-4E2C-40F8-BA7D-EB5023600937}";

template <typename T>
using Com = vd::com::ComPtr<T>;

using Pidl = vd::testing::ShellPidl;

// Records the first page record that reaches a view window: a window of the
// views' class below a browser frame, as every view window is.
class PageSpy {
public:
    PageSpy() {
        static ATOM atom = [] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = &PageSpy::Proc;
            wc.hInstance = ::GetModuleHandleW(nullptr);
            wc.lpszClassName = L"VDViewClass";
            return ::RegisterClassW(&wc);
        }();
        (void)atom;
        m_frame = ::CreateWindowW(L"CabinetWClass", L"spy", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                  nullptr);
        m_window = ::CreateWindowW(L"VDViewClass", nullptr, WS_CHILD, 0, 0, 1, 1, m_frame, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~PageSpy() { ::DestroyWindow(m_frame); }
    ULONGLONG FirstPageTick() const { return m_firstPage.load(); }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* spy = reinterpret_cast<PageSpy*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (spy && message == WM_COPYDATA && reinterpret_cast<COPYDATASTRUCT*>(lParam)->dwData == 410) {
            ULONGLONG none = 0;
            spy->m_firstPage.compare_exchange_strong(none, ::GetTickCount64());
            return 1;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    HWND m_frame = nullptr;
    HWND m_window = nullptr;
    std::atomic<ULONGLONG> m_firstPage{0};
};

// An icon drawn at 32 x 32 on white, its pixels; empty when it did not draw.
std::vector<std::uint32_t> IconPixels(HICON icon) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB};
    HDC dc = ::CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<std::uint32_t> pixels;
    if (bitmap) {
        HGDIOBJ old = ::SelectObject(dc, bitmap);
        auto* p = static_cast<std::uint32_t*>(bits);
        std::fill(p, p + 32 * 32, 0xFFFFFFFFu);
        if (::DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL)) pixels.assign(p, p + 32 * 32);
        ::SelectObject(dc, old);
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(dc);
    if (std::all_of(pixels.begin(), pixels.end(), [](std::uint32_t v) { return (v & 0xFFFFFF) == 0xFFFFFF; })) {
        pixels.clear();  // nothing drawn
    }
    return pixels;
}

// A left click on a column header, as the list reports it to the view.
void ClickHeader(const ViewHost& host, int column) {
    NMLISTVIEW click = {};
    click.hdr.hwndFrom = host.List();
    click.hdr.idFrom = 123;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    ::SendMessageW(host.View(), WM_NOTIFY, 123, reinterpret_cast<LPARAM>(&click));
}

class CloudView : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_port = vd::testing::CloudserverFixturePort();
        ASSERT_GT(s_port, 0) << "no port from the cloudserver fixture";
        ASSERT_FALSE(platform::NamedMutex::Exists(u"ORLOSyncLoginMutex")) << "a client is already running";
        s_install = vd::testing::InstallCloudDisk(s_port, "view");
        ASSERT_FALSE(s_install.empty());
        auto client = platform::Process::Launch((s_install / "Nimbra.exe").u16string(), {});
        ASSERT_TRUE(client != nullptr);
        ASSERT_TRUE(PumpUntil([] { return platform::NamedMutex::Exists(u"ORLOSyncLoginMutex"); }, 90000))
            << "Nimbra.exe did not sign in";
        ASSERT_TRUE(corbel::test::SignIn(s_port, "alice", "alice-pass", &s_alice));
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(vd::testing::UninstallCloudDisk(s_install), 0) << "the client did not end when asked to sign out";
    }

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        ASSERT_EQ(::SHGetDesktopFolder(m_desktop.put()), S_OK);
        ASSERT_EQ(m_desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(kCloudDisk), nullptr,
                                              &m_rootPidl.p, nullptr),
                  S_OK);
        ASSERT_EQ(m_desktop->BindToObject(m_rootPidl.p, nullptr, IID_IShellFolder, m_root.put_void()), S_OK);
    }
    void TearDown() override {
        m_root.reset();
        m_desktop.reset();
        ::OleUninitialize();
    }

    // The view style the next view starts with: report (true) or icons.
    static void SetReportStyle(bool report) {
        wchar_t documents[MAX_PATH];
        ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
        const fs::path file = fs::path(documents) / "ORLO" / "alice" / "NimbraSet.ini";
        fs::create_directories(file.parent_path());
        ASSERT_TRUE(::WritePrivateProfileStringW(L"Pandrel", L"VDViewStyle", report ? L"1" : L"0", file.c_str()));
    }

    // Calls `found` with the root's child of that name once the root lists it.
    bool WithChild(const std::wstring& name, const std::function<void(LPCITEMIDLIST)>& found) {
        return PumpUntil(
            [&] {
                Com<IEnumIDList> items;
                if (m_root->EnumObjects(::GetDesktopWindow(), SHCONTF_FOLDERS, items.put()) != S_OK) return false;
                bool seen = false;
                LPITEMIDLIST item = nullptr;
                while (!seen && items->Next(1, &item, nullptr) == S_OK) {
                    STRRET ret = {};
                    wchar_t text[MAX_PATH] = {};
                    if (SUCCEEDED(m_root->GetDisplayNameOf(item, SHGDN_INFOLDER, &ret))) {
                        ::StrRetToBufW(&ret, item, text, MAX_PATH);
                    }
                    if (name == text) {
                        found(item);
                        seen = true;
                    }
                    ::CoTaskMemFree(item);
                }
                return seen;
            },
            60000);
    }
    Com<IShellFolder> Child(const std::wstring& name) {
        Com<IShellFolder> child;
        WithChild(name, [&](LPCITEMIDLIST item) {
            m_root->BindToObject(item, nullptr, IID_IShellFolder, child.put_void());
        });
        return child;
    }
    std::string ChildId(const std::wstring& name) {
        std::string id;
        WithChild(name, [&](LPCITEMIDLIST item) {
            const std::u16string wide = vd::VDPidlMgr::GetIdString(reinterpret_cast<vd::PcPidl>(item));
            id.assign(wide.begin(), wide.end());
        });
        return id;
    }

    // Sends a record to the view window as another process would.
    static LRESULT SendRecord(HWND window, ULONG_PTR code, const std::string& bytes) {
        COPYDATASTRUCT record = {code, static_cast<DWORD>(bytes.size()), const_cast<char*>(bytes.data())};
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record), SMTO_NORMAL, 5000, &result);
        return static_cast<LRESULT>(result);
    }

    static std::string IdOf(const ViewHost& host, int row) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        if (!::SendMessageW(host.List(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) || item.lParam == 0) {
            return {};
        }
        const std::u16string id = vd::VDPidlMgr::GetIdString(reinterpret_cast<vd::PcPidl>(item.lParam));
        return std::string(id.begin(), id.end());
    }

    static inline int s_port = 0;
    static inline fs::path s_install;
    static inline corbel::test::Account s_alice;
    Com<IShellFolder> m_desktop;
    Pidl m_rootPidl;
    Com<IShellFolder> m_root;
};

TEST_F(CloudView, TheRootListsNodesCatalogsAndContentsInOrderWithTheirColumnsAndPictures) {
    SetReportStyle(true);
    ViewHost host(0, 0, 700, 420, L"root");
    ASSERT_EQ(host.Show(m_root.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return host.Find(L"readme.txt") >= 0; }, 60000)) << "the root never filled";

    // Columns of the normal view.
    HWND header = ListView_GetHeader(host.List());
    ASSERT_EQ(Header_GetItemCount(header), 3);
    const wchar_t* titles[] = {L"名称", L"大小", L"修改日期"};
    for (int i = 0; i < 3; ++i) {
        wchar_t text[64] = {};
        HDITEMW item = {};
        item.mask = HDI_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        ASSERT_TRUE(Header_GetItem(header, i, &item));
        EXPECT_STREQ(text, titles[i]);
    }

    // Fixed nodes, then catalogs, then contents, in the enumeration's order.
    const std::vector<std::wstring> expected = {L"收到的分享", L"手机视频", L"手机图片", L"图片",
                                                L"我的文档",   L"音乐",     L"readme.txt"};
    std::vector<std::wstring> names = host.Names();
    std::vector<std::wstring> seen;
    for (const std::wstring& n : names) {
        if (std::find(expected.begin(), expected.end(), n) != expected.end()) seen.push_back(n);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(std::set<std::wstring>(names.begin(), names.end()).size(), names.size()) << "a row listed twice";

    const int readme = host.Find(L"readme.txt");
    EXPECT_EQ(host.Text(readme, 1), L"21.0 B");
    EXPECT_NE(host.Text(readme, 2).find(L"年"), std::wstring::npos) << host.Text(readme, 2);
    const int pictures = host.Find(L"图片");
    EXPECT_EQ(host.Text(pictures, 1), L"") << "folders have no size";

    // One picture per kind: catalogs share the folder picture, each fixed
    // node has its own, a file has its type's.
    const int folderImage = host.Image(pictures);
    EXPECT_GE(folderImage, 0);
    EXPECT_EQ(host.Image(host.Find(L"我的文档")), folderImage);
    EXPECT_EQ(host.Image(host.Find(L"音乐")), folderImage);
    std::set<int> nodeImages;
    for (const wchar_t* node : {L"收到的分享", L"手机视频", L"手机图片"}) {
        const int image = host.Image(host.Find(node));
        EXPECT_GE(image, 0) << node;
        EXPECT_NE(image, folderImage) << node;
        nodeImages.insert(image);
    }
    EXPECT_EQ(nodeImages.size(), 3u) << "each fixed node has its own picture";
    EXPECT_GE(host.Image(readme), 0);
    EXPECT_NE(host.Image(readme), folderImage);
    EXPECT_EQ(nodeImages.count(host.Image(readme)), 0u);

    // Every row's picture draws from the list's own small list, and the
    // shared catalog's state word is what puts the share overlay on it.
    HIMAGELIST small = ListView_GetImageList(host.List(), LVSIL_SMALL);
    ASSERT_NE(small, nullptr);
    for (const wchar_t* name : {L"我的文档", L"readme.txt", L"收到的分享"}) {
        HICON icon = ImageList_GetIcon(small, host.Image(host.Find(name)), ILD_TRANSPARENT);
        EXPECT_FALSE(IconPixels(icon).empty()) << name << " has an empty picture";
        if (icon) ::DestroyIcon(icon);
    }
    auto state = [&](const wchar_t* name) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = host.Find(name);
        ::SendMessageW(host.List(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return vd::VDPidlMgr::GetState(reinterpret_cast<vd::PcPidl>(item.lParam)) & 0x7FFFFFFFu;
    };
    EXPECT_GE(state(L"我的文档"), 1u) << "shared with bob";
    EXPECT_LE(state(L"我的文档"), 3u);
    EXPECT_EQ(state(L"音乐"), 0u);

    // The status bar got the product's one part and name.
    const auto& status = host.Browser().statusMessages;
    EXPECT_NE(std::find(status.begin(), status.end(), static_cast<UINT>(SB_SETTEXTW)), status.end());

    // Sorting: the first click on the name sorts descending, folders still first.
    ClickHeader(host, 0);
    names = host.Names();
    const auto firstFile = std::find(names.begin(), names.end(), L"readme.txt");
    ASSERT_NE(firstFile, names.end());
    EXPECT_LT(host.Find(L"音乐"), host.Find(L"图片")) << "descending names";
    EXPECT_LT(host.Find(L"图片"), host.Find(L"readme.txt")) << "folders above files";
}

TEST_F(CloudView, TheTreeAndTheRootsUnderComputerGetTheLibrarysIcons) {
    Com<IShellFolder> computer;
    Pidl computerPidl;
    ASSERT_EQ(m_desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(kMyComputer), nullptr,
                                          &computerPidl.p, nullptr),
              S_OK);
    ASSERT_EQ(m_desktop->BindToObject(computerPidl.p, nullptr, IID_IShellFolder, computer.put_void()), S_OK);
    // Each root's icon location is the library's icon group its DefaultIcon names.
    struct Root {
        const wchar_t* path;
        int index;
        int resource;
    };
    const Root roots[] = {{kCloudDisk, 0, 201}, {kSyncFolder, 16, 263}};
    const fs::path dll = s_install / "Shell" / "Pandrel64.dll";
    HMODULE library = ::LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(library, nullptr);
    for (const Root& root : roots) {
        Pidl full;
        ASSERT_EQ(m_desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(root.path), nullptr, &full.p,
                                              nullptr),
                  S_OK);
        const vd::testing::IconLocation where = vd::testing::IconLocationOf(computer.get(), ::ILFindLastID(full.p));
        ASSERT_EQ(where.hr, S_OK);
        EXPECT_EQ(fs::path(where.file).filename().wstring(), L"Pandrel64.dll");
        EXPECT_EQ(where.index, root.index);
        // The icon group at that place is the root's own picture.
        HICON byIndex = nullptr;
        ASSERT_EQ(::ExtractIconExW(dll.c_str(), root.index, &byIndex, nullptr, 1), 1u);
        HICON byId = static_cast<HICON>(::LoadImageW(library, MAKEINTRESOURCEW(root.resource), IMAGE_ICON, 32, 32, 0));
        ASSERT_NE(byId, nullptr);
        const std::vector<std::uint32_t> drawn = IconPixels(byIndex);
        ASSERT_FALSE(drawn.empty()) << "icon " << root.index << " drew nothing";
        EXPECT_EQ(drawn, IconPixels(byId)) << "icon " << root.index << " is not resource " << root.resource;
        HICON report = static_cast<HICON>(::LoadImageW(library, MAKEINTRESOURCEW(226), IMAGE_ICON, 32, 32, 0));
        ASSERT_NE(report, nullptr);
        EXPECT_NE(drawn, IconPixels(report)) << "the comparison tells icons apart";
        ::DestroyIcon(report);
        ::DestroyIcon(byIndex);
        ::DestroyIcon(byId);
    }
    ::FreeLibrary(library);

    // The tree asks the folder for its items' icons.
    Com<IEnumIDList> items;
    ASSERT_EQ(m_root->EnumObjects(::GetDesktopWindow(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put()), S_OK);
    std::set<int> indexes;
    LPITEMIDLIST item = nullptr;
    int asked = 0;
    while (items->Next(1, &item, nullptr) == S_OK) {
        Com<IExtractIconW> extract;
        const vd::testing::IconLocation where = vd::testing::IconLocationOf(m_root.get(), item, &extract);
        ASSERT_EQ(where.hr, S_OK);
        EXPECT_EQ(where.flags, static_cast<UINT>(GIL_NOTFILENAME | GIL_DONTCACHE));
        HICON large = nullptr, small = nullptr;
        EXPECT_EQ(extract->Extract(where.file.c_str(), where.index, &large, &small, MAKELONG(32, 16)), S_OK);
        EXPECT_NE(large, nullptr);
        EXPECT_NE(small, nullptr);
        if (large) ::DestroyIcon(large);
        if (small) ::DestroyIcon(small);
        indexes.insert(where.index);
        ++asked;
        ::CoTaskMemFree(item);
    }
    EXPECT_GE(asked, 7);
    EXPECT_GE(indexes.size(), 5u) << "three nodes, the folder picture and a file type at least";
    // An empty item has no icon.
    Pidl empty;
    empty.p = static_cast<LPITEMIDLIST>(::CoTaskMemAlloc(2));
    empty.p->mkid.cb = 0;
    EXPECT_EQ(vd::testing::IconLocationOf(m_root.get(), empty.p).hr, E_FAIL);
}

TEST_F(CloudView, TheSeededPicturesShowTheirThumbnailsInIconView) {
    SetReportStyle(false);
    Com<IShellFolder> pictures = Child(L"图片");
    ASSERT_TRUE(pictures);
    ViewHost host(0, 0, 700, 420, L"图片");
    ASSERT_EQ(host.Show(pictures.get(), FVM_ICON), S_OK);
    ASSERT_EQ(::GetWindowLongPtrW(host.List(), GWL_STYLE) & LVS_TYPEMASK, LVS_ICON);
    // Until the thumbnails arrive both pictures show the one ".png" picture.
    ASSERT_TRUE(PumpUntil(
        [&] {
            const int a = host.Find(L"日出.png"), b = host.Find(L"海浪.png");
            return a >= 0 && b >= 0 && host.Image(a) != host.Image(b);
        },
        60000))
        << "the thumbnails never replaced the type picture";
    HIMAGELIST normal = ListView_GetImageList(host.List(), LVSIL_NORMAL);
    int cx = 0, cy = 0;
    ASSERT_TRUE(ImageList_GetIconSize(normal, &cx, &cy));
    EXPECT_EQ(cx, 76);
    EXPECT_EQ(cy, 70);
}

TEST_F(CloudView, AFolderNeverListedFillsByItselfAndShowsChangesOnTheServiceOnceAfterARefresh) {
    SetReportStyle(true);
    Com<IShellFolder> documents = Child(L"我的文档");
    ASSERT_TRUE(documents);
    ViewHost host(0, 0, 700, 420, L"我的文档");
    ASSERT_EQ(host.Show(documents.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return host.Find(L"说明.txt") >= 0 && host.Find(L"工作") >= 0; }, 60000))
        << "a first listing never reached the view";

    const std::string fileId = IdOf(host, host.Find(L"说明.txt"));
    ASSERT_FALSE(fileId.empty());
    ASSERT_TRUE(corbel::test::RenameContent(s_port, s_alice.token, fileId, "说明-改名.txt"));
    ASSERT_FALSE(corbel::test::Mkdir(s_port, s_alice.token, ChildId(L"我的文档"), "新目录").empty());
    ASSERT_EQ(host.ShellView()->Refresh(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return host.Find(L"说明-改名.txt") >= 0 && host.Find(L"新目录") >= 0; }, 60000))
        << "the rename or the new folder never showed";
    PumpUntil([] { return false; }, 1500);  // whatever else a refresh would add
    const std::vector<std::wstring> names = host.Names();
    EXPECT_EQ(std::count(names.begin(), names.end(), L"说明-改名.txt"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), L"说明.txt"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), L"工作"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), L"新目录"), 1);
    EXPECT_LT(host.Find(L"新目录"), host.Find(L"说明-改名.txt")) << "catalogs above contents";
}

TEST_F(CloudView, AHundredThousandEntryCatalogShowsItsFirstPageAtOnceAndGrowsPageByPageWhileTheWindowAnswers) {
    SetReportStyle(true);
    Com<IShellFolder> bench = Child(L"bench_100000");
    ASSERT_TRUE(bench) << "the service has no bench catalog";
    PageSpy spy;
    ViewHost host(0, 0, 700, 420, L"bench_100000");
    ASSERT_EQ(host.Show(bench.get()), S_OK);
    std::vector<int> counts;
    ULONGLONG firstRows = 0;
    DWORD slowest = 0;
    ASSERT_TRUE(PumpUntil(
        [&] {
            const ULONGLONG before = ::GetTickCount64();
            DWORD_PTR ignored = 0;
            ::SendMessageTimeoutW(host.View(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
            slowest = std::max<DWORD>(slowest, static_cast<DWORD>(::GetTickCount64() - before));
            const int count = host.Count();
            if (count > 0 && firstRows == 0) firstRows = ::GetTickCount64();
            if (counts.empty() || counts.back() != count) counts.push_back(count);
            return count >= 3000;
        },
        120000))
        << "the list stopped at " << host.Count();
    ASSERT_NE(spy.FirstPageTick(), 0u) << "no page record was broadcast";
    EXPECT_LE(firstRows - spy.FirstPageTick(), 1000u) << "the first page took long to show";
    EXPECT_GE(counts.size(), 4u) << "the list did not grow page by page";
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end())) << "the list shrank while it grew";
    EXPECT_LT(slowest, 100u) << "the view window did not answer while it filled";
    // Rows are the service's, in order, each once.
    const int count = std::min(host.Count(), 3000);
    std::set<std::wstring> distinct;
    for (int i = 0; i < count; ++i) distinct.insert(host.Text(i, 0));
    EXPECT_EQ(distinct.size(), static_cast<size_t>(count)) << "a row listed twice";
}

TEST_F(CloudView, RecordsRefillTheirFolderOnlyAndMalformedOnesAreDropped) {
    SetReportStyle(true);
    ViewHost host(0, 0, 700, 420, L"records");
    ASSERT_EQ(host.Show(m_root.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return host.Find(L"readme.txt") >= 0; }, 60000));
    PumpUntil([] { return false; }, 1000);
    const std::vector<std::wstring> listed = host.Names();

    // Sorted by name descending, the list is no longer in the listing's order.
    ClickHeader(host, 0);
    const std::vector<std::wstring> sorted = host.Names();
    ASSERT_NE(sorted, listed);

    struct Case {
        const char* what;
        ULONG_PTR code;
        std::string bytes;
        bool refills;
    };
    const std::string root("00019700101000000001\0", 21);
    const Case cases[] = {
        {"another catalog", 17, std::string("00019700101000000099\0", 21), false},
        {"no terminator", 17, "00019700101000000001", false},
        {"empty", 17, "", false},
        {"an unknown code", 4242, root, false},
        {"a page of another catalog", 410, std::string("x\0", 2), false},
        {"a page of this catalog", 410, root, false},  // more of the list, nothing twice
        {"this catalog", 17, root, true},
    };
    for (const Case& c : cases) {
        // Back to the sorted order before each record.
        if (host.Names() != sorted) {
            ClickHeader(host, 0);
            ClickHeader(host, 0);
        }
        ASSERT_EQ(host.Names(), sorted) << c.what;
        SendRecord(host.View(), c.code, c.bytes);
        if (c.refills) {
            EXPECT_TRUE(PumpUntil([&] { return host.Names() == listed; }, 10000))
                << c.what << ": the list was not filled again in the listing's order";
        } else {
            PumpUntil([] { return false; }, 700);
            EXPECT_EQ(host.Names(), sorted) << c.what;
        }
        ASSERT_TRUE(::IsWindow(host.View())) << c.what;
    }

    // A record posted from another process with an address of its own is
    // not ours to free: it is dropped and the view goes on.
    ::PostMessageW(host.View(), WM_USER + 101, 0, 0x12345678);
    PumpUntil([] { return false; }, 300);
    EXPECT_TRUE(::IsWindow(host.View()));
}

TEST_F(CloudView, AnActivatedFolderOpensInTheBrowserAndF5ShowsTheListingAgain) {
    SetReportStyle(true);
    ViewHost host(0, 0, 700, 420, L"activate");
    ASSERT_EQ(host.Show(m_root.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return host.Find(L"readme.txt") >= 0; }, 60000));
    PumpUntil([] { return false; }, 800);
    auto activate = [&](const wchar_t* name) {
        NMITEMACTIVATE note = {};
        note.hdr.hwndFrom = host.List();
        note.hdr.idFrom = 123;
        note.hdr.code = LVN_ITEMACTIVATE;
        note.iItem = host.Find(name);
        ::SendMessageW(host.View(), WM_NOTIFY, 123, reinterpret_cast<LPARAM>(&note));
    };
    // A catalog and a node that lists items open in this browser, at the
    // absolute list of root and item; the browser binds it like any other.
    for (const wchar_t* name : {L"图片", L"收到的分享"}) {
        const std::size_t before = host.Browser().browsed.size();
        activate(name);
        ASSERT_EQ(host.Browser().browsed.size(), before + 1) << "nothing opened for " << platform::WideToUtf8(
            std::u16string(name, name + std::wcslen(name)));
        const auto* list = reinterpret_cast<LPCITEMIDLIST>(host.Browser().browsed.back().data());
        EXPECT_TRUE(::ILIsParent(m_rootPidl.p, list, TRUE)) << "not a child of the cloud disk";
        Com<IShellFolder> opened;
        EXPECT_EQ(m_desktop->BindToObject(list, nullptr, IID_IShellFolder, opened.put_void()), S_OK);
        STRRET ret = {};
        wchar_t text[MAX_PATH] = {};
        ASSERT_EQ(m_root->GetDisplayNameOf(::ILFindLastID(list), SHGDN_INFOLDER, &ret), S_OK);
        ::StrRetToBufW(&ret, ::ILFindLastID(list), text, MAX_PATH);
        EXPECT_STREQ(text, name);
    }
    // F5 in the list: the listing's order again after a sort.
    const std::vector<std::wstring> listed = host.Names();
    ClickHeader(host, 0);
    ASSERT_NE(host.Names(), listed);
    ::SendMessageW(host.List(), WM_KEYDOWN, VK_F5, 0);
    EXPECT_TRUE(PumpUntil([&] { return host.Names() == listed; }, 10000)) << "F5 did not fill the list again";
}

// Last: a sign-out stops the process's transfers for good.
TEST_F(CloudView, ZSignOutEmptiesTheViewAndClosesItsWindow) {
    SetReportStyle(true);
    ViewHost host(0, 0, 700, 420, L"sign-out");
    ASSERT_EQ(host.Show(m_root.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return host.Count() > 0; }, 60000));
    const HWND frame = host.Frame();
    SendRecord(host.View(), 401, "");
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(frame); }, 10000)) << "the browser window stayed";
}

}  // namespace
