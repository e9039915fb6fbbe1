// The catalog cache's rows: packed without a byte lost, loaded from
// cache.db on a thread of their own while readers and writers go on, and a
// first listing that was cut short known as such by the next process. The
// share cache's rows load the same way.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <list>
#include <mutex>
#include <thread>

#include "cache_sql.h"
#include "catalog_store.h"
#include "packed_rows.h"
#include "service/sql_ptr.h"
#include "share_file_cache.h"
#include "test_support.h"
#include "vd_cache.h"

namespace vdcache {
namespace {

using test::MakeCatalog;
using test::MakeContent;
using test::TempDir;

// A record with every text field set to its own text, and the integers set.
CatalogInfo FullCatalog(const std::string& id, std::size_t longField) {
  CatalogInfo c = MakeCatalog(id, "名称 " + id);
  std::size_t i = 0;
  for (auto field : RowLayout<CatalogInfo>::TextFields())
    if ((c.*field).empty()) c.*field = "t" + std::to_string(i++);
  c.proxyID = std::string(longField, 'p');
  c.moved = -7;
  c.isFixedDir = 1;
  c.isSynced = 2147483647;
  return c;
}

ContentInfo FullContent(const std::string& id, std::size_t longField) {
  ContentInfo c = MakeContent(id, "文件 " + id);
  std::size_t i = 0;
  for (auto field : RowLayout<ContentInfo>::TextFields())
    if ((c.*field).empty()) c.*field = "f" + std::to_string(i++);
  c.thumbnailURL = std::string(longField, 'u');
  c.contentDesc = std::string(1, '\0') + "nul inside";
  c.moved = 3;
  return c;
}

bool Same(const CatalogInfo& a, const CatalogInfo& b) {
  for (auto field : RowLayout<CatalogInfo>::TextFields())
    if (a.*field != b.*field) return false;
  return a.moved == b.moved && a.isFixedDir == b.isFixedDir && a.isSynced == b.isSynced;
}

bool Same(const ContentInfo& a, const ContentInfo& b) {
  for (auto field : RowLayout<ContentInfo>::TextFields())
    if (a.*field != b.*field) return false;
  return a.moved == b.moved;
}

TEST(PackedRows, EveryFieldComesBackWhateverItsLength) {
  // Lengths around each boundary of the length bytes.
  for (std::size_t length : {0u, 1u, 127u, 128u, 16383u, 16384u, 70000u}) {
    SCOPED_TRACE(length);
    ListResult listing;
    listing.catalogs = {FullCatalog("C1", length), FullCatalog("C2", 0)};
    listing.contents = {FullContent("F1", length), FullContent("F2", length / 2)};
    const ChildrenPtr packed = CatalogStore::Pack(listing);
    ASSERT_NE(packed, nullptr);
    ASSERT_EQ(packed->catalogs.Count(), 2u);
    ASSERT_EQ(packed->contents.Count(), 2u);
    std::size_t i = 0;
    packed->catalogs.ForEach(0, 2, [&](const auto& page, std::size_t row) {
      EXPECT_TRUE(Same(page.Read(row), listing.catalogs[i])) << i;
      EXPECT_EQ(page.Field(row, RowLayout<CatalogInfo>::kId), listing.catalogs[i].catalogID);
      EXPECT_EQ(page.Field(row, RowLayout<CatalogInfo>::kUpdateTime), listing.catalogs[i].updatetime);
      ++i;
      return true;
    });
    i = 0;
    packed->contents.ForEach(0, 2, [&](const auto& page, std::size_t row) {
      EXPECT_TRUE(Same(page.Read(row), listing.contents[i])) << i;
      EXPECT_EQ(page.Field(row, RowLayout<ContentInfo>::kName), listing.contents[i].contentName);
      ++i;
      return true;
    });
  }
}

TEST(PackedRows, WindowsAcrossPagesAndAppendsShareThePagesBefore) {
  ListResult listing;
  for (int i = 0; i < 2500; ++i) listing.contents.push_back(MakeContent("F" + std::to_string(i), "n"));
  const ChildrenPtr packed = CatalogStore::Pack(listing);
  ASSERT_EQ(packed->contents.Count(), 2500u);
  std::vector<std::string> ids;
  packed->contents.ForEach(1020, 1030, [&](const auto& page, std::size_t row) {
    ids.emplace_back(page.Field(row, RowLayout<ContentInfo>::kId));
    return true;
  });
  ASSERT_EQ(ids.size(), 10u);
  EXPECT_EQ(ids.front(), "F1020");
  EXPECT_EQ(ids.back(), "F1029");

  CatalogStore store;
  store.Put("P", packed);
  const ChildrenPtr before = store.Children("P");
  ListResult page;
  page.contents = {MakeContent("NEW", "n")};
  store.Append("P", page);
  const ChildrenPtr after = store.Children("P");
  EXPECT_EQ(before->contents.Count(), 2500u) << "a snapshot never changes";
  ASSERT_EQ(after->contents.Count(), 2501u);
  after->contents.ForEach(2500, 2501, [&](const auto& p, std::size_t row) {
    EXPECT_EQ(p.Field(row, RowLayout<ContentInfo>::kId), "NEW");
    return true;
  });
}

// A cache.db written through the cache itself: `parents` catalogs under the
// root, each with `perParent` contents.
void WriteFile(const std::string& db, int parents, int perParent) {
  CVDCache writer;
  ASSERT_EQ(writer.Initialize(1, true, db, "alice"), kCacheOk);
  ASSERT_TRUE(writer.WaitLoaded(30000));
  ListResult root;
  root.request.catalogID = "ROOT";
  for (int p = 0; p < parents; ++p) {
    const std::string id = "P" + std::to_string(p);
    root.catalogs.push_back(MakeCatalog(id, "folder " + id));
    ListResult children;
    children.request.catalogID = id;
    for (int i = 0; i < perParent; ++i) children.contents.push_back(MakeContent(id + "-F" + std::to_string(i), "f"));
    writer.UpdateCache(children);
  }
  writer.UpdateCache(root);
}

std::vector<std::string> ContentIds(CVDCache& cache, const std::string& parent) {
  ListRequest request;
  request.catalogID = parent;
  ListResult result;
  cache.GetDiskFromCache(request, &result);
  std::vector<std::string> ids;
  for (const ContentInfo& c : result.contents) ids.push_back(c.contentID);
  return ids;
}

TEST(CacheLoad, ReadersAndWritersDuringTheLoadSeeTheFileAndLoseNothing) {
  TempDir dir;
  const std::string db = dir.File("cache.db");
  WriteFile(db, 20, 50);

  CVDCache cache;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> held{false};
  cache.Store().SetBeforePublish([&] {
    held = true;
    released.wait_for(std::chrono::seconds(60));
  });
  ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);

  // The load is held before it publishes: every answer comes from the file.
  ListRequest root;
  root.catalogID = "ROOT";
  ListResult listed;
  ASSERT_EQ(cache.GetDiskFromCache(root, &listed), kCacheOk);
  EXPECT_EQ(listed.catalogs.size(), 20u);
  EXPECT_EQ(ContentIds(cache, "P3").size(), 50u);
  EXPECT_TRUE(cache.IsListed("P3"));
  EXPECT_TRUE(cache.HasSubCatalog("ROOT"));
  EXPECT_FALSE(cache.IsListed("NOWHERE"));
  EXPECT_FALSE(cache.Store().WaitLoaded(0));
  // A reader that steps a catalog gets it page by page from the file, without
  // the whole catalog being read first.
  {
    auto rows = cache.OpenRows("P7");
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->NextCatalogs(), nullptr);
    std::vector<std::string> ids;
    while (auto page = rows->NextContents())
      for (std::size_t r = 0; r < page->Count(); ++r) ids.emplace_back(page->Field(r, RowLayout<ContentInfo>::kId));
    ASSERT_EQ(ids.size(), 50u);
    EXPECT_EQ(ids.front(), "P7-F0");
    EXPECT_EQ(ids.back(), "P7-F49");
    EXPECT_FALSE(cache.Store().IsResident("P7"));
  }

  // Writes while it is held: a replaced catalog, a page appended to one the
  // file holds, a deleted content. The load must not put the old rows back.
  ListResult replaced;
  replaced.request.catalogID = "P1";
  replaced.contents = {MakeContent("P1-NEW", "n")};
  cache.UpdateCache(replaced);
  ListResult page;
  page.request.catalogID = "P2";
  page.contents = {MakeContent("P2-EXTRA", "n")};
  cache.PushbackCache(page);
  cache.DeleteRecordById("P4", {"P4-F0"});

  release.set_value();
  ASSERT_TRUE(cache.WaitLoaded(30000));
  EXPECT_TRUE(held.load());
  EXPECT_EQ(ContentIds(cache, "P1"), std::vector<std::string>{"P1-NEW"});
  const auto p2 = ContentIds(cache, "P2");
  ASSERT_EQ(p2.size(), 51u);
  EXPECT_EQ(p2.front(), "P2-F0");
  EXPECT_EQ(p2.back(), "P2-EXTRA");
  const auto p4 = ContentIds(cache, "P4");
  EXPECT_EQ(p4.size(), 49u);
  EXPECT_EQ(p4.front(), "P4-F1");
  EXPECT_EQ(ContentIds(cache, "P9").size(), 50u) << "a catalog nobody asked for came with the load";
  EXPECT_TRUE(cache.IsListed("P9"));

  // What memory holds is what the file holds.
  CVDCache again;
  ASSERT_EQ(again.Initialize(1, true, db, "alice"), kCacheOk);
  ASSERT_TRUE(again.WaitLoaded(30000));
  for (const char* parent : {"P1", "P2", "P4", "P9"}) EXPECT_EQ(ContentIds(again, parent), ContentIds(cache, parent)) << parent;
}

// The share cache's file: three shared catalogs from bob under the share
// root, two contents in the first and one in the third.
void WriteShares(const std::string& db, const std::string& root) {
  SQLConnectionPtr c = OpenSQLConnection(db.c_str());
  ASSERT_TRUE(c);
  ASSERT_TRUE(RunSchema(c.get(), kShareCacheSchema, 7));
  c->beginTransaction();
  for (const char* id : {"S0", "S1", "S2"}) AddShareCatalog(c.get(), root, "bob", "alice", MakeCatalog(id, id));
  for (const char* id : {"S0-F0", "S0-F1"}) AddShareContent(c.get(), "S0", "bob", "alice", MakeContent(id, id));
  AddShareContent(c.get(), "S2", "bob", "alice", MakeContent("S2-F0", "S2-F0"));
  c->commit();
}

// The service's share list now: S0 still, S1 and S2 gone, S9 new.
class ShareListSdk : public test::FailingSdk {
 public:
  int GetShareList(const ShareListRequest&, ShareListResult* out, SdkCallback<ShareListResult>, void*) override {
    out->shares.clear();
    for (const char* id : {"S0", "S9"}) {
      ShareEntry& e = out->shares.emplace_back();
      e.catalog = MakeCatalog(id, id);
      e.header.SharerID = "bob";
    }
    out->totalCount = "2";
    return 0;
  }
};

std::vector<std::string> ShareIds(CVDShareFileCache& cache) {
  ShareListResult result;
  EXPECT_EQ(cache.GetDiskFromCache(cache.ShareRootKey(), &result), kCacheOk);
  std::vector<std::string> ids;
  for (const ShareEntry& e : result.shares) ids.push_back(e.catalog.catalogID + "/" + e.header.SharerID);
  return ids;
}

std::vector<std::string> SharedContentIds(CVDShareFileCache& cache, const std::string& catalog) {
  ListRequest request;
  request.catalogID = catalog;
  request.startNumber = request.endNumber = "-1";
  ListResult result;
  EXPECT_EQ(cache.GetSubCatalogFromCache(request, &result), kCacheOk);
  std::vector<std::string> ids;
  for (const ContentInfo& c : result.contents) ids.push_back(c.contentID);
  return ids;
}

TEST(ShareCacheLoad, ReadersAndWritersDuringTheLoadSeeTheFileAndLoseNothing) {
  TempDir dir;
  const std::string db = dir.File("share.db");
  ShareListSdk sdk;
  CVDShareFileCache cache(&sdk);
  WriteShares(db, cache.ShareRootKey());

  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> held{false};
  cache.SetBeforeLoadPublish([&] {
    held = true;
    released.wait_for(std::chrono::seconds(60));
  });
  ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
  for (int i = 0; i < 3000 && !held; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(held.load()) << "the load never read the file";

  // Held before it publishes: every answer comes from the file.
  EXPECT_EQ(SharedContentIds(cache, "S0"), (std::vector<std::string>{"S0-F0", "S0-F1"}));
  EXPECT_TRUE(cache.IsListed("S2"));
  EXPECT_FALSE(cache.IsListed("NOWHERE"));
  EXPECT_FALSE(cache.WaitLoaded(0));

  // The share list, never read in this process, listed again while the load
  // is held: the load must not put the file's old list back.
  ShareListResult fresh;
  ASSERT_EQ(cache.GetDisk(cache.ShareRootKey(), ShareListRequest{}, &fresh, true), kCacheOk);

  release.set_value();
  ASSERT_TRUE(cache.WaitLoaded(30000));
  EXPECT_EQ(ShareIds(cache), (std::vector<std::string>{"S0/bob", "S9/bob"}));
  EXPECT_EQ(SharedContentIds(cache, "S2"), std::vector<std::string>{"S2-F0"}) << "a catalog nobody asked for";
  EXPECT_TRUE(cache.IsListed("S2"));
  EXPECT_EQ(SharedContentIds(cache, "S0"), (std::vector<std::string>{"S0-F0", "S0-F1"}));

  // A fresh process sees the file's share list before its load is in.
  {
    CVDShareFileCache early(&sdk);
    std::promise<void> go;
    std::shared_future<void> gone = go.get_future().share();
    early.SetBeforeLoadPublish([&] { gone.wait_for(std::chrono::seconds(60)); });
    ASSERT_EQ(early.Initialize(1, true, db, "alice"), kCacheOk);
    EXPECT_EQ(ShareIds(early), (std::vector<std::string>{"S0/bob", "S9/bob"}));
    go.set_value();
    EXPECT_TRUE(early.WaitLoaded(30000));
  }

  // The next process finds what this one left.
  CVDShareFileCache again(&sdk);
  ASSERT_EQ(again.Initialize(1, true, db, "alice"), kCacheOk);
  ASSERT_TRUE(again.WaitLoaded(30000));
  EXPECT_EQ(ShareIds(again), ShareIds(cache));
  EXPECT_EQ(SharedContentIds(again, "S0"), SharedContentIds(cache, "S0"));
}

// A service whose catalog has 1,000 entries; the listing of page `cutAt`
// cannot start, as when the process ends in the middle of a first listing.
class CutSdk : public test::FailingSdk {
 public:
  ~CutSdk() override { JoinAll(); }
  int ls(const ListRequest& request, SdkCallback<ListResult> callback, void* user) override {
    const int start = std::stoi(request.startNumber);
    if (start >= cutAt) return kSdkNetworkUnavailable;
    m_calls.Run([request, callback, user, start] {
      ListResult result = Page(request, start);
      callback(0, &result, user);
    });
    return 0;
  }
  int SyncLs(const ListRequest& request, ListResult* out) override {
    *out = Page(request, std::stoi(request.startNumber));
    return 0;
  }
  void JoinAll() { m_calls.JoinAll(); }
  int cutAt = 1 << 30;

 private:
  static ListResult Page(const ListRequest& request, int start) {
    ListResult r;
    r.request = request;
    r.totalCount = "1000";
    for (int i = start; i < start + 200 && i <= 1000; ++i) r.contents.push_back(MakeContent("F" + std::to_string(i), "n"));
    return r;
  }
  test::AsyncCalls m_calls;
};

TEST(CacheLoad, AFirstListingCutShortIsShownAsWhatItIsAndCompletedByTheNextLook) {
  TempDir dir;
  const std::string db = dir.File("cache.db");
  ListRequest request;
  request.catalogID = "BIG";
  request.startNumber = request.endNumber = "-1";
  {
    CutSdk sdk;
    sdk.cutAt = 601;  // three pages arrive, the fourth never starts
    CVDCache cache(&sdk);
    cache.SetPagePauseMs(0);
    ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
    ListResult ignored;
    ASSERT_EQ(cache.GetDisk(request, &ignored, false, false), kCacheOk);
    ASSERT_TRUE(cache.WaitIdle(30000));
    sdk.JoinAll();
    EXPECT_FALSE(cache.IsListed("BIG"));
    EXPECT_TRUE(cache.IsUnfinished("BIG"));
    EXPECT_EQ(ContentIds(cache, "BIG").size(), 600u);
  }
  // The next process: the rows that are there, not marked whole.
  CutSdk sdk;
  CVDCache cache(&sdk);
  cache.SetPagePauseMs(0);
  ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
  ASSERT_TRUE(cache.WaitLoaded(30000));
  EXPECT_FALSE(cache.IsListed("BIG"));
  EXPECT_TRUE(cache.IsUnfinished("BIG"));
  ListResult shown;
  request.startNumber = "0";
  request.endNumber = "5000";
  ASSERT_EQ(cache.GetDisk(request, &shown, false, false), kCacheOk);
  EXPECT_EQ(shown.contents.size(), 600u) << "what is there is shown while it is listed whole";
  ASSERT_TRUE(cache.WaitIdle(30000));
  sdk.JoinAll();
  EXPECT_TRUE(cache.IsListed("BIG"));
  EXPECT_FALSE(cache.IsUnfinished("BIG"));
  const auto whole = ContentIds(cache, "BIG");
  ASSERT_EQ(whole.size(), 1000u);
  EXPECT_EQ(whole.back(), "F1000");
  // And the file knows it too.
  CVDCache third(&sdk);
  ASSERT_EQ(third.Initialize(1, true, db, "alice"), kCacheOk);
  ASSERT_TRUE(third.WaitLoaded(30000));
  EXPECT_TRUE(third.IsListed("BIG"));
  EXPECT_FALSE(third.IsUnfinished("BIG"));
}

}  // namespace
}  // namespace vdcache
