// CorbelSdk64.dll under Wine against the native service started by the
// cloudserver fixture: sign in, list, make a folder with a Chinese name.
#include "service_account.h"
#include "wine_test_support.h"
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>

#include "cloud_sdk.h"
#include "http/http_client.h"

namespace {

std::string ToAnsi(const std::wstring& wide) {
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

int ServicePort() { return vd::testing::CloudserverFixturePort(); }

struct Box {
  std::mutex mutex;
  std::condition_variable cv;
  int calls = 0, code = -1;
  DWORD thread = 0;
  ListResult result;
  static void Invoke(int code, ListResult* result, void* user) {
    auto* box = static_cast<Box*>(user);
    std::lock_guard lock(box->mutex);
    ++box->calls;
    box->code = code;
    box->result = *result;
    box->thread = GetCurrentThreadId();
    box->cv.notify_all();
  }
};

TEST(SdkDll, SignsInAndListsAgainstTheNativeService) {
  const int port = ServicePort();
  ASSERT_GT(port, 0) << "no port from the cloudserver fixture";

  // The desktop client's part: sign in over HTTP.
  corbel::test::Account alice;
  ASSERT_TRUE(corbel::test::SignIn(port, "alice", "alice-pass", &alice));
  const std::string root = alice.root;

  auto folder = std::filesystem::temp_directory_path() / ("sdk-dll-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  corbel::test::WriteSdkConfig(folder, port);
  ICloudSdk* sdk = GetCloudSdk();
  ASSERT_NE(sdk, nullptr);
  ASSERT_TRUE(sdk->init(folder.string(), 0, folder.string(), 1));
  std::string proxyHost, proxyPort;
  EXPECT_EQ(sdk->GetIEProxy(&proxyHost, &proxyPort), kSdkOk);
  EXPECT_EQ(sdk->InitHttpX(proxyHost, proxyPort, "", ""), kSdkOk);
  ASSERT_EQ(sdk->SetTokenInfo("alice", alice.token, alice.opToken), kSdkOk);

  ListRequest list;
  list.account = "alice";
  list.catalogID = root;
  Box box;
  ASSERT_EQ(sdk->ls(list, &Box::Invoke, &box), kSdkOk);
  {
    std::unique_lock lock(box.mutex);
    ASSERT_TRUE(box.cv.wait_for(lock, std::chrono::seconds(30), [&] { return box.calls > 0; }));
  }
  ASSERT_EQ(box.code, kSdkOk);
  EXPECT_NE(box.thread, GetCurrentThreadId());
  EXPECT_EQ(box.result.totalCount, std::to_string(box.result.catalogs.size() + box.result.contents.size()));

  // Names arrive in the ANSI code page (936 here), not as UTF-8.
  const std::string documents = ToAnsi(L"\u6211\u7684\u6587\u6863");  // 我的文档
  if (GetACP() == 936) {
    EXPECT_EQ(documents, "\xCE\xD2\xB5\xC4\xCE\xC4\xB5\xB5");
  }
  bool found = false;
  for (const auto& c : box.result.catalogs) found |= c.catalogName == documents;
  EXPECT_TRUE(found);

  MkdirRequest mk;
  mk.account = "alice";
  mk.parentCatalogID = root;
  mk.catalogName = ToAnsi(L"\u65b0\u6587\u4ef6\u5939 " + std::to_wstring(GetCurrentProcessId()));  // 新文件夹
  MkdirResult made;
  ASSERT_EQ(sdk->SyncMkdir(mk, &made), kSdkOk);
  ListResult again;
  ASSERT_EQ(sdk->SyncLs(list, &again), kSdkOk);
  found = false;
  for (const auto& c : again.catalogs) found |= c.catalogName == mk.catalogName && c.catalogID == made.catalogID;
  EXPECT_TRUE(found);

  std::string md5;
  auto sample = folder / "sample.txt";
  {
    std::ofstream out(sample, std::ios::binary);
    out << "abc";
  }
  ASSERT_EQ(sdk->Md5CalFile(sample.string(), &md5), kSdkOk);
  EXPECT_EQ(md5, "900150983cd24fb0d6963f7d28e17f72");
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

}  // namespace
