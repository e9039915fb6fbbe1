// Copy-data delivery under Wine: a view window of this process below an
// Explorer-class window, a stand-in for the desktop client's window and its
// page helper, all real windows.
#include "untils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "nimbra_messages.h"
#include "platform/files.h"
#include "platform/message_channel.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "message_box.h"
#include "shell_env.h"
#include "vd_module.h"

namespace vd {
namespace {

struct Received {
    UINT message;
    ViewDecode decoded;
};
std::vector<Received> g_received;
int g_refused = 0;

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_VD_COPYDATA) {
        std::unique_ptr<PostedCopyData> copy = PostedCopyData::Take(lp);
        if (!copy) {
            ++g_refused;
            return 0;
        }
        g_received.push_back({message, DecodeViewRecord(copy->record.dwData, copy->bytes)});
        return 0;
    }
    if (message == WM_COPYDATA) {
        const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        const std::string_view bytes(static_cast<const char*>(record->lpData), record->cbData);
        g_received.push_back({message, DecodeViewRecord(record->dwData, bytes)});
        return TRUE;
    }
    return ::DefWindowProcW(window, message, wp, lp);
}

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// Records what a named copy-data window receives.
struct Collector {
    std::mutex lock;
    std::vector<std::pair<std::uint64_t, std::string>> records;
    std::unique_ptr<platform::MessageWindow> window;

    explicit Collector(std::u16string_view name) {
        window = platform::MessageWindow::Create(name, [this](std::uint64_t code, std::string_view bytes) {
            std::lock_guard<std::mutex> guard(lock);
            records.emplace_back(code, std::string(bytes));
            return intptr_t{1};
        });
    }
    std::vector<std::pair<std::uint64_t, std::string>> Take() {
        std::lock_guard<std::mutex> guard(lock);
        return std::exchange(records, {});
    }
};

bool Register(const wchar_t* name, WNDPROC proc) {
    WNDCLASSW c = {};
    c.lpfnWndProc = proc;
    c.hInstance = ::GetModuleHandleW(nullptr);
    c.lpszClassName = name;
    return ::RegisterClassW(&c) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// An Explorer-class window with a view window two levels below it.
struct ExplorerWithView {
    HWND explorer = nullptr;
    HWND view = nullptr;
    ExplorerWithView() {
        if (!Register(L"CabinetWClass", ::DefWindowProcW) || !Register(L"VDViewClass", ViewProc)) {
            return;
        }
        HINSTANCE instance = ::GetModuleHandleW(nullptr);
        explorer = ::CreateWindowW(L"CabinetWClass", L"e", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                   instance, nullptr);
        HWND pane = ::CreateWindowW(L"STATIC", L"", WS_CHILD, 0, 0, 50, 50, explorer, nullptr, instance, nullptr);
        view = ::CreateWindowW(L"VDViewClass", L"", WS_CHILD, 0, 0, 10, 10, pane, nullptr, instance, nullptr);
    }
    ~ExplorerWithView() {
        if (explorer != nullptr) {
            ::DestroyWindow(explorer);
        }
    }
};

TEST(Untils, ViewsOfThisProcessGetAPostedCopyAndEveryViewGetsPages) {
    ExplorerWithView windows;
    ASSERT_NE(windows.view, nullptr);
    HWND explorer = windows.explorer;
    HWND viewWindow = windows.view;

    const auto views = Untils::FindVDWndCopyData();
    ASSERT_EQ(views.size(), 1u) << "the view below a child of the Explorer window";
    EXPECT_EQ(views[0].window, viewWindow);
    EXPECT_TRUE(views[0].inThisProcess);

    const std::string id = "100000000001" "00019700101000000002";
    EXPECT_EQ(Untils::SendCopyData2VDPer(SHELL_CATALOG_CHANGED, EncodeRecordBytes(id)), 1);
    EXPECT_TRUE(g_received.empty()) << "posted, not sent";
    Pump();
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].message, WM_VD_COPYDATA);
    EXPECT_TRUE(g_received[0].decoded.ok);
    EXPECT_EQ(g_received[0].decoded.record.catalogId, id);

    g_received.clear();
    EXPECT_EQ(Untils::SendCopyDataToViews(SHELL_PAGE_CHANGED, EncodeRecordBytes(id)), 1);
    ASSERT_EQ(g_received.size(), 1u) << "sent: handled before the call returns";
    EXPECT_EQ(g_received[0].message, static_cast<UINT>(WM_COPYDATA));
    EXPECT_EQ(g_received[0].decoded.record.code, SHELL_PAGE_CHANGED);
    EXPECT_EQ(g_received[0].decoded.record.catalogId, id);

    ::DestroyWindow(explorer);
    windows.explorer = nullptr;
    EXPECT_TRUE(Untils::FindVDWndCopyData().empty());
    EXPECT_EQ(Untils::SendCopyData2VDPer(SHELL_CATALOG_CHANGED, EncodeRecordBytes(id)), 0);
}

std::string Hex(std::uintptr_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

TEST(Untils, APostedRecordIsTakenOnlyWhenThisModuleMadeItAndOnce) {
    ExplorerWithView windows;
    ASSERT_NE(windows.view, nullptr);
    Pump();
    g_received.clear();
    g_refused = 0;
    const std::size_t outstanding = PostedCopyData::Outstanding();

    // What another process may post: a small number, the address of a block
    // shaped like ours that this module never made, and a real block twice.
    PostedCopyData forged;
    forged.record.dwData = SHELL_CATALOG_CHANGED;
    forged.record.cbData = 0x7FFFFFFF;
    forged.record.lpData = reinterpret_cast<void*>(0x10);
    const LPARAM real = PostedCopyData::Make(SHELL_CATALOG_CHANGED, EncodeRecordBytes("100000000001" "00019700101000000002"));
    ASSERT_NE(real, 0);
    const std::u16string poster = platform::ExecutablePath();
    const std::u16string folder = poster.substr(0, poster.find_last_of(u"\\/") + 1);
    std::vector<std::u16string> args;
    for (std::uintptr_t value : {std::uintptr_t{0x1234}, reinterpret_cast<std::uintptr_t>(&forged),
                                 static_cast<std::uintptr_t>(real), static_cast<std::uintptr_t>(real)}) {
        args.push_back(platform::Utf8ToUtf16(Hex(value)));
    }
    args.insert(args.begin(), platform::Utf8ToUtf16(Hex(reinterpret_cast<std::uintptr_t>(windows.view))));
    auto child = platform::Process::Launch(folder + u"copydata_poster.exe", args);
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(child->Wait(30000), std::optional<int>(0));
    Pump();

    ASSERT_EQ(g_received.size(), 1u) << "the real block, once";
    EXPECT_TRUE(g_received[0].decoded.ok);
    EXPECT_EQ(g_refused, 3);
    EXPECT_EQ(PostedCopyData::Outstanding(), outstanding);
    EXPECT_EQ(forged.record.cbData, 0x7FFFFFFFu) << "the forged block was not touched";
}

TEST(Untils, TheClientHearsOfDoubleClickUploadsAndPageRequests) {
    Collector client(kClientWindowName);
    ASSERT_NE(client.window, nullptr) << "another client window is up";
    const std::u16string path = u"C:\\资料\\a.txt";
    const std::pair<int, std::uint64_t> steps[] = {
        {1, NIMBRA_UPLOAD_STARTED}, {1, NIMBRA_UPLOAD_STARTED}, {-1, NIMBRA_MENU_OTHER}, {-1, NIMBRA_UPLOADS_DONE}};
    for (const auto& [delta, code] : steps) {
        EXPECT_EQ(Untils::CntDBClkUploadTast(delta, path), code);
    }
    const auto records = client.Take();
    ASSERT_EQ(records.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].first, steps[i].second) << i;
        EXPECT_EQ(records[i].second, EncodeRecordText(path)) << i;
    }

}

// Records the message boxes the product would show.
class Boxes final : public ui::IMessageBoxes {
public:
    Boxes() { ui::SetMessageBoxes(this); }
    ~Boxes() { ui::SetMessageBoxes(nullptr); }
    int Show(HWND, std::u16string_view text, std::u16string_view, UINT) override {
        shown.emplace_back(text);
        return IDOK;
    }
    std::vector<std::u16string> shown;
};

std::u16string Folder(const std::u16string& path) { return path.substr(0, path.find_last_of(u"\\/") + 1); }

TEST(Untils, FixedNodePagesGoToTheClientAfterTheNetworkAndThePageProgram) {
    Collector client(kClientWindowName);
    ASSERT_NE(client.window, nullptr) << "another client window is up";
    platform::IRegistry& reg = platform::SystemRegistry();
    const std::u16string larkmere = u"SOFTWARE\\Larkmere", orlo = u"SOFTWARE\\Larkmere\\ORLO";
    // The module's parent folder is a scratch folder that may hold the page program.
    const std::u16string scratch = Folder(platform::ExecutablePath()) + u"nimbra_view_scratch";
    platform::IFileSystem& files = platform::SystemFileSystem();
    files.CreateDirectories(scratch);
    const std::u16string mhost = scratch + u"\\mhost.exe", args = scratch + u"\\mhost_args.txt";
    files.RemoveFile(mhost);
    files.RemoveFile(args);
    std::copy_n(reinterpret_cast<const wchar_t*>(scratch.c_str()), scratch.size() + 1, VDModule::Instance().m_parentFolder);
    HWND owner = ::CreateWindowW(L"STATIC", L"owner", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    Boxes boxes;

    struct Step {
        const char* what;
        std::function<void()> arrange;
        int node;
        std::vector<std::u16string> boxes;
        std::vector<std::string> clientPages, helperPages;
    };
    std::unique_ptr<Collector> helper;
    const std::vector<Step> steps = {
        {"signed out: nothing at all", [&] { reg.DeleteValue(platform::RegRoot::CurrentUser, larkmere, u"RCSLoginInfo"); },
         kNodeContacts, {}, {}, {}},
        {"calendar: the client's window", [&] {
             reg.SetString(platform::RegRoot::CurrentUser, larkmere, u"RCSLoginInfo", u"alice;t;o");
         }, kNodeCalendar, {}, {EncodeRecordText(u"calender")}, {}},
        {"no network: a box and nothing asked", [&] {
             reg.SetDword(platform::RegRoot::CurrentUser, orlo, u"NetStateChange", 0xFFFFFFFFu);
         }, kNodeContacts, {u"网络不可用，请稍后再试！"}, {}, {}},
        {"network back, no page program: a box", [&] {
             reg.DeleteValue(platform::RegRoot::CurrentUser, orlo, u"NetStateChange");
         }, kNodeContacts, {u"未发现Veyra客户端"}, {}, {}},
        {"page program and its window: the window", [&] {
             std::string program;
             files.ReadFile(Folder(platform::ExecutablePath()) + u"mhost_stub.exe", program);
             files.WriteFileAtomic(mhost, program);
             helper = std::make_unique<Collector>(kPageHelperWindowName);
         }, kNodeContacts, {}, {}, {EncodeRecordText(u"contact")}},
        {"page program without its window: started", [&] { helper.reset(); }, kNodeMessages, {}, {}, {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.arrange();
        boxes.shown.clear();
        ShellEnv::ShellNimbraView(step.node, owner);
        EXPECT_EQ(boxes.shown, step.boxes);
        std::vector<std::string> pages;
        for (const auto& [code, bytes] : client.Take()) pages.push_back(bytes);
        EXPECT_EQ(pages, step.clientPages);
        if (helper) {
            pages.clear();
            for (const auto& [code, bytes] : helper->Take()) {
                EXPECT_EQ(code, NIMBRA_PAGE_REQUEST);
                pages.push_back(bytes);
            }
            EXPECT_EQ(pages, step.helperPages);
        }
    }
    // The started program got the sign-in value and ";" first, then the page,
    // then ";" and the pass id (none here: nobody signed in to the library).
    std::string line;
    for (int i = 0; i < 300 && files.ReadFile(args, line) != platform::kOk; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(line.ends_with(" alice;t;o;message;")) << line;
    reg.DeleteValue(platform::RegRoot::CurrentUser, larkmere, u"RCSLoginInfo");
    ::DestroyWindow(owner);
}

}  // namespace
}  // namespace vd
