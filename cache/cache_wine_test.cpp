// The catalog cache under Wine through misc64.dll and CorbelSdk64.dll, against
// the native service of the cloudserver fixture: a first listing, a refresh
// that sees a change, and a reload from cache.db.
#include "service_account.h"
#include "wine_test_support.h"
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>

#include "cloud_sdk.h"
#include "http/http_client.h"
#include "vd_cache.h"

namespace vdcache {
namespace {

int ServicePort() { return vd::testing::CloudserverFixturePort(); }

std::mutex g_lock;
std::vector<std::string> g_changed;
void OnChanged(const std::string& id) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_changed.push_back(id);
}

TEST(CacheWine, OpensListsAndRefreshesThroughTheDlls) {
  const int port = ServicePort();
  ASSERT_GT(port, 0) << "no port from the cloudserver fixture";
  corbel::test::Account alice;
  ASSERT_TRUE(corbel::test::SignIn(port, "alice", "alice-pass", &alice));
  const std::string root = alice.root;

  auto folder = std::filesystem::temp_directory_path() / ("cache-wine-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  corbel::test::WriteSdkConfig(folder, port);
  ICloudSdk* sdk = GetCloudSdk();
  ASSERT_NE(sdk, nullptr);
  ASSERT_TRUE(sdk->init(folder.string(), 0, folder.string(), 1));
  ASSERT_EQ(sdk->SetTokenInfo("alice", alice.token, alice.opToken), kSdkOk);
  const std::string db = (folder / "cache.db").string();
  {
    CVDCache cache(sdk);
    ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
    cache.AddEventReceiver(&OnChanged);
    ListRequest list;
    list.catalogID = root;
    list.startNumber = list.endNumber = "-1";
    ListResult r;
    ASSERT_EQ(cache.GetDisk(list, &r, false, false), kCacheOk);
    ASSERT_TRUE(cache.WaitIdle(60000));
    ASSERT_TRUE(cache.IsListed(root));
    ListResult first;
    cache.GetDiskFromCache(list, &first);
    ASSERT_FALSE(first.catalogs.empty());

    MkdirRequest mk;
    mk.account = "alice";
    mk.parentCatalogID = root;
    mk.catalogName = "wine-" + std::to_string(GetCurrentProcessId());
    MkdirResult made;
    ASSERT_EQ(sdk->SyncMkdir(mk, &made), kSdkOk);
    ASSERT_EQ(cache.GetDisk(list, &r, false, false), kCacheOk);
    ASSERT_TRUE(cache.WaitIdle(60000));
    {
      std::lock_guard<std::mutex> lock(g_lock);
      EXPECT_EQ(g_changed, std::vector<std::string>{root});
    }
    ListResult second;
    cache.GetDiskFromCache(list, &second);
    EXPECT_EQ(second.catalogs.size(), first.catalogs.size() + 1);
  }
  CVDCache reloaded(sdk);
  ASSERT_EQ(reloaded.Initialize(1, true, db, "alice"), kCacheOk);
  ListRequest list;
  list.catalogID = root;
  ListResult fromFile;
  reloaded.GetDiskFromCache(list, &fromFile);
  bool found = false;
  for (const auto& c : fromFile.catalogs) found |= c.catalogName == "wine-" + std::to_string(GetCurrentProcessId());
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace vdcache
