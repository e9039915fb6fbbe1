// The cloud disk through the shell's own entry points under Wine: an
// installed layout (client and SDK in the install folder, the library one
// folder below), regsvr32, the native reference service of the fixture, and
// the desktop client started by the folder itself.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "com_ptr.h"
#include "files_data_object.h"
#include "pidl.h"
#include "platform/message_channel.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "service_account.h"
#include "e2e_install.h"
#include "wine_test_support.h"

namespace {

namespace fs = std::filesystem;

using vd::testing::kCloudDisk;
using Pidl = vd::testing::ShellPidl;

template <typename T>
using Com = vd::com::ComPtr<T>;

struct Entry {
    std::wstring name;
    SFGAOF attributes = 0;
    std::vector<BYTE> bytes;  // the element as the folder made it
};

std::wstring DisplayName(IShellFolder* folder, LPCITEMIDLIST item, SHGDNF flags) {
    STRRET ret = {};
    if (FAILED(folder->GetDisplayNameOf(item, flags, &ret))) return L"<failed>";
    wchar_t* text = nullptr;
    ::StrRetToStrW(&ret, item, &text);
    std::wstring out = text ? text : L"";
    ::CoTaskMemFree(text);
    return out;
}

HRESULT List(IShellFolder* folder, HWND window, std::vector<Entry>* out) {
    out->clear();
    Com<IEnumIDList> items;
    HRESULT hr = folder->EnumObjects(window, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put());
    if (hr != S_OK) return hr;
    LPITEMIDLIST item = nullptr;
    while (items->Next(1, &item, nullptr) == S_OK) {
        Entry e;
        e.name = DisplayName(folder, item, SHGDN_INFOLDER);
        e.attributes = 0xFFFFFFFF;
        LPCITEMIDLIST one = item;
        folder->GetAttributesOf(1, &one, &e.attributes);
        e.bytes.assign(reinterpret_cast<BYTE*>(item), reinterpret_cast<BYTE*>(item) + item->mkid.cb + 2);
        out->push_back(std::move(e));
        ::CoTaskMemFree(item);
    }
    return S_OK;
}

std::vector<std::wstring> Names(const std::vector<Entry>& entries) {
    std::vector<std::wstring> names;
    for (const Entry& e : entries) names.push_back(e.name);
    return names;
}

// Waits with this thread's messages running: windows the folder made here
// (an upload's progress dialog) live on them.
bool WaitFor(const std::function<bool()>& done, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        const auto pause = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (std::chrono::steady_clock::now() < pause) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    }
    return done();
}

// Stands in for the desktop client's page helper window.
struct Collector {
    std::mutex lock;
    std::vector<std::wstring> pages;
    std::unique_ptr<platform::MessageWindow> window;
    explicit Collector(const wchar_t* name) {
        window = platform::MessageWindow::Create(reinterpret_cast<const char16_t*>(name),
                                                 [this](std::uint64_t, std::string_view bytes) {
                                                     std::lock_guard<std::mutex> guard(lock);
                                                     std::wstring page(bytes.size() / 2, L'\0');
                                                     std::memcpy(page.data(), bytes.data(), page.size() * 2);
                                                     if (!page.empty() && page.back() == L'\0') page.pop_back();
                                                     pages.push_back(page);
                                                     return intptr_t{1};
                                                 });
    }
    std::vector<std::wstring> Pages() {
        std::lock_guard<std::mutex> guard(lock);
        return pages;
    }
};

class CloudFolder : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_port = vd::testing::CloudserverFixturePort();
        ASSERT_GT(s_port, 0) << "no port from the cloudserver fixture";
        s_install = vd::testing::InstallCloudDisk(s_port, "e2e");
        ASSERT_FALSE(s_install.empty());
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(vd::testing::UninstallCloudDisk(s_install), 0)
            << "the client the folder started did not end when asked to sign out";
    }

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        m_window = ::CreateWindowW(L"STATIC", L"vd-e2e", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_window, nullptr);
        ASSERT_EQ(::SHGetDesktopFolder(m_desktop.put()), S_OK);
        ASSERT_EQ(m_desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(kCloudDisk), nullptr,
                                              &m_rootPidl.p, nullptr),
                  S_OK);
        ASSERT_EQ(m_desktop->BindToObject(m_rootPidl.p, nullptr, IID_IShellFolder,
                                          reinterpret_cast<void**>(m_root.put())),
                  S_OK);
    }
    void TearDown() override {
        // Everything of COM's is let go while COM still runs.
        m_root.reset();
        m_desktop.reset();
        ::CoTaskMemFree(m_rootPidl.p);
        m_rootPidl.p = nullptr;
        ::DestroyWindow(m_window);
        ::OleUninitialize();
    }

    // Enumerates until `done` holds for the listing (the cache answers at
    // once and refreshes behind).
    std::vector<Entry> ListUntil(IShellFolder* folder, const std::function<bool(const std::vector<std::wstring>&)>& done) {
        std::vector<Entry> entries;
        WaitFor(
            [&] {
                return List(folder, m_window, &entries) == S_OK && done(Names(entries));
            },
            60);
        return entries;
    }

    static bool Has(const std::vector<std::wstring>& names, const std::wstring& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    }

    static inline int s_port = 0;
    static inline fs::path s_install;
    HWND m_window = nullptr;
    Com<IShellFolder> m_desktop;
    Pidl m_rootPidl;
    Com<IShellFolder> m_root;
};

TEST_F(CloudFolder, WithoutTheClientTheFolderStartsItAndIsDeniedThenListsTheSignedInTree) {
    ASSERT_FALSE(platform::NamedMutex::Exists(u"ORLOSyncLoginMutex")) << "a client is already running";
    std::vector<Entry> entries;
    EXPECT_EQ(List(m_root.get(), nullptr, &entries), E_FAIL) << "windowless and nobody signed in";
    EXPECT_EQ(List(m_root.get(), m_window, &entries), E_ACCESSDENIED);
    ASSERT_TRUE(WaitFor([] { return platform::NamedMutex::Exists(u"ORLOSyncLoginMutex"); }, 90))
        << "Nimbra.exe was not started from the install folder, or did not sign in";

    entries = ListUntil(m_root.get(), [](const auto& names) { return Has(names, L"readme.txt"); });
    // Fixed nodes, then catalogs, then contents, whatever else other tests
    // add to alice's root on the shared service meanwhile.
    ASSERT_GE(entries.size(), 7u);
    int lastKind = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int kind = entries[i].bytes[2] == 3 ? 0 : entries[i].bytes[2];  // nodes first
        EXPECT_GE(kind, lastKind) << "entry " << i << " out of order";
        lastKind = kind;
    }
    const std::vector<std::wstring> expected = {L"收到的分享", L"手机视频", L"手机图片", L"图片", L"我的文档",
                                                L"音乐", L"readme.txt"};
    std::erase_if(entries, [&](const Entry& e) { return !Has(expected, e.name); });
    ASSERT_EQ(Names(entries), expected);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].attributes & SFGAO_FOLDER, SFGAO_FOLDER) << i;
    }
    for (std::size_t i = 3; i < 6; ++i) {
        EXPECT_EQ(entries[i].attributes & 0x60000100u, 0x60000100u) << i;  // folder, file system, drop target
    }
    EXPECT_EQ(entries[6].attributes, static_cast<SFGAOF>(SFGAO_FILESYSTEM));
    EXPECT_EQ(entries[6].bytes[2], 2) << "content kind";

    // The folder itself, by parsing name; fixed nodes order by their sort index.
    Pidl empty;
    empty.p = static_cast<LPITEMIDLIST>(::CoTaskMemAlloc(2));
    empty.p->mkid.cb = 0;
    EXPECT_EQ(DisplayName(m_root.get(), empty.p, SHGDN_FORPARSING), L"Veyra云盘\\");
    auto item = [&](std::size_t i) { return reinterpret_cast<LPCITEMIDLIST>(entries[i].bytes.data()); };
    EXPECT_EQ(static_cast<short>(HRESULT_CODE(m_root->CompareIDs(0, item(2), item(0)))), -1) << "pictures before shares";
    EXPECT_EQ(HRESULT_CODE(m_root->CompareIDs(0, item(4), item(4))), 0);
    EXPECT_EQ(static_cast<short>(HRESULT_CODE(m_root->CompareIDs(0, item(1), item(3)))), -1) << "node before catalog";

    // The folder's automation base, described by the library's type library.
    {
        Com<IDispatch> dispatch;
        ASSERT_EQ(m_root->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.put())), S_OK);
        UINT count = 0;
        EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        Com<ITypeInfo> info;
        ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        const IID expected = {0xF0CB4469, 0x9AE0, 0x422F, {0x88, 0x44, 0xF4, 0xB1, 0xC8, 0xDB, 0x28, 0x9C}};
        EXPECT_TRUE(IsEqualIID(attr->guid, expected));
        info->ReleaseTypeAttr(attr);
    }

    // Columns for the shell's own view of the folder.
    {
        Com<IShellDetails> details;
        ASSERT_EQ(m_root->QueryInterface(IID_IShellDetails, reinterpret_cast<void**>(details.put())), S_OK);
        auto text = [&](LPCITEMIDLIST list, UINT column) {
            SHELLDETAILS d = {};
            if (FAILED(details->GetDetailsOf(list, column, &d))) return std::wstring(L"<failed>");
            wchar_t* t = nullptr;
            ::StrRetToStrW(&d.str, list, &t);
            std::wstring out = t ? t : L"";
            ::CoTaskMemFree(t);
            return out;
        };
        EXPECT_EQ(text(nullptr, 0), L"名称");
        EXPECT_EQ(text(nullptr, 1), L"大小");
        EXPECT_EQ(text(nullptr, 2), L"修改日期");
        EXPECT_EQ(text(nullptr, 3), L"<failed>") << "three columns";
        EXPECT_EQ(text(item(6), 0), L"readme.txt");
        EXPECT_EQ(text(item(6), 1), L"21.0 B");
        EXPECT_NE(text(item(6), 2).find(L"年"), std::wstring::npos);
        EXPECT_EQ(text(item(4), 1), L"") << "folders have no size";
    }

    // Parsing names: the temp folder stands for the disk outside Explorer.
    wchar_t documents[MAX_PATH];
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
    EXPECT_EQ(DisplayName(m_root.get(), item(6), SHGDN_FORPARSING),
              std::wstring(documents) + L"\\ORLO\\alice\\temp\\Veyra云盘\\readme.txt");
    EXPECT_EQ(DisplayName(m_root.get(), item(6), SHGDN_FORADDRESSBAR), L"Veyra云盘\\Veyra云盘\\readme.txt");
    EXPECT_EQ(DisplayName(m_root.get(), item(6), SHGDN_NORMAL), L"readme.txt");
    EXPECT_EQ(DisplayName(m_root.get(), item(6), SHGDN_INFOLDER | SHGDN_FORPARSING), L"readme.txt");
    LPCITEMIDLIST mixed[] = {item(4), item(6)};
    SFGAOF both = 0xFFFFFFFF;
    ASSERT_EQ(m_root->GetAttributesOf(2, mixed, &both), S_OK);
    EXPECT_EQ(both & ~static_cast<SFGAOF>(SFGAO_FILESYSTEM), 0u) << "a catalog and a content share at most FILESYSTEM";

    // The view of the disk, and the contacts node handed to the client's page helper.
    {
        Com<IShellView> view;
        EXPECT_EQ(m_root->CreateViewObject(m_window, IID_IShellView, reinterpret_cast<void**>(view.put())), S_OK);
        Collector helper(L"ExplorerNimbraHelper");
        vd::VDPidlMgr mgr;
        vd::UniquePidl contactsNode = mgr.Own(mgr.CreateNode(vd::kNodeContacts, u"Tallybook"));
        Com<IShellFolder> contacts;
        ASSERT_EQ(m_root->BindToObject(reinterpret_cast<LPCITEMIDLIST>(contactsNode.get()), nullptr, IID_IShellFolder,
                                       reinterpret_cast<void**>(contacts.put())),
                  S_OK);
        Com<IShellView> none;
        EXPECT_EQ(contacts->CreateViewObject(m_window, IID_IShellView, reinterpret_cast<void**>(none.put())),
                  E_NOTIMPL);
        EXPECT_EQ(none.get(), nullptr);
        EXPECT_EQ(helper.Pages(), std::vector<std::wstring>{L"contact"});
    }

    // A sub-catalog, then a change on the service after its refresh.
    Com<IShellFolder> docs;
    ASSERT_EQ(m_root->BindToObject(item(4), nullptr, IID_IShellFolder, reinterpret_cast<void**>(docs.put())), S_OK);
    auto inside = ListUntil(docs.get(), [](const auto& names) { return Has(names, L"说明.txt"); });
    EXPECT_EQ(Names(inside), (std::vector<std::wstring>{L"工作", L"说明.txt"}));

    corbel::test::Account alice;
    ASSERT_TRUE(corbel::test::SignIn(s_port, "alice", "alice-pass", &alice));
    std::string docsCatalog;
    {
        // The element holds the ID in UTF-16 at offset 6.
        const wchar_t* id = reinterpret_cast<const wchar_t*>(entries[4].bytes.data() + 6);
        for (std::size_t i = 0; i < 32 && id[i]; ++i) docsCatalog.push_back(static_cast<char>(id[i]));
    }
    ASSERT_NE(corbel::test::Mkdir(s_port, alice.token, docsCatalog, "新建文件夹"), "");
    inside = ListUntil(docs.get(), [](const auto& names) { return Has(names, L"新建文件夹"); });
    EXPECT_TRUE(Has(Names(inside), L"新建文件夹"));

    // The received share from bob and the folder inside it.
    Com<IShellFolder> shares;
    ASSERT_EQ(m_root->BindToObject(item(0), nullptr, IID_IShellFolder, reinterpret_cast<void**>(shares.put())), S_OK);
    auto received = ListUntil(shares.get(), [](const auto& names) { return Has(names, L"共享资料"); });
    ASSERT_EQ(Names(received), (std::vector<std::wstring>{L"共享资料"}));
    Com<IShellFolder> shared;
    ASSERT_EQ(shares->BindToObject(reinterpret_cast<LPCITEMIDLIST>(received[0].bytes.data()), nullptr,
                                   IID_IShellFolder, reinterpret_cast<void**>(shared.put())),
              S_OK);
    auto sharedItems = ListUntil(shared.get(), [](const auto& names) { return Has(names, L"清单.txt"); });
    EXPECT_EQ(Names(sharedItems), (std::vector<std::wstring>{L"清单.txt"}));

    // Hostile lists are refused with an HRESULT.
    struct Hostile {
        const char* what;
        std::vector<BYTE> bytes;
    };
    std::vector<BYTE> good = entries[4].bytes;
    std::vector<BYTE> truncated(good.begin(), good.begin() + 100);
    truncated[0] = 100;
    truncated[1] = 0;
    truncated.push_back(0);
    truncated.push_back(0);
    std::vector<BYTE> wrongKind = good;
    wrongKind[2] = 9;
    std::vector<BYTE> oversized = good;
    oversized[0] = 0xFF;
    oversized[1] = 0xFF;
    std::vector<BYTE> unterminated = good;
    std::fill(unterminated.begin() + 230, unterminated.end() - 2, 0x41);
    const Hostile cases[] = {{"truncated", truncated},
                             {"wrong kind", wrongKind},
                             {"oversized length", oversized},
                             {"name without its zero", unterminated}};
    for (const Hostile& h : cases) {
        auto list = reinterpret_cast<LPCITEMIDLIST>(h.bytes.data());
        void* out = nullptr;
        EXPECT_TRUE(FAILED(m_root->BindToObject(list, nullptr, IID_IShellFolder, &out))) << h.what;
        EXPECT_EQ(out, nullptr) << h.what;
        STRRET name = {};
        EXPECT_TRUE(FAILED(m_root->GetDisplayNameOf(list, SHGDN_NORMAL, &name))) << h.what;
        EXPECT_TRUE(FAILED(m_root->CompareIDs(0, list, item(4)))) << h.what;
        SFGAOF attributes = 0xFFFFFFFF;
        EXPECT_TRUE(FAILED(m_root->GetAttributesOf(1, &list, &attributes))) << h.what;
        Com<IShellDetails> details;
        ASSERT_EQ(m_root->QueryInterface(IID_IShellDetails, reinterpret_cast<void**>(details.put())), S_OK);
        SHELLDETAILS d = {};
        EXPECT_TRUE(FAILED(details->GetDetailsOf(list, 0, &d))) << h.what;
    }
}


const Entry* Find(const std::vector<Entry>& entries, const std::wstring& name) {
    for (const Entry& e : entries) {
        if (e.name == name) return &e;
    }
    return nullptr;
}

// Local files dropped on a catalog are uploaded by the rules; cloud items
// dragged onto another catalog move there on the service.
TEST_F(CloudFolder, DropsUploadLocalFilesAndMoveCloudItemsBetweenCatalogs) {
    ASSERT_TRUE(platform::NamedMutex::Exists(u"ORLOSyncLoginMutex")) << "the first test signs alice in";
    corbel::test::Account alice;
    ASSERT_TRUE(corbel::test::SignIn(s_port, "alice", "alice-pass", &alice));
    const std::string pid = std::to_string(::GetCurrentProcessId());
    ASSERT_NE(corbel::test::Mkdir(s_port, alice.token, alice.root, "拖放甲" + pid), "");
    ASSERT_NE(corbel::test::Mkdir(s_port, alice.token, alice.root, "拖放乙" + pid), "");
    const std::wstring first = L"拖放甲" + std::wstring(pid.begin(), pid.end());
    const std::wstring second = L"拖放乙" + std::wstring(pid.begin(), pid.end());
    auto root = ListUntil(m_root.get(), [&](const auto& names) { return Has(names, first) && Has(names, second); });
    const Entry* a = Find(root, first);
    const Entry* b = Find(root, second);
    ASSERT_TRUE(a && b);

    // A local tree with a dot name in it, and one file beside it.
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const fs::path local = fs::path(temp) / ("vd-drop-" + pid);
    fs::create_directories(local / L"上传树" / L"内");
    std::ofstream(local / L"上传树" / L"甲.txt") << "alpha";
    std::ofstream(local / L"上传树" / L".hidden") << "dot";
    std::ofstream(local / L"上传树" / L"内" / L"乙.bin") << std::string(70000, 'b');
    std::ofstream(local / L"单.txt") << "single";

    Com<IDropTarget> target;
    LPCITEMIDLIST aItem = reinterpret_cast<LPCITEMIDLIST>(a->bytes.data());
    ASSERT_EQ(m_root->GetUIObjectOf(m_window, 1, &aItem, IID_IDropTarget, nullptr,
                                    reinterpret_cast<void**>(target.put())),
              S_OK);
    vd::testing::FilesDataObject files({(local / L"上传树").wstring(), (local / L"单.txt").wstring()});
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(target->DragEnter(&files, MK_LBUTTON, {10, 10}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
    ASSERT_EQ(target->Drop(&files, 0, {10, 10}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY)) << "the upload started";

    Com<IShellFolder> aFolder;
    ASSERT_EQ(m_root->BindToObject(aItem, nullptr, IID_IShellFolder, reinterpret_cast<void**>(aFolder.put())), S_OK);
    auto inA = ListUntil(aFolder.get(), [](const auto& names) { return Has(names, L"上传树") && Has(names, L"单.txt"); });
    ASSERT_EQ(Names(inA), (std::vector<std::wstring>{L"上传树", L"单.txt"}));
    Com<IShellFolder> tree;
    ASSERT_EQ(aFolder->BindToObject(reinterpret_cast<LPCITEMIDLIST>(Find(inA, L"上传树")->bytes.data()), nullptr,
                                    IID_IShellFolder, reinterpret_cast<void**>(tree.put())),
              S_OK);
    auto inTree = ListUntil(tree.get(), [](const auto& names) { return Has(names, L"内") && Has(names, L"甲.txt"); });
    EXPECT_EQ(Names(inTree), (std::vector<std::wstring>{L"内", L"甲.txt"})) << "no dot names";

    // Both items of the first catalog dragged onto the second: a move on the service.
    Com<IDataObject> data;
    LPCITEMIDLIST both[] = {reinterpret_cast<LPCITEMIDLIST>(Find(inA, L"上传树")->bytes.data()),
                            reinterpret_cast<LPCITEMIDLIST>(Find(inA, L"单.txt")->bytes.data())};
    ASSERT_EQ(aFolder->GetUIObjectOf(m_window, 2, both, IID_IDataObject, nullptr, reinterpret_cast<void**>(data.put())),
              S_OK);
    Com<IDropTarget> toB;
    LPCITEMIDLIST bItem = reinterpret_cast<LPCITEMIDLIST>(b->bytes.data());
    ASSERT_EQ(m_root->GetUIObjectOf(m_window, 1, &bItem, IID_IDropTarget, nullptr, reinterpret_cast<void**>(toB.put())),
              S_OK);
    effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(toB->DragEnter(data.get(), MK_LBUTTON, {10, 10}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_MOVE));
    FORMATETC hdrop = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(data->QueryGetData(&hdrop), S_OK) << "offered to everyone else";
    ASSERT_EQ(toB->Drop(data.get(), 0, {10, 10}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_MOVE));
    Com<IShellFolder> bFolder;
    ASSERT_EQ(m_root->BindToObject(bItem, nullptr, IID_IShellFolder, reinterpret_cast<void**>(bFolder.put())), S_OK);
    auto inB = ListUntil(bFolder.get(), [](const auto& names) { return Has(names, L"上传树") && Has(names, L"单.txt"); });
    EXPECT_EQ(Names(inB), (std::vector<std::wstring>{L"上传树", L"单.txt"}));
    inA = ListUntil(aFolder.get(), [](const auto& names) { return names.empty(); });
    EXPECT_TRUE(inA.empty()) << "moved, not copied";

    // The folder's view answers with a drop target of its own.
    Com<IDropTarget> viewTarget;
    EXPECT_EQ(bFolder->CreateViewObject(m_window, IID_IDropTarget, reinterpret_cast<void**>(viewTarget.put())), S_OK);
    std::error_code ignored;
    fs::remove_all(local, ignored);
}

// Rows under parents nobody opens, so that the account's cache is large.
void GrowCache(const fs::path& db, int rows) {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.string().c_str(), &h), SQLITE_OK);
    sqlite3_busy_timeout(h, 30000);
    ASSERT_EQ(sqlite3_exec(h, "begin immediate", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(h, "insert into contents(parentID,contentID,contentName,updateTime) values(?,?,?,?)", -1,
                                 &st, nullptr),
              SQLITE_OK);
    for (int i = 0; i < rows; ++i) {
        const std::string parent = "filler" + std::to_string(i / 500), id = "fillercontent" + std::to_string(i);
        sqlite3_bind_text(st, 1, parent.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, "photo.jpg", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 4, "20240101000000", -1, SQLITE_STATIC);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    EXPECT_EQ(sqlite3_exec(h, "commit", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(h);
}

// A fresh process (Explorer starting, a program opening a file dialog) with
// a large account: it signs in and lists the root from the file while the
// rest of the cache still loads, and shows the root as it is stored.
TEST_F(CloudFolder, AFreshProcessListsALargeAccountWhileItsCacheLoads) {
    ASSERT_TRUE(platform::NamedMutex::Exists(u"ORLOSyncLoginMutex")) << "the first test signs alice in";
    wchar_t documents[MAX_PATH];
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
    const fs::path db = fs::path(documents) / "ORLO" / "alice" / "cache.db";
    ASSERT_TRUE(fs::exists(db));
    GrowCache(db, 300000);

    const fs::path lister = vd::testing::ExeFolder() / "shell_list.exe";
    // cmd takes off one pair of quotes around the whole line.
    FILE* out = ::_wpopen((L"\"\"" + lister.wstring() + L"\" \"" + kCloudDisk + L"\"\"").c_str(), L"r");
    ASSERT_NE(out, nullptr);
    std::vector<std::wstring> names;
    char line[1024];
    while (std::fgets(line, sizeof line, out)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::u16string wide = platform::Utf8ToUtf16(text);
        names.emplace_back(wide.begin(), wide.end());
    }
    // The lister has printed and ends: the library's teardown must not wait
    // for threads the process's exit has already stopped (the process
    // logger's writer once waited 1.5 s a record for its gone drain thread).
    const ULONGLONG printed = ::GetTickCount64();
    EXPECT_EQ(::_pclose(out), 0);
    EXPECT_LT(::GetTickCount64() - printed, 15000u) << "the lister took long to end after its output";
    for (const wchar_t* name : {L"收到的分享", L"手机视频", L"手机图片", L"我的文档", L"readme.txt"}) {
        EXPECT_TRUE(Has(names, name)) << "missing from a fresh process's root: " << platform::WideToUtf8(
            std::u16string(name, name + std::wcslen(name)));
    }
}

}  // namespace
