// The client's whole sign-in life against the real service program, with the
// platform's native registry, mutex and message channel. Only the view
// windows are stood in for: they record what the client sends them.
#include "nimbra_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "sdk_test_support.h"

namespace nimbra {
namespace {

using platform::RegRoot;
using namespace std::chrono_literals;

struct Sent {
  uint64_t code;
  std::string bytes;
};

class ViewRecorder {
 public:
  int operator()(uint64_t code, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    sent_.push_back({code, std::string(bytes)});
    return 1;
  }
  std::vector<uint64_t> Codes() {
    std::lock_guard lock(mutex_);
    std::vector<uint64_t> codes;
    for (const auto& s : sent_) codes.push_back(s.code);
    return codes;
  }
  std::optional<std::string> Last(uint64_t code) {
    std::lock_guard lock(mutex_);
    for (auto it = sent_.rbegin(); it != sent_.rend(); ++it)
      if (it->code == code) return it->bytes;
    return std::nullopt;
  }

 private:
  std::mutex mutex_;
  std::vector<Sent> sent_;
};

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 10s) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return pred();
}

bool IsHex(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class ClientSession : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    reg_.DeleteTree(RegRoot::CurrentUser, kLarkmereKey);
    server_ = std::make_unique<corbel::test::ServerProcess>(dir_.path() / "data");
    ASSERT_TRUE(server_->Start());
    options_.host = "127.0.0.1";
    options_.port = server_->port();
    options_.account = "alice";
    options_.password = "alice-pass";
  }
  void TearDown() override { reg_.DeleteTree(RegRoot::CurrentUser, kLarkmereKey); }

  std::unique_ptr<NimbraClient> MakeClient() {
    return std::make_unique<NimbraClient>(
        options_, platform::Utf8ToUtf16(dir_.path().string()), reg_, GetCloudSdk(),
        [this](uint64_t code, std::string_view bytes) { return views_(code, bytes); },
        [this](const std::string& line) {
          std::lock_guard lock(log_mutex_);
          log_ += line + "\n";
        });
  }
  std::string Value(std::u16string_view key, std::u16string_view name) {
    auto v = reg_.GetString(RegRoot::CurrentUser, key, name);
    return v ? platform::Utf16ToUtf8(*v) : "<missing>";
  }
  std::string Logged() {
    std::lock_guard lock(log_mutex_);
    return log_;
  }
  intptr_t Send(uint64_t code, std::string_view bytes) {
    intptr_t reply = -1;
    EXPECT_EQ(platform::SendCopyData(kClientWindowName, code, bytes, 5000, &reply), platform::kOk);
    return reply;
  }

  corbel::test::TempDir dir_;
  std::unique_ptr<corbel::test::ServerProcess> server_;
  ClientOptions options_;
  platform::IRegistry& reg_ = platform::SystemRegistry();
  ViewRecorder views_;
  std::mutex log_mutex_;
  std::string log_;
};

TEST_F(ClientSession, SignsInRefreshesTheTokenDropsBadRecordsAndSignsOut) {
  auto client = MakeClient();
  ASSERT_EQ(client->SignIn(), kExitOk) << Logged();

  const std::string login = Value(kLarkmereKey, u"RCSLoginInfo");
  auto parsed = ParseLoginInfo(login);
  ASSERT_TRUE(parsed) << login;
  EXPECT_EQ(parsed->account, "alice");
  EXPECT_EQ(parsed->token.size(), 48u);
  EXPECT_TRUE(IsHex(parsed->token) && IsHex(parsed->opToken)) << login;
  EXPECT_NE(parsed->token, parsed->opToken);
  const std::string user = Value(kOrloKey, u"User_ID");
  EXPECT_EQ(user.size(), 12u);
  EXPECT_EQ(user.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(client->session().rootCatalogId, user + "00019700101000000001");
  EXPECT_EQ(Value(kOrloKey, u"PassID"), "alice");
  EXPECT_EQ(Value(kOrloKey, u"Nimbra_OPToken"), "alice:" + parsed->token + ":" + parsed->opToken);
  EXPECT_EQ(Value(kOrloKey, u"ProxySetInfo"), "3;;;;");
  EXPECT_TRUE(platform::NamedMutex::Exists(kSignInMutexName));
  EXPECT_TRUE(platform::WindowExists(kClientWindowName));
  EXPECT_EQ(views_.Codes(), std::vector<uint64_t>{kViewSignInChanged});
  std::ifstream config(dir_.path() / "sdkconfig.ini");
  std::string config_text((std::istreambuf_iterator<char>(config)), {});
  EXPECT_NE(config_text.find("Port=" + std::to_string(server_->port())), std::string::npos) << config_text;

  auto run = std::async(std::launch::async, [&] { return client->Run(); });

  // A second client defers to this one.
  auto second = MakeClient();
  EXPECT_EQ(second->SignIn(), kExitAlreadyRunning);

  // Token invalid: a fresh sign-in rewrites both token-bearing values.
  EXPECT_EQ(Send(kTokenInvalid, {}), 1);
  ASSERT_TRUE(WaitFor([&] { return Value(kLarkmereKey, u"RCSLoginInfo") != login; })) << Logged();
  auto fresh = ParseLoginInfo(Value(kLarkmereKey, u"RCSLoginInfo"));
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh->token, parsed->token);
  EXPECT_EQ(Value(kOrloKey, u"Nimbra_OPToken"), "alice:" + fresh->token + ":" + fresh->opToken);
  ASSERT_TRUE(WaitFor([&] { return views_.Last(kViewOpTokenChanged).has_value(); }));
  EXPECT_EQ(views_.Codes(), (std::vector<uint64_t>{kViewSignInChanged, kViewSignInChanged, kViewOpTokenChanged}));

  // Hostile records are answered 0 and change nothing.
  const std::pair<uint64_t, std::string> hostile[] = {
      {kTokenInvalid, "x"},
      {kUploadsDone, std::string("a\0b", 3)},
      {kShareByLink, std::string("<\0I\0", 4)},
      {kStopSyncFolder, "no terminator"},
      {77777, ""},
  };
  for (const auto& [code, bytes] : hostile) EXPECT_EQ(Send(code, bytes), 0) << code;
  EXPECT_EQ(client->dropped_records(), std::size(hostile));
  EXPECT_NE(Logged().find("dropped record 7 of 13 bytes: missing terminator"), std::string::npos) << Logged();

  // Requests the client answers through the views.
  EXPECT_EQ(Send(kSyncStateRequest, {}), 1);
  ASSERT_TRUE(WaitFor([&] { return views_.Last(kViewSyncStates).has_value(); }));
  EXPECT_EQ(*views_.Last(kViewSyncStates), EncodeRecordText(u"0;0;NULL"));
  EXPECT_EQ(Send(kSaveShareTo, {}), 1);
  ASSERT_TRUE(WaitFor([&] { return views_.Last(kViewSaveDestination).has_value(); }));
  EXPECT_EQ(*views_.Last(kViewSaveDestination), user + "00019700101000000001" + std::string(1, '\0'));
  EXPECT_EQ(Send(kShareByLink, EncodeRecordText(u"<ITEM>ID=<1>NAME=<a>TYPE=<1>")), 1);
  EXPECT_EQ(Send(kMenuAbout, {}), 1);
  EXPECT_EQ(Value(kLarkmereKey, u"RCSLoginInfo"), FormatLoginInfo(*fresh));

  // Sign-out, as "Nimbra.exe --sign-out" asks for it.
  EXPECT_EQ(SendToRunningClient(kSignOutRequest, {}), kExitOk);
  ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(run.get(), kExitOk);
  EXPECT_FALSE(platform::NamedMutex::Exists(kSignInMutexName));
  EXPECT_FALSE(platform::WindowExists(kClientWindowName));
  EXPECT_EQ(Value(kLarkmereKey, u"RCSLoginInfo"), "<missing>");
  EXPECT_EQ(Value(kOrloKey, u"User_ID"), user);
  ASSERT_TRUE(views_.Last(kViewSignedOut).has_value());
  EXPECT_EQ(*views_.Last(kViewSignedOut), "");
  EXPECT_EQ(views_.Codes().back(), kViewSignedOut);
  EXPECT_NE(SendToRunningClient(kSignOutRequest, {}), kExitOk);  // nobody left to ask
}

TEST_F(ClientSession, FailedSignInsLeaveNoTrace) {
  struct Case {
    const char* what;
    std::string account, password;
    bool stop_server;
    int exit;
  };
  const Case cases[] = {
      {"wrong password", "alice", "wrong", false, kExitRefused},
      {"unknown account", "nobody", "alice-pass", false, kExitRefused},
      {"no password", "alice", "", false, kExitUsage},
      {"service down", "alice", "alice-pass", true, kExitUnreachable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.stop_server) server_->Kill();
    options_.account = c.account;
    options_.password = c.password;
    auto client = MakeClient();
    EXPECT_EQ(client->SignIn(), c.exit) << Logged();
    EXPECT_FALSE(platform::NamedMutex::Exists(kSignInMutexName));
    EXPECT_FALSE(platform::WindowExists(kClientWindowName));
    EXPECT_FALSE(reg_.KeyExists(RegRoot::CurrentUser, kLarkmereKey));
    EXPECT_TRUE(views_.Codes().empty());
  }
}

TEST_F(ClientSession, QuitEndsWithoutSigningOutAndTokenNoticesCoalesce) {
  auto client = MakeClient();
  ASSERT_EQ(client->SignIn(), kExitOk) << Logged();
  const std::string login = Value(kLarkmereKey, u"RCSLoginInfo");
  auto run = std::async(std::launch::async, [&] { return client->Run(); });
  // A burst of notices from many views: the client signs in again once or
  // twice, not once per notice.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Send(kTokenInvalid, {}), 1);
  ASSERT_TRUE(WaitFor([&] { return Value(kLarkmereKey, u"RCSLoginInfo") != login; }));
  EXPECT_EQ(SendToRunningClient(kQuitRequest, {}), kExitOk);
  ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(run.get(), kExitOk);
  size_t refreshes = 0;
  const std::string log = Logged();
  for (size_t at = 0; (at = log.find("token refreshed", at)) != std::string::npos; ++at) ++refreshes;
  EXPECT_GE(refreshes, 1u);
  EXPECT_LE(refreshes, 2u);
  EXPECT_FALSE(platform::NamedMutex::Exists(kSignInMutexName));
  EXPECT_FALSE(platform::WindowExists(kClientWindowName));
  EXPECT_TRUE(ParseLoginInfo(Value(kLarkmereKey, u"RCSLoginInfo")).has_value());
  for (uint64_t code : views_.Codes()) EXPECT_NE(code, kViewSignedOut);
}

}  // namespace
}  // namespace nimbra
