// Sign-in against the real SDK, the reference service on a loopback port,
// real caches on a real cache.db and the platform's registry and mutex.
// The SDK is wrapped only to count the calls the sign-in makes.
#include "login.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "breviary_cache.h"
#include "cloud_sdk_impl.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "share_file_cache.h"
#include "test_support.h"
#include "tests/sdk_test_support.h"

namespace vd {
namespace {

using platform::RegRoot;

std::string Utf16Bytes(std::u16string_view text, bool terminated) {
    std::string out = EncodeRecordText(text);
    if (!terminated) {
        out.resize(out.size() - 2);
    }
    return out;
}

TEST(SignInValues, RegistryRulesAndFieldSplits) {
    platform::IRegistry& reg = platform::SystemRegistry();
    const std::u16string key = u"SOFTWARE\\VDLoginTest";
    struct Raw {
        const char* what;
        std::string bytes;
        bool ok;
    };
    const Raw raws[] = {
        {"terminated", Utf16Bytes(u"a;b;c", true), true},
        {"not terminated", Utf16Bytes(u"a;b;c", false), false},
        {"odd byte count", Utf16Bytes(u"a;b;c", true) + "x", false},
        {"2048 bytes", Utf16Bytes(std::u16string(1023, u'a'), true), true},
        {"2050 bytes", Utf16Bytes(std::u16string(1024, u'a'), true), false},
        {"empty", std::string(), false},
    };
    for (const Raw& r : raws) {
        ASSERT_EQ(reg.SetRawString(RegRoot::CurrentUser, key, u"v", r.bytes), platform::kOk);
        EXPECT_EQ(ReadSignInValue(reg, key, u"v").has_value(), r.ok) << r.what;
    }
    ASSERT_EQ(reg.SetDword(RegRoot::CurrentUser, key, u"v", 7), platform::kOk);
    EXPECT_FALSE(ReadSignInValue(reg, key, u"v").has_value()) << "a number is no sign-in text";
    EXPECT_FALSE(ReadSignInValue(reg, key, u"missing").has_value());
    reg.DeleteTree(RegRoot::CurrentUser, key);

    struct Login {
        std::u16string text;
        bool ok;
    };
    const Login logins[] = {{u"alice;tok;op", true}, {u"alice;tok;op;", true},  {u"alice;tok", false},
                            {u"alice;;op", false},   {u";tok;op", false},       {u"alice;tok;op;x", false},
                            {u"", false}};
    for (const Login& l : logins) {
        const auto f = SplitLoginInfo(l.text);
        EXPECT_EQ(f.has_value(), l.ok) << platform::Utf16ToUtf8(l.text);
        if (f && l.ok) {
            EXPECT_EQ(f->account, u"alice");
            EXPECT_EQ(f->token, u"tok");
            EXPECT_EQ(f->opToken, u"op");
        }
    }

    const auto op = SplitOpToken("alice:tok:op:with:colons");
    ASSERT_TRUE(op.has_value());
    EXPECT_EQ(op->parts[0], "alice");
    EXPECT_EQ(op->parts[1], "tok");
    EXPECT_EQ(op->parts[2], "op:with:colons");
    EXPECT_FALSE(SplitOpToken("alice:tok").has_value());

    const ProxyFields configured = SplitProxy("1;proxy.example;8080;u;p");
    EXPECT_EQ(configured.type, "1");
    EXPECT_EQ(configured.host, "proxy.example");
    EXPECT_EQ(configured.port, "8080");
    EXPECT_EQ(configured.user, "u");
    EXPECT_EQ(configured.password, "p");
    const ProxyFields other = SplitProxy("2;h");
    EXPECT_EQ(other.type, "3");
    EXPECT_EQ(other.host, "h");
    EXPECT_EQ(other.port, "");
    EXPECT_EQ(SplitProxy("").type, "3");
}

// Passes every call to the real SDK and counts the sign-in calls.
class CountingSdk : public vdcache::test::ForwardingSdk {
public:
    using ForwardingSdk::ForwardingSdk;
    bool init(const std::string& log, int r, const std::string& module, int mode) override {
        ++inits;
        return ForwardingSdk::init(log, r, module, mode);
    }
    int InitHttpX(const std::string& h, const std::string& p, const std::string& u, const std::string& w) override {
        lastProxyHost = h;
        return ForwardingSdk::InitHttpX(h, p, u, w);
    }
    int SetTokenInfo(const std::string& a, const std::string& t, const std::string& o) override {
        ++tokens;
        lastToken = t;
        return ForwardingSdk::SetTokenInfo(a, t, o);
    }
    int SetTokenInfoEx(const TokenInfoEx& t) override {
        ++tokensEx;
        return ForwardingSdk::SetTokenInfoEx(t);
    }

    int inits = 0, tokens = 0, tokensEx = 0;
    std::string lastToken, lastProxyHost;
};

class LoginLive : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<corbel::test::ServerProcess>(m_dir.path() / "data");
        ASSERT_TRUE(m_server->Start());
        ASSERT_TRUE(corbel::test::SignIn(m_server->port(), "alice", "alice-pass", &m_alice));
        ASSERT_TRUE(corbel::test::SignIn(m_server->port(), "bob", "bob-pass", &m_bob));
        std::filesystem::create_directories(m_dir.path() / "module");
        std::filesystem::create_directories(m_dir.path() / "docs");
        corbel::test::WriteSdkConfig(m_dir.path() / "module", m_server->port());

        LoginEnv env;
        env.registry = &platform::SystemRegistry();
        env.profile = &platform::SystemProfile();
        env.files = &platform::SystemFileSystem();
        env.sdk = &m_sdk;
        env.documents = platform::Utf8ToUtf16((m_dir.path() / "docs").string());
        env.moduleParent = platform::Utf8ToUtf16((m_dir.path() / "module").string());
        env.cache = &m_cache;
        env.shareCache = &m_shares;
        env.breviary = &m_breviary;
        env.thumbnails = &m_thumbnails;
        env.startClient = [this](const std::u16string& exe) {
            m_started.push_back(exe);
            return true;
        };
        m_login.Configure(std::move(env));
    }
    void TearDown() override {
        m_cache.WaitIdle(30000);
        m_shares.WaitIdle(30000);
        platform::SystemRegistry().DeleteTree(RegRoot::CurrentUser, kLarkmereKey);
    }

    void WriteSignIn(const corbel::test::Account& a, const std::u16string& proxy = u"3;;;;") {
        platform::IRegistry& reg = platform::SystemRegistry();
        const std::u16string login = platform::Utf8ToUtf16(a.account + ";" + a.token + ";" + a.opToken);
        reg.SetString(RegRoot::CurrentUser, kLarkmereKey, u"RCSLoginInfo", login);
        reg.SetString(RegRoot::CurrentUser, kOrloKey, u"User_ID", platform::Utf8ToUtf16(a.userID));
        reg.SetString(RegRoot::CurrentUser, kOrloKey, u"PassID", platform::Utf8ToUtf16(a.account));
        reg.SetString(RegRoot::CurrentUser, kOrloKey, u"Nimbra_OPToken",
                      platform::Utf8ToUtf16(a.account + ":" + a.token + ":" + a.opToken));
        reg.SetString(RegRoot::CurrentUser, kOrloKey, u"ProxySetInfo", proxy);
    }

    std::vector<std::string> RootNames() {
        ListRequest request;
        request.account = m_login.GetAccount();
        request.catalogID = "00019700101000000001";
        request.startNumber = request.endNumber = "-1";
        ListResult first;
        EXPECT_EQ(m_cache.GetDisk(request, &first, false, false), vdcache::kCacheOk);
        EXPECT_TRUE(m_cache.WaitIdle(30000));
        ListResult r;
        EXPECT_EQ(m_cache.GetDiskFromCache(request, &r), vdcache::kCacheOk);
        std::vector<std::string> names;
        for (const auto& c : r.catalogs) names.push_back(c.catalogName);
        for (const auto& c : r.contents) names.push_back(c.contentName);
        return names;
    }

    bool Exists(const std::filesystem::path& p) { return std::filesystem::exists(m_dir.path() / "docs" / p); }

    corbel::test::TempDir m_dir;
    std::unique_ptr<corbel::test::ServerProcess> m_server;
    corbel::test::Account m_alice, m_bob;
    corbel::CloudSdk m_real;
    CountingSdk m_sdk{&m_real};
    vdcache::CVDCache m_cache{&m_sdk};
    vdcache::CVDShareFileCache m_shares{&m_sdk};
    vdcache::CBreviaryCache m_breviary;
    vdcache::ThumbnailRecords m_thumbnails;
    std::vector<std::u16string> m_started;
    CVDLogin m_login;
};

TEST_F(LoginLive, WithoutTheClientsMutexTheClientIsStartedAndNothingIsRead) {
    WriteSignIn(m_alice);
    EXPECT_EQ(m_login.Login(), LoginResult::NoClient);
    ASSERT_EQ(m_started.size(), 1u);
    const std::u16string& exe = m_started[0];
    EXPECT_EQ(exe.substr(exe.size() - 10), u"Nimbra.exe");
    EXPECT_EQ(m_sdk.inits, 0);
    EXPECT_EQ(m_login.AccountOpenCount(), 0);
}

TEST_F(LoginLive, SignInOpensTheAccountOnceAndFollowsTokenAndAccountChanges) {
    auto mutex = platform::NamedMutex::Create(kSignInMutexName);
    ASSERT_NE(mutex, nullptr);

    // Malformed values refuse the login and open nothing.
    platform::SystemRegistry().SetString(RegRoot::CurrentUser, kLarkmereKey, u"RCSLoginInfo", u"alice;only-two");
    EXPECT_EQ(m_login.Login(), LoginResult::Refused);
    platform::SystemRegistry().SetString(RegRoot::CurrentUser, kLarkmereKey, u"RCSLoginInfo", u"..;tok;op");
    EXPECT_EQ(m_login.Login(), LoginResult::Refused) << "an account that would leave the data folder";
    EXPECT_EQ(m_login.AccountOpenCount(), 0);

    WriteSignIn(m_alice);
    ASSERT_EQ(m_login.Login(), LoginResult::SignedIn);
    EXPECT_TRUE(m_started.empty());
    EXPECT_EQ(m_sdk.inits, 1);
    EXPECT_EQ(m_login.AccountOpenCount(), 1);
    EXPECT_EQ(m_login.GetAccount(), "alice");
    EXPECT_EQ(m_login.GetUserID(), platform::Utf8ToUtf16(m_alice.userID));
    EXPECT_EQ(m_login.GetPassID(), u"alice");
    EXPECT_EQ(m_sdk.tokensEx, 1);
    EXPECT_TRUE(Exists("ORLO/alice/cache.db"));
    EXPECT_TRUE(Exists("ORLO/alice/VDOpenFiles"));
    EXPECT_TRUE(Exists("ORLO/alice/NimbraSet.ini"));
    EXPECT_TRUE(Exists("ORLO/log/VD"));
    const auto names = RootNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "我的文档"), names.end()) << "the SDK holds alice's token";

    // The same values again: nothing reopened, the op token not handed over twice.
    ASSERT_EQ(m_login.Login(), LoginResult::SignedIn);
    EXPECT_EQ(m_login.AccountOpenCount(), 1);
    EXPECT_EQ(m_sdk.inits, 1);
    EXPECT_EQ(m_sdk.tokensEx, 1);

    // The client signed in again: a new token for the same account.
    SignedOutFlag().store(1);
    corbel::test::Account again;
    ASSERT_TRUE(corbel::test::SignIn(m_server->port(), "alice", "alice-pass", &again));
    ASSERT_NE(again.token, m_alice.token);
    WriteSignIn(again);
    ASSERT_TRUE(m_login.OnViewRecord(DecodeViewRecord(SHELL_REFRESH_TOKEN, "").record));
    EXPECT_EQ(m_login.AccountOpenCount(), 1) << "same account keeps its databases";
    EXPECT_EQ(m_sdk.lastToken, again.token);
    EXPECT_EQ(m_login.GetToken(), again.token);
    EXPECT_EQ(SignedOutFlag().load(), 0) << "a new token clears the sign-out";
    EXPECT_EQ(m_sdk.tokensEx, 2);

    // Another account: its own data folder and its own tree.
    WriteSignIn(m_bob);
    ASSERT_EQ(m_login.Login(), LoginResult::SignedIn);
    EXPECT_EQ(m_login.AccountOpenCount(), 2);
    EXPECT_EQ(m_login.GetAccount(), "bob");
    EXPECT_EQ(m_login.GetUserID(), platform::Utf8ToUtf16(m_bob.userID));
    EXPECT_TRUE(Exists("ORLO/bob/cache.db"));
    const auto bobNames = RootNames();
    EXPECT_NE(std::find(bobNames.begin(), bobNames.end(), "我的文档"), bobNames.end());
    EXPECT_EQ(std::find(bobNames.begin(), bobNames.end(), "readme.txt"), bobNames.end()) << "alice's file";

    // Sign-out and proxy records from the client.
    ASSERT_TRUE(m_login.OnViewRecord(DecodeViewRecord(SHELL_SIGNED_OUT, "").record));
    EXPECT_EQ(SignedOutFlag().load(), 1);
    platform::SystemRegistry().SetString(RegRoot::CurrentUser, kOrloKey, u"ProxySetInfo", u"1;127.0.0.1;9;;");
    ASSERT_TRUE(m_login.OnViewRecord(DecodeViewRecord(SHELL_PRXOY_CHANGE, "").record));
    EXPECT_EQ(m_login.GetProxy().type, "1");
    EXPECT_EQ(m_sdk.lastProxyHost, "127.0.0.1");
    platform::SystemRegistry().SetString(RegRoot::CurrentUser, kOrloKey, u"ProxySetInfo", u"3;;;;");
    ASSERT_TRUE(m_login.OnViewRecord(DecodeViewRecord(SHELL_PRXOY_CHANGE, "").record));
    EXPECT_EQ(m_sdk.lastProxyHost, "");
    EXPECT_FALSE(m_login.OnViewRecord(DecodeViewRecord(SHELL_CATALOG_CHANGED, EncodeRecordBytes("x")).record));
    SignedOutFlag().store(0);
}

}  // namespace
}  // namespace vd
