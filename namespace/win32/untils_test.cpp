// Copy-data delivery under Wine: a view window of this process below an
// Explorer-class window, a stand-in for the desktop client's window and its
// page helper, all real windows.
#include "untils.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "nimbra_messages.h"
#include "platform/message_channel.h"
#include "platform/registry.h"
#include "shell_env.h"

namespace vd {
namespace {

struct Received {
    UINT message;
    ViewDecode decoded;
};
std::vector<Received> g_received;

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_VD_COPYDATA) {
        std::unique_ptr<PostedCopyData> copy = PostedCopyData::Take(lp);
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

TEST(Untils, ViewsOfThisProcessGetAPostedCopyAndEveryViewGetsPages) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW frame = {};
    frame.lpfnWndProc = ::DefWindowProcW;
    frame.hInstance = instance;
    frame.lpszClassName = L"CabinetWClass";
    ASSERT_NE(::RegisterClassW(&frame), 0);
    WNDCLASSW view = {};
    view.lpfnWndProc = ViewProc;
    view.hInstance = instance;
    view.lpszClassName = L"VDViewClass";
    ASSERT_NE(::RegisterClassW(&view), 0);
    HWND explorer = ::CreateWindowW(L"CabinetWClass", L"e", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                    instance, nullptr);
    ASSERT_NE(explorer, nullptr);
    HWND pane = ::CreateWindowW(L"STATIC", L"", WS_CHILD, 0, 0, 50, 50, explorer, nullptr, instance, nullptr);
    HWND viewWindow = ::CreateWindowW(L"VDViewClass", L"", WS_CHILD, 0, 0, 10, 10, pane, nullptr, instance, nullptr);
    ASSERT_NE(viewWindow, nullptr);

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
    EXPECT_TRUE(Untils::FindVDWndCopyData().empty());
    EXPECT_EQ(Untils::SendCopyData2VDPer(SHELL_CATALOG_CHANGED, EncodeRecordBytes(id)), 0);
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

    // Pages of the fixed nodes: calendar to the client's window, contacts to its page helper.
    Collector helper(kPageHelperWindowName);
    ASSERT_NE(helper.window, nullptr);
    platform::IRegistry& reg = platform::SystemRegistry();
    ASSERT_EQ(reg.SetString(platform::RegRoot::CurrentUser, u"SOFTWARE\\Larkmere", u"RCSLoginInfo", u"alice;t;o"),
              platform::kOk);
    ShellEnv::ShellNimbraView(kNodeCalendar);
    ShellEnv::ShellNimbraView(kNodeContacts);
    reg.DeleteValue(platform::RegRoot::CurrentUser, u"SOFTWARE\\Larkmere", u"RCSLoginInfo");
    ShellEnv::ShellNimbraView(kNodeContacts);  // signed out: nothing is asked
    const auto pages = client.Take();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].first, NIMBRA_PAGE_REQUEST);
    EXPECT_EQ(pages[0].second, EncodeRecordText(u"calender"));
    const auto helped = helper.Take();
    ASSERT_EQ(helped.size(), 1u);
    EXPECT_EQ(helped[0].second, EncodeRecordText(u"contact"));
}

}  // namespace
}  // namespace vd
