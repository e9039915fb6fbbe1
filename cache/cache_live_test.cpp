// The caches against the real SDK and the reference service on a loopback
// port: first listings page by page, change detection, shares, thumbnails,
// whole-tree prefetch and readers during refreshes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>

#include "breviary_cache.h"
#include "cloud_sdk_impl.h"
#include "predownload_tbimg.h"
#include "share_file_cache.h"
#include "test_support.h"
#include "tests/sdk_test_support.h"
#include "vd_cache.h"

namespace vdcache {
namespace {

// Counts the calls the cache makes and passes them to the real SDK.
class CountingSdk : public test::ForwardingSdk {
 public:
  using ForwardingSdk::ForwardingSdk;
  int ls(const ListRequest& r, SdkCallback<ListResult> cb, void* user) override {
    ++ls_calls;
    return ForwardingSdk::ls(r, cb, user);
  }
  int downloadFile(ITransferRecord* t) override {
    ++downloads;
    return ForwardingSdk::downloadFile(t);
  }
  std::atomic<int> ls_calls{0}, downloads{0};
};

std::mutex g_lock;
std::vector<std::string> g_changed;
std::vector<size_t> g_pageSizes;
CVDCache* g_cache = nullptr;
void OnChanged(const std::string& id) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_changed.push_back(id);
}
// Reads the cache from inside the receiver, as the view does.
void OnPage(const std::string& id) {
  ListRequest request;
  request.catalogID = id;
  ListResult r;
  g_cache->GetDiskFromCache(request, &r);
  std::lock_guard<std::mutex> lock(g_lock);
  g_pageSizes.push_back(r.catalogs.size() + r.contents.size());
}
std::vector<std::string> TakeChanged() {
  std::lock_guard<std::mutex> lock(g_lock);
  return std::exchange(g_changed, {});
}

constexpr int kBench = 450;

class CacheLive : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    m_server = std::make_unique<corbel::test::ServerProcess>(m_dir.path() / "data",
                                                             "--bench-entries " + std::to_string(kBench));
    ASSERT_TRUE(m_server->Start());
    ASSERT_TRUE(corbel::test::SignIn(m_server->port(), "alice", "alice-pass", &m_alice));
    ASSERT_TRUE(corbel::test::SignIn(m_server->port(), "bob", "bob-pass", &m_bob));
    corbel::test::WriteSdkConfig(m_dir.path(), m_server->port());
    ASSERT_TRUE(m_sdk.init(m_dir.File("log"), 0, m_dir.path().string(), 1));
    ASSERT_EQ(m_sdk.SetTokenInfo(m_alice.account, m_alice.token, m_alice.opToken), kSdkOk);
    ASSERT_EQ(m_sdk.SetTokenInfo(m_bob.account, m_bob.token, m_bob.opToken), kSdkOk);
    m_cache = std::make_unique<CVDCache>(&m_counting);
    g_cache = m_cache.get();
    ASSERT_EQ(m_cache->Initialize(1, true, m_dir.File("cache.db"), m_alice.account), kCacheOk);
    m_cache->AddEventReceiver(&OnChanged);
    m_cache->AddUpdatePageEventReceiver(&OnPage);
    TakeChanged();
    std::lock_guard<std::mutex> lock(g_lock);
    g_pageSizes.clear();
  }
  void TearDown() override {
    if (m_cache) {
      EXPECT_TRUE(m_cache->WaitIdle(60000));
    }
    m_cache.reset();
    g_cache = nullptr;
  }

  ListResult Server(const std::string& catalog) {
    ListResult all;
    for (int start = 1;; start += kPageSize) {
      ListRequest request;
      request.account = m_alice.account;
      request.catalogID = catalog;
      request.startNumber = std::to_string(start);
      request.endNumber = std::to_string(start + kPageSize - 1);
      ListResult page;
      EXPECT_EQ(m_sdk.SyncLs(request, &page), kSdkOk) << catalog;
      all.catalogs.insert(all.catalogs.end(), page.catalogs.begin(), page.catalogs.end());
      all.contents.insert(all.contents.end(), page.contents.begin(), page.contents.end());
      if (page.catalogs.empty() && page.contents.empty()) return all;
      if (static_cast<long>(all.catalogs.size() + all.contents.size()) >= std::atol(page.totalCount.c_str()))
        return all;
    }
  }
  std::string CatalogNamed(const std::string& parent, const std::string& name) {
    for (const auto& c : Server(parent).catalogs)
      if (c.catalogName == name) return c.catalogID;
    return {};
  }
  // Cache-first visit, then wait for its background listing to end.
  ListResult Visit(const std::string& catalog, bool alwaysUpdate = false) {
    ListRequest request;
    request.catalogID = catalog;
    request.startNumber = request.endNumber = "-1";
    ListResult r;
    EXPECT_EQ(m_cache->GetDisk(request, &r, false, alwaysUpdate), kCacheOk);
    EXPECT_TRUE(m_cache->WaitIdle(60000));
    return r;
  }
  ListResult Stored(const std::string& catalog) {
    ListRequest request;
    request.catalogID = catalog;
    ListResult r;
    m_cache->GetDiskFromCache(request, &r);
    return r;
  }
  static std::vector<std::string> Ids(const ListResult& r) {
    std::vector<std::string> ids;
    for (const auto& c : r.catalogs) ids.push_back(c.catalogID);
    for (const auto& c : r.contents) ids.push_back(c.contentID);
    return ids;
  }
  // The service stamps changes by the second.
  static void NextSecond() {
    const std::time_t now = std::time(nullptr);
    while (std::time(nullptr) == now) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  test::TempDir m_dir;
  std::unique_ptr<corbel::test::ServerProcess> m_server;
  corbel::test::Account m_alice, m_bob;
  corbel::CloudSdk m_sdk;
  CountingSdk m_counting{&m_sdk};
  std::unique_ptr<CVDCache> m_cache;
};

TEST_F(CacheLive, FirstListingArrivesPageByPageInServiceOrderWithOneListingPerCatalog) {
  const std::string bench = CatalogNamed(m_alice.root, "bench_" + std::to_string(kBench));
  ASSERT_FALSE(bench.empty());
  ListRequest request;
  request.catalogID = bench;
  ListResult r;
  ASSERT_EQ(m_cache->GetDisk(request, &r, false, false), kCacheOk);
  EXPECT_TRUE(r.contents.empty());                                     // never listed: nothing yet
  ASSERT_EQ(m_cache->GetDisk(request, &r, false, false), kCacheOk);  // a second view meanwhile
  ASSERT_TRUE(m_cache->WaitIdle(60000));
  EXPECT_EQ(m_counting.ls_calls.load(), 3);  // three pages of one listing, no second listing
  {
    std::lock_guard<std::mutex> lock(g_lock);
    EXPECT_EQ(g_pageSizes, (std::vector<size_t>{200, 400, 450}));
  }
  EXPECT_TRUE(m_cache->IsListed(bench));
  EXPECT_EQ(Ids(Stored(bench)), Ids(Server(bench)));
  // The pages were written as they came: a new cache loads them from the file.
  CVDCache reloaded(&m_counting);
  ASSERT_EQ(reloaded.Initialize(1, true, m_dir.File("cache.db"), m_alice.account), kCacheOk);
  ListResult fromFile;
  request.startNumber = request.endNumber = "-1";
  reloaded.GetDiskFromCache(request, &fromFile);
  EXPECT_EQ(Ids(fromFile), Ids(Server(bench)));
}

TEST_F(CacheLive, ServiceChangesShowUpAfterARefreshAndAreAnnounced) {
  const std::string root = m_alice.root;
  Visit(root);  // first listing
  ASSERT_FALSE(Stored(root).catalogs.empty());
  TakeChanged();
  Visit(root);
  EXPECT_TRUE(TakeChanged().empty()) << "an unchanged refresh announces nothing";

  const std::string target = Stored(root).catalogs.front().catalogID;
  struct Change {
    const char* what;
    std::function<void()> run;
  } changes[] = {
      {"add",
       [&] {
         MkdirRequest mk;
         mk.account = m_alice.account;
         mk.parentCatalogID = root;
         mk.catalogName = "新建文件夹";
         MkdirResult out;
         ASSERT_EQ(m_sdk.SyncMkdir(mk, &out), kSdkOk);
       }},
      {"rename",
       [&] {
         NextSecond();
         UpdateCatalogRequest rn;
         rn.account = m_alice.account;
         rn.catalogID = CatalogNamed(root, "新建文件夹");
         rn.catalogName = "改名";
         ASSERT_EQ(m_sdk.updateCatalogInfo(rn, nullptr, nullptr, nullptr), kSdkOk);
       }},
      {"move",
       [&] {
         CopyMoveRequest mv;
         mv.account = m_alice.account;
         mv.catalogIDs = {CatalogNamed(root, "改名")};
         mv.targetCatalogID = target;
         OprResult out;
         ASSERT_EQ(m_sdk.SyncMove(mv, &out), kSdkOk);
       }},
      {"delete",
       [&] {
         MgtVirDirRequest del;
         del.account = m_alice.account;
         del.catalogIDs = {CatalogNamed(root, "bench_" + std::to_string(kBench))};
         OprResult out;
         ASSERT_EQ(m_sdk.SyncMgtVirDirInfo(del, &out), kSdkOk);
       }},
  };
  for (const Change& change : changes) {
    change.run();
    Visit(root);
    EXPECT_EQ(TakeChanged(), std::vector<std::string>{root}) << change.what;
    std::vector<std::string> names, serverNames;
    for (const auto& c : Stored(root).catalogs) names.push_back(c.catalogName);
    for (const auto& c : Server(root).catalogs) serverNames.push_back(c.catalogName);
    EXPECT_EQ(names, serverNames) << change.what;
    Visit(root);
    EXPECT_TRUE(TakeChanged().empty()) << "after " << change.what;
  }
}

TEST_F(CacheLive, ReadersOnOtherThreadsWhileRefreshesReplaceACatalog) {
  const std::string bench = CatalogNamed(m_alice.root, "bench_" + std::to_string(kBench));
  m_cache->SetPagePauseMs(0);
  Visit(bench);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, reads{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t)
    readers.emplace_back([&] {
      while (!done) {
        if (Stored(bench).contents.size() != size_t{kBench}) ++bad;
        ++reads;
      }
    });
  for (int i = 0; i < 5; ++i) Visit(bench, true);  // always-update: a full replace each time
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(TakeChanged().size(), 5u);
}

TEST_F(CacheLive, WholeTreePrefetchListsEveryCatalogAndFetchesThumbnailsOnce) {
  ThumbnailRecords records;
  auto pool = std::make_unique<ThreadPool>(2);
  PreDownloadTbimg thumbnails(&m_counting, &records, pool.get(), m_dir.File("docs"), m_alice.account,
                              [this](const std::string& id) { return m_cache->GetCatalogPath(id); });
  m_cache->SetThumbnailPrefetch(&thumbnails);
  m_cache->SetDiskDisplayName("Disk");
  ASSERT_EQ(m_cache->PrefetchAllCatalog("", m_alice.root), kCacheOk);
  ASSERT_TRUE(m_cache->WaitIdle(60000));
  // Every catalog of the service's tree is listed and has the service's children.
  std::vector<std::string> queue{m_alice.root};
  int catalogs = 0;
  std::string picturesID;
  while (!queue.empty()) {
    const std::string id = queue.back();
    queue.pop_back();
    const ListResult server = Server(id);
    EXPECT_TRUE(m_cache->IsListed(id) || Ids(server).empty()) << id;
    EXPECT_EQ(Ids(Stored(id)), Ids(server)) << id;
    for (const auto& c : server.catalogs) {
      queue.push_back(c.catalogID);
      if (c.catalogName == "图片") picturesID = c.catalogID;
      ++catalogs;
    }
  }
  EXPECT_GE(catalogs, 5);
  ASSERT_FALSE(picturesID.empty());
  EXPECT_EQ(m_cache->GetCatalogPath(picturesID).rfind("Disk\\", 0), 0u);
  EXPECT_TRUE(TakeChanged().empty()) << "the prefetch announces nothing";

  // Thumbnails: the pool fetched each image once into its file.
  pool.reset();  // runs the queued jobs to their end
  const ListResult pictures = Stored(picturesID);
  const std::vector<BreviaryItem> all = [&] {
    ThumbnailRecords none;
    PreDownloadTbimg fresh(&m_counting, &none, nullptr, m_dir.File("docs"), m_alice.account,
                           [this](const std::string& id) { return m_cache->GetCatalogPath(id); });
    return fresh.GenerateBngRUL(m_cache->GetCatalogPath(picturesID), pictures);
  }();
  ASSERT_EQ(all.size(), 2u);
  for (const BreviaryItem& item : all) {
    std::ifstream in(item.finalPath, std::ios::binary);
    char magic[4] = {};
    in.read(magic, 4);
    const bool png = std::string(magic + 1, 3) == "PNG", jpeg = static_cast<unsigned char>(magic[0]) == 0xFF;
    EXPECT_TRUE(png || jpeg) << item.finalPath;
    EXPECT_FALSE(std::ifstream(item.tempPath).good());
  }
  const int fetched = m_counting.downloads.load();
  EXPECT_EQ(fetched, 2);
  EXPECT_EQ(thumbnails.PreDownloadTbimgFiles(picturesID, pictures), 0);  // read from the files now
  EXPECT_EQ(m_counting.downloads.load(), fetched);
  std::remove(all[0].finalPath.c_str());
  EXPECT_EQ(thumbnails.PreDownloadTbimgFiles(picturesID, pictures), 1);  // exactly the missing one
  EXPECT_EQ(m_counting.downloads.load(), fetched + 1);

  // The records survive in the breviarys table.
  CBreviaryCache table;
  BreviaryMap loaded;
  ASSERT_EQ(table.Initialize(true, m_dir.File("cache.db"), loaded), kCacheOk);
  EXPECT_EQ(table.UpdateBreviaryInfo(records.Snapshot()), 0);
  CBreviaryCache again;
  BreviaryMap reloaded;
  ASSERT_EQ(again.Initialize(true, m_dir.File("cache.db"), reloaded), kCacheOk);
  EXPECT_EQ(reloaded, records.Snapshot());
  EXPECT_EQ(reloaded.size(), 2u);
  m_cache->SetThumbnailPrefetch(nullptr);
}

TEST_F(CacheLive, SharesAppearInTheShareCacheAndItsTables) {
  CVDShareFileCache shares(&m_counting);
  const std::string db = m_dir.File("cache.db");
  ASSERT_EQ(shares.Initialize(1, true, db, m_bob.account), kCacheOk);
  ShareListRequest templ;
  templ.account = m_bob.account;
  ShareListResult result;
  ASSERT_EQ(shares.GetDisk(kShareRootKey, templ, &result, false), kCacheOk);
  ASSERT_TRUE(shares.WaitIdle(60000));
  ShareListResult stored;
  ASSERT_EQ(shares.GetDiskFromCache(kShareRootKey, &stored), kCacheOk);
  ASSERT_FALSE(stored.shares.empty());
  bool sawDocs = false;
  for (const ShareEntry& e : stored.shares) sawDocs |= e.HasCatalog() && e.catalog.catalogName == "我的文档";
  EXPECT_TRUE(sawDocs);
  const auto rows = test::QueryRows(db, "select catalogName, strSharee, SharerID != '' from sfCatalogs");
  ASSERT_FALSE(rows.empty());
  for (const std::string& row : rows) EXPECT_NE(row.find("|" + m_bob.account + "|1"), std::string::npos) << row;
  // A second cache on the same file loads the share list without the network.
  CVDShareFileCache reloaded(&m_counting);
  ASSERT_EQ(reloaded.Initialize(1, true, db, m_bob.account), kCacheOk);
  ShareListResult fromFile;
  reloaded.GetDiskFromCache(kShareRootKey, &fromFile);
  EXPECT_EQ(fromFile.shares.size(), stored.shares.size());
  // The sharers' names through the item list.
  ASSERT_TRUE(m_cache->InitShareUser());
  ASSERT_TRUE(m_cache->WaitIdle(30000));
  EXPECT_TRUE(m_cache->HasInitShareUser());
}

}  // namespace
}  // namespace vdcache
