#include "sign_in_values.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/text.h"

namespace nimbra {
namespace {

using platform::RegRoot;

TEST(SignInValues, ParsesAndRejectsEachValueFormat) {
  struct LoginCase {
    const char* text;
    bool ok;
  };
  const LoginCase logins[] = {
      {"alice;tok;op", true},  {"alice;tok", false},     {"alice;tok;op;x", false}, {";tok;op", false},
      {"alice;;op", false},    {"alice;tok;", false},    {"", false},               {"a;b;c", true},
  };
  for (const auto& c : logins) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseLoginInfo(c.text).has_value(), c.ok);
  }
  EXPECT_EQ(*ParseLoginInfo("张三;t0k;0p"), (LoginInfo{"张三", "t0k", "0p"}));

  // Split at the first and second ":" only.
  EXPECT_EQ(*ParseOpToken("alice:tok:op:with:colons"), (LoginInfo{"alice", "tok", "op:with:colons"}));
  EXPECT_EQ(*ParseOpToken("a::"), (LoginInfo{"a", "", ""}));
  EXPECT_FALSE(ParseOpToken("alice:tok").has_value());
  EXPECT_FALSE(ParseOpToken("").has_value());

  struct ProxyCase {
    const char* text;
    ProxySettings expected;
  };
  const ProxyCase proxies[] = {
      {"3;;;;", {"3", "", "", "", ""}},
      {"1;proxy.lan;8080;bob;pw;d", {"1", "proxy.lan", "8080", "bob", "pw;d"}},
      {"1;proxy.lan", {"1", "proxy.lan", "", "", ""}},
      {"2;h;1;u;p", {"3", "h", "1", "u", "p"}},
      {"", {"3", "", "", "", ""}},
  };
  for (const auto& c : proxies) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseProxy(c.text), c.expected);
  }
  EXPECT_EQ(FormatProxy({}), "3;;;;");
  EXPECT_EQ(FormatProxy({"1", "h", "81", "u", "p"}), "1;h;81;u;p");
  EXPECT_EQ(FormatProxy({"7", "h", "81", "", ""}), "3;h;81;;");
}

TEST(SignInValues, RefusesFieldsThatWouldBreakTheirValue) {
  SignInValues good;
  good.login = {"alice", "0123abcd", "op:tail"};
  good.userId = "100000000001";
  good.passId = "alice";
  ASSERT_TRUE(CanStore(good));

  auto with = [&](auto change) {
    SignInValues v = good;
    change(v);
    return CanStore(v);
  };
  EXPECT_FALSE(with([](SignInValues& v) { v.login.account = "al;ice"; }));
  EXPECT_FALSE(with([](SignInValues& v) { v.login.account = "al:ice"; }));
  EXPECT_FALSE(with([](SignInValues& v) { v.login.token = "t:k"; }));
  EXPECT_FALSE(with([](SignInValues& v) { v.login.opToken = "o;p"; }));
  EXPECT_FALSE(with([](SignInValues& v) { v.login.token.clear(); }));
  EXPECT_FALSE(with([](SignInValues& v) { v.userId = std::string("1\0" "2", 3); }));
  EXPECT_FALSE(with([](SignInValues& v) { v.proxy.host = "a;b"; }));
  EXPECT_FALSE(with([](SignInValues& v) { v.login.opToken = std::string(1100, 'o'); }));
  EXPECT_TRUE(with([](SignInValues& v) { v.login.opToken = std::string(1000, 'o'); }));
}

class SignInRegistry : public ::testing::Test {
 protected:
  void SetUp() override { reg.DeleteTree(RegRoot::CurrentUser, kLarkmereKey); }
  void TearDown() override { reg.DeleteTree(RegRoot::CurrentUser, kLarkmereKey); }
  std::u16string Get(std::u16string_view key, std::u16string_view name) {
    return reg.GetString(RegRoot::CurrentUser, key, name).value_or(u"<missing>");
  }
  platform::IRegistry& reg = platform::SystemRegistry();
};

TEST_F(SignInRegistry, WritesEveryValueInItsFormatAndReadsItBack) {
  SignInValues v;
  v.login = {"小明", "tok123", "op456"};
  v.userId = "100000000001";
  v.passId = "小明";
  ASSERT_EQ(WriteSignInValues(reg, v), platform::kOk);
  EXPECT_EQ(Get(kLarkmereKey, u"RCSLoginInfo"), u"小明;tok123;op456");
  EXPECT_EQ(Get(kOrloKey, u"User_ID"), u"100000000001");
  EXPECT_EQ(Get(kOrloKey, u"PassID"), u"小明");
  EXPECT_EQ(Get(kOrloKey, u"Nimbra_OPToken"), u"小明:tok123:op456");
  EXPECT_EQ(Get(kOrloKey, u"ProxySetInfo"), u"3;;;;");
  EXPECT_EQ(ReadSignInValues(reg), v);

  LoginInfo fresh{"小明", "tok789", "op000"};
  ASSERT_EQ(WriteTokens(reg, fresh), platform::kOk);
  EXPECT_EQ(Get(kLarkmereKey, u"RCSLoginInfo"), u"小明;tok789;op000");
  EXPECT_EQ(Get(kOrloKey, u"Nimbra_OPToken"), u"小明:tok789:op000");
  ASSERT_TRUE(ReadSignInValues(reg).has_value());
  EXPECT_EQ(ReadSignInValues(reg)->login, fresh);

  ASSERT_EQ(ClearLoginInfo(reg), platform::kOk);
  EXPECT_FALSE(reg.GetValue(RegRoot::CurrentUser, kLarkmereKey, u"RCSLoginInfo").has_value());
  EXPECT_EQ(Get(kOrloKey, u"User_ID"), u"100000000001");  // only the sign-in itself goes
  EXPECT_FALSE(ReadSignInValues(reg).has_value());
  EXPECT_EQ(ClearLoginInfo(reg), platform::kOk);  // already signed out
}

TEST_F(SignInRegistry, RefusedValuesLeaveNothingBehindAndBadValuesDoNotRead) {
  SignInValues v;
  v.login = {"a;b", "t", "o"};
  EXPECT_EQ(WriteSignInValues(reg, v), platform::kInvalidParameter);
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, kLarkmereKey));

  v.login = {"alice", "t", "o"};
  ASSERT_EQ(WriteSignInValues(reg, v), platform::kOk);
  // A login value the extension would reject reads as signed out.
  reg.SetString(RegRoot::CurrentUser, kLarkmereKey, u"RCSLoginInfo", u"alice;t");
  EXPECT_FALSE(ReadSignInValues(reg).has_value());
  reg.SetString(RegRoot::CurrentUser, kLarkmereKey, u"RCSLoginInfo", std::u16string(1100, u'x') + u";t;o");
  EXPECT_FALSE(ReadSignInValues(reg).has_value());
  // Tokens that disagree between the two values are no sign-in either.
  reg.SetString(RegRoot::CurrentUser, kLarkmereKey, u"RCSLoginInfo", u"alice;t;o");
  ASSERT_TRUE(ReadSignInValues(reg).has_value());
  reg.SetString(RegRoot::CurrentUser, kOrloKey, u"Nimbra_OPToken", u"alice:old:o");
  EXPECT_FALSE(ReadSignInValues(reg).has_value());
}

}  // namespace
}  // namespace nimbra
