// Nimbra.exe under Wine against the native service of the cloudserver
// fixture: the real program, the real registry, mutex and windows. A stand-in
// Explorer window with a view child records what the client sends the views.
#include "wine_test_support.h"
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "client_protocol.h"
#include "platform/files.h"
#include "platform/message_channel.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "sign_in_values.h"

namespace nimbra {
namespace {

using namespace std::chrono_literals;
using platform::RegRoot;

int ServicePort() { return vd::testing::CloudserverFixturePort(); }

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 30s) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return pred();
}

// An "Explorer window" holding a "VDViewClass" view, on a thread of its own.
class FakeExplorer {
 public:
  struct Record {
    uint64_t code;
    std::string bytes;
  };

  FakeExplorer() {
    thread_ = std::thread([this] { Pump(); });
    // A first window connects the process to the display: slow on a loaded machine.
    WaitFor([this] { return ready_.load(); }, 60s);
  }
  ~FakeExplorer() {
    if (thread_id_) ::PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  std::vector<Record> Records() {
    std::lock_guard lock(mutex_);
    return records_;
  }
  bool Got(uint64_t code) {
    for (const auto& r : Records())
      if (r.code == code) return true;
    return false;
  }
  bool ok() const { return view_ != nullptr; }

 private:
  static LRESULT CALLBACK ViewProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COPYDATA) {
      auto* self = reinterpret_cast<FakeExplorer*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
      std::lock_guard lock(self->mutex_);
      self->records_.push_back({cds->dwData, cds->cbData && cds->lpData
                                                 ? std::string(static_cast<const char*>(cds->lpData), cds->cbData)
                                                 : std::string()});
      return 1;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
  void Pump() {
    thread_id_ = ::GetCurrentThreadId();
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW frame = {};
    frame.lpfnWndProc = ::DefWindowProcW;
    frame.hInstance = instance;
    frame.lpszClassName = L"CabinetWClass";
    ::RegisterClassW(&frame);
    WNDCLASSW view = {};
    view.lpfnWndProc = ViewProc;
    view.hInstance = instance;
    view.lpszClassName = L"VDViewClass";
    ::RegisterClassW(&view);
    HWND top = ::CreateWindowExW(0, L"CabinetWClass", L"test explorer", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200,
                                 nullptr, nullptr, instance, nullptr);
    // The view sits below an intermediate host, as in a real browser window.
    HWND host = top ? ::CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 100, 100, top, nullptr, instance, nullptr)
                    : nullptr;
    view_ = host ? ::CreateWindowExW(0, L"VDViewClass", L"", WS_CHILD, 0, 0, 50, 50, host, nullptr, instance, nullptr)
                 : nullptr;
    if (view_) ::SetWindowLongPtrW(view_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ready_ = true;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    if (top) ::DestroyWindow(top);
  }

  std::thread thread_;
  std::atomic<DWORD> thread_id_{0};
  std::atomic<bool> ready_{false};
  HWND view_ = nullptr;
  std::mutex mutex_;
  std::vector<Record> records_;
};

class NimbraExe : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = ServicePort();
    ASSERT_GT(port_, 0) << "no port from the cloudserver fixture";
    // A folder of its own: the client writes sdkconfig.ini and its log beside itself.
    std::filesystem::path bin = std::filesystem::path(platform::ExecutablePath()).parent_path();
    folder_ = std::filesystem::temp_directory_path() / ("nimbra-exe-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(folder_);
    for (const char* file : {"Nimbra.exe", "CorbelSdk64.dll"}) {
      std::filesystem::copy_file(bin / file, folder_ / file, std::filesystem::copy_options::overwrite_existing);
    }
    reg_.DeleteTree(RegRoot::CurrentUser, kLarkmereKey);
  }
  void TearDown() override {
    reg_.DeleteTree(RegRoot::CurrentUser, kLarkmereKey);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::unique_ptr<platform::Process> Start(std::vector<std::u16string> args) {
    return platform::Process::Launch((folder_ / "Nimbra.exe").u16string(), args, folder_.u16string());
  }
  std::vector<std::u16string> SignInArgs(const char16_t* password) {
    return {u"--once", u"--host", u"127.0.0.1", u"--port", platform::Utf8ToUtf16(std::to_string(port_)),
            u"--account", u"alice", u"--password", password};
  }
  std::string Value(std::u16string_view key, std::u16string_view name) {
    auto v = reg_.GetString(RegRoot::CurrentUser, key, name);
    return v ? platform::Utf16ToUtf8(*v) : "<missing>";
  }
  intptr_t Send(uint64_t code, std::string_view bytes) {
    intptr_t reply = -1;
    EXPECT_EQ(platform::SendCopyData(kClientWindowName, code, bytes, 5000, &reply), platform::kOk) << code;
    return reply;
  }

  int port_ = 0;
  std::filesystem::path folder_;
  platform::IRegistry& reg_ = platform::SystemRegistry();
};

TEST_F(NimbraExe, WrongPasswordExitsWithAnErrorAndLeavesNothing) {
  auto process = Start(SignInArgs(u"not-the-password"));
  ASSERT_TRUE(process);
  auto code = process->Wait(60000);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 4);
  EXPECT_FALSE(platform::NamedMutex::Exists(kSignInMutexName));
  EXPECT_FALSE(platform::WindowExists(kClientWindowName));
  EXPECT_FALSE(reg_.KeyExists(RegRoot::CurrentUser, kLarkmereKey));
}

TEST_F(NimbraExe, SignsInServesRecordsAndSignsOut) {
  FakeExplorer explorer;
  ASSERT_TRUE(explorer.ok());
  auto client = Start(SignInArgs(u"alice-pass"));
  ASSERT_TRUE(client);
  ASSERT_TRUE(WaitFor([] {
    return platform::NamedMutex::Exists(kSignInMutexName) && platform::WindowExists(kClientWindowName);
  })) << "exit code " << client->Wait(0).value_or(-1);

  const std::string login = Value(kLarkmereKey, u"RCSLoginInfo");
  auto parsed = ParseLoginInfo(login);
  ASSERT_TRUE(parsed) << login;
  EXPECT_EQ(parsed->account, "alice");
  EXPECT_EQ(parsed->token.size(), 48u);
  const std::string user = Value(kOrloKey, u"User_ID");
  EXPECT_EQ(user.size(), 12u);
  EXPECT_EQ(user.find_first_not_of("0123456789"), std::string::npos) << user;
  EXPECT_EQ(Value(kOrloKey, u"PassID"), "alice");
  EXPECT_EQ(Value(kOrloKey, u"Nimbra_OPToken"), "alice:" + parsed->token + ":" + parsed->opToken);
  EXPECT_EQ(Value(kOrloKey, u"ProxySetInfo"), "3;;;;");
  ASSERT_TRUE(WaitFor([&] { return explorer.Got(kViewSignInChanged); }, 5s));

  // Started again without --once: defers to the running client.
  auto again = Start({u"--host", u"127.0.0.1"});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Wait(60000).value_or(-1), 0);
  EXPECT_FALSE(client->Wait(0).has_value());

  // Token invalid: signed in again, both token values rewritten.
  EXPECT_EQ(Send(kTokenInvalid, {}), 1);
  ASSERT_TRUE(WaitFor([&] { return Value(kLarkmereKey, u"RCSLoginInfo") != login; }));
  auto fresh = ParseLoginInfo(Value(kLarkmereKey, u"RCSLoginInfo"));
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh->token, parsed->token);
  EXPECT_EQ(Value(kOrloKey, u"Nimbra_OPToken"), "alice:" + fresh->token + ":" + fresh->opToken);
  ASSERT_TRUE(WaitFor([&] { return explorer.Got(kViewOpTokenChanged); }, 10s));

  // Malformed records are refused; the client stays up and keeps answering.
  EXPECT_EQ(Send(kTokenInvalid, "junk"), 0);
  EXPECT_EQ(Send(kUploadStarted, std::string("C\0:", 3)), 0);
  EXPECT_EQ(Send(kStopSyncFolder, "D:\\SyncDir"), 0);
  EXPECT_EQ(Send(kShareByLink, std::string(4, '\xFF')), 0);
  EXPECT_FALSE(client->Wait(200).has_value());
  EXPECT_EQ(Send(kSyncStateRequest, {}), 1);
  ASSERT_TRUE(WaitFor([&] { return explorer.Got(kViewSyncStates); }, 10s));
  for (const auto& r : explorer.Records()) {
    if (r.code == kViewSyncStates) {
      EXPECT_EQ(r.bytes, EncodeRecordText(u"0;0;NULL"));
    }
  }

  // Sign-out through a second instance.
  auto sign_out = Start({u"--sign-out"});
  ASSERT_TRUE(sign_out);
  EXPECT_EQ(sign_out->Wait(60000).value_or(-1), 0);
  auto exit_code = client->Wait(30000);
  ASSERT_TRUE(exit_code.has_value());
  EXPECT_EQ(*exit_code, 0);
  EXPECT_FALSE(platform::NamedMutex::Exists(kSignInMutexName));
  EXPECT_FALSE(platform::WindowExists(kClientWindowName));
  EXPECT_EQ(Value(kLarkmereKey, u"RCSLoginInfo"), "<missing>");
  bool signed_out = false;
  for (const auto& r : explorer.Records()) {
    if (r.code == kViewSignedOut) {
      signed_out = true;
      EXPECT_TRUE(r.bytes.empty());
    }
  }
  EXPECT_TRUE(signed_out);
}

}  // namespace
}  // namespace nimbra

namespace nimbra {
namespace {

// The extension's exit command posts WM_QUIT to the thread of the client's window.
TEST_F(NimbraExe, WmQuitToTheWindowThreadEndsTheClient) {
  auto client = Start(SignInArgs(u"alice-pass"));
  ASSERT_TRUE(client);
  ASSERT_TRUE(WaitFor([] {
    return platform::NamedMutex::Exists(kSignInMutexName) && platform::WindowExists(kClientWindowName);
  })) << "exit code " << client->Wait(0).value_or(-1);
  HWND window = ::FindWindowW(reinterpret_cast<const wchar_t*>(kClientWindowName), nullptr);
  ASSERT_NE(window, nullptr);
  DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
  ASSERT_TRUE(::PostThreadMessageW(thread, WM_QUIT, 0, 0));
  auto exit_code = client->Wait(30000);
  ASSERT_TRUE(exit_code.has_value());
  EXPECT_EQ(*exit_code, 0);
  EXPECT_FALSE(platform::NamedMutex::Exists(kSignInMutexName));
  EXPECT_FALSE(platform::WindowExists(kClientWindowName));
}

}  // namespace
}  // namespace nimbra
