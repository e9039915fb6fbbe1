#include "client_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "platform/text.h"

namespace nimbra {
namespace {

TEST(ClientOptions, ParsesTheCommandLineAndRejectsBadArguments) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
  };
  const Case cases[] = {
      {{}, true},
      {{"--host", "127.0.0.1", "--port", "8080", "--account", "张三", "--password", "p w"}, true},
      {{"--port", "0"}, false},
      {{"--port", "65536"}, false},
      {{"--port", "80x"}, false},
      {{"--port", "-1"}, false},
      {{"--port"}, false},
      {{"--account"}, false},
      {{"--proxy", "proxy.lan"}, false},
      {{"--proxy", ":8080"}, false},
      {{"--proxy", "proxy.lan:99999"}, false},
      {{"--frobnicate"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    std::string error;
    EXPECT_EQ(ParseCommandLine(c.args, &error).has_value(), c.ok) << error;
    EXPECT_EQ(error.empty(), c.ok);
  }
  std::string error;
  auto o = ParseCommandLine({"--host", "h", "--port", "8080", "--account", "张三", "--password", "p w", "--proxy",
                             "proxy.lan:3128", "--proxy-user", "u", "--once"},
                            &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->action, ClientAction::SignIn);
  EXPECT_EQ(o->port, 8080);
  EXPECT_EQ(o->account, "张三");
  EXPECT_EQ(o->password, "p w");
  EXPECT_EQ(o->proxy, (ProxySettings{"1", "proxy.lan", "3128", "u", ""}));
  EXPECT_TRUE(o->once);
  EXPECT_EQ(ParseCommandLine({"--sign-out"}, &error)->action, ClientAction::SignOut);
  EXPECT_EQ(ParseCommandLine({"--quit"}, &error)->action, ClientAction::Quit);
}

TEST(ClientOptions, SettingsFilesFillOnlyWhatTheCommandLineLeftOpen) {
  auto folder = std::filesystem::temp_directory_path() / ("nimbra-options-" + std::to_string(platform::CurrentProcessId()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "Nimbra.ini") << "[Account]\nAccount=bob\nPassword=bob-pass\n[Proxy]\nHost=p\nPort=81\n";
  std::ofstream(folder / "sdkconfig.ini") << "[Service]\nHost=10.0.0.1\nPort=9000\n";
  const std::u16string dir = platform::Utf8ToUtf16(folder.string());

  ClientOptions from_files;
  ApplySettingsFiles(dir, &from_files);
  EXPECT_EQ(from_files.host, "10.0.0.1");
  EXPECT_EQ(from_files.port, 9000);
  EXPECT_EQ(from_files.account, "bob");
  EXPECT_EQ(from_files.password, "bob-pass");
  EXPECT_EQ(from_files.proxy, (ProxySettings{"1", "p", "81", "", ""}));

  ClientOptions given;
  given.host = "127.0.0.1";
  given.port = 1234;
  given.account = "alice";
  ApplySettingsFiles(dir, &given);
  EXPECT_EQ(given.host, "127.0.0.1");
  EXPECT_EQ(given.port, 1234);
  EXPECT_EQ(given.account, "alice");
  EXPECT_EQ(given.password, "bob-pass");

  std::ofstream(folder / "Nimbra.ini") << "[Service]\nPort=70000\n";
  ClientOptions bad_port;
  ApplySettingsFiles(dir, &bad_port);
  EXPECT_EQ(bad_port.port, 9000);  // an unusable port falls through to the SDK's file
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace nimbra
