#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "cache_sql.h"
#include "test_support.h"
#include "platform/text.h"
#include "share_file_cache.h"
#include "string_table.h"
#include "vd_cache.h"

namespace vdcache {
namespace {

using test::MakeCatalog;
using test::MakeContent;
using test::QueryRows;
using test::TempDir;

ListResult Listing(const std::string& parent, std::vector<CatalogInfo> catalogs, std::vector<ContentInfo> contents) {
  ListResult r;
  r.request.catalogID = parent;
  r.catalogs = std::move(catalogs);
  r.contents = std::move(contents);
  r.totalCount = std::to_string(r.catalogs.size() + r.contents.size());
  return r;
}

std::vector<std::string> Ids(const ListResult& r) {
  std::vector<std::string> ids;
  for (const auto& c : r.catalogs) ids.push_back(c.catalogID);
  for (const auto& c : r.contents) ids.push_back(c.contentID);
  return ids;
}

ListResult Read(CVDCache& cache, const std::string& parent, const std::string& start = "-1",
                const std::string& end = "-1") {
  ListRequest request;
  request.catalogID = parent;
  request.startNumber = start;
  request.endNumber = end;
  ListResult r;
  EXPECT_EQ(cache.GetDiskFromCacheEx(request, &r), kCacheOk);
  return r;
}

std::vector<std::string> Columns(const std::string& db, const std::string& table) {
  std::vector<std::string> names;
  for (const std::string& row : QueryRows(db, "select name from pragma_table_info('" + table + "')"))
    names.push_back(row);
  return names;
}

TEST(CacheStore, FreshFileGetsExactTablesAndSecondStartKeepsThem) {
  TempDir dir;
  const std::string db = dir.File("cache.db");
  for (int start = 0; start < 2; ++start) {
    CVDCache cache;
    ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
    const std::vector<std::string> catalogs = Columns(db, "catalogs");
    const std::vector<std::string> expectCatalogs = {
        "parentID", "catalogID",  "catalogName", "catalogType", "createtime", "updatetime",
        "isShared", "catalogLevel", "shareDoneeCount", "ETagOprType", "openType", "dirEtag",
        "tombstoned", "proxyID", "moved", "isFixedDir", "isSynced", "shareType"};
    EXPECT_EQ(catalogs, expectCatalogs) << "start " << start;
    const std::vector<std::string> contents = Columns(db, "contents");
    ASSERT_EQ(contents.size(), 37u) << "start " << start;
    EXPECT_EQ(contents[14], "presentLURL");
    EXPECT_EQ(contents[35], "midthumbnailURL");
    EXPECT_EQ(contents[36], "shareType");
    if (start == 0) cache.UpdateCache(Listing("P", {MakeCatalog("C1", "a")}, {MakeContent("F1", "f.jpg")}));
    else EXPECT_EQ(Ids(Read(cache, "P")), (std::vector<std::string>{"C1", "F1"}));
  }
  const auto sql = QueryRows(db, "select sql from sqlite_master where name='catalogs'");
  ASSERT_EQ(sql.size(), 1u);
  EXPECT_EQ(sql[0].rfind("CREATE TABLE catalogs(parentID char(32),catalogID char(32),catalogName varchar(256)", 0), 0u)
      << sql[0];
}

TEST(CacheStore, ResultCodesBeforeAndAfterLoading) {
  TempDir dir;
  CVDCache cache;
  ListRequest request;
  request.catalogID = "P";
  ListResult result;
  EXPECT_EQ(cache.GetDiskFromCache(request, &result), kCacheNotLoaded);
  EXPECT_EQ(cache.GetDiskFromCacheEx(request, &result), kCacheNotLoaded);
  EXPECT_EQ(cache.GetDisk(request, &result, false, false), kCacheNotLoaded);
  EXPECT_EQ(cache.PrefetchAllCatalog("", "P"), kCacheNotLoaded);
  EXPECT_FALSE(cache.HasSubCatalog("P"));
  EXPECT_EQ(cache.Destroy(), kCacheNotLoaded);
  EXPECT_EQ(cache.Initialize(1, true, dir.File("missing/folder/cache.db"), "alice"), kCacheDbFailure);
  EXPECT_EQ(cache.GetDiskFromCache(request, &result), kCacheNotLoaded);
  ASSERT_EQ(cache.Initialize(1, true, dir.File("cache.db"), "alice"), kCacheOk);
  EXPECT_EQ(cache.GetDiskFromCache(request, &result), kCacheOk);
  EXPECT_EQ(result.totalCount, "0");
  EXPECT_TRUE(result.catalogs.empty() && result.contents.empty());
  EXPECT_EQ(cache.Destroy(), kCacheOk);
  EXPECT_EQ(cache.Destroy(), kCacheNotLoaded);
}

TEST(CacheStore, RowsRoundTripWithEveryKeptFieldAndNullForTheOthers) {
  TempDir dir;
  const std::string db = dir.File("cache.db");
  CatalogInfo catalog = MakeCatalog("C1", "名字");
  catalog.shareType = "3";
  catalog.path = "not-kept";
  ContentInfo content = MakeContent("F1", "photo.jpg");
  content.shareType = "2";
  {
    CVDCache cache;
    ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
    cache.UpdateCache(Listing("P", {catalog}, {content}));
  }
  CVDCache cache;
  ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
  EXPECT_TRUE(cache.IsListed("P"));
  EXPECT_TRUE(cache.HasSubCatalog("P"));
  const ListResult r = Read(cache, "P");
  ASSERT_EQ(r.catalogs.size(), 1u);
  ASSERT_EQ(r.contents.size(), 1u);
  CatalogInfo expectCatalog = catalog;
  expectCatalog.parentCatalogID = "P";
  expectCatalog.path.clear();
  const CatalogInfo& c = r.catalogs[0];
  EXPECT_EQ(std::tie(c.catalogName, c.catalogID, c.catalogType, c.isShared, c.createtime, c.updatetime,
                     c.catalogLevel, c.shareDoneeCount, c.ETagOprType, c.openType, c.parentCatalogID, c.dirEtag,
                     c.tombstoned, c.proxyID, c.moved, c.isFixedDir, c.isSynced, c.path, c.shareType),
            std::tie(expectCatalog.catalogName, expectCatalog.catalogID, expectCatalog.catalogType,
                     expectCatalog.isShared, expectCatalog.createtime, expectCatalog.updatetime,
                     expectCatalog.catalogLevel, expectCatalog.shareDoneeCount, expectCatalog.ETagOprType,
                     expectCatalog.openType, expectCatalog.parentCatalogID, expectCatalog.dirEtag,
                     expectCatalog.tombstoned, expectCatalog.proxyID, expectCatalog.moved, expectCatalog.isFixedDir,
                     expectCatalog.isSynced, expectCatalog.path, expectCatalog.shareType));
  const ContentInfo& f = r.contents[0];
  ContentInfo e = content;
  e.presentLURL = e.presentHURL = e.contentTAGList = e.updateShareTime = e.version = e.fileEtag =
      e.midthumbnailURL = "";
  EXPECT_EQ(std::tie(f.contentID, f.contentName, f.contentSize, f.contentDesc, f.contentType, f.isShared,
                     f.thumbnailURL, f.updateTime, f.contentOrigin, f.safestate, f.bigthumbnailURL, f.presentURL,
                     f.presentLURL, f.presentHURL, f.contentTAGList, f.commentCount, f.uploadTime,
                     f.updateShareTime, f.shareDoneeCount, f.isFocusContent, f.ETagOprType, f.contentSuffix,
                     f.transferstate, f.openType, f.auditResult, f.channel, f.geoLocFlag, f.digest, f.version,
                     f.fileEtag, f.midthumbnailURL, f.tombstoned, f.fileVersion, f.proxyID, f.moved, f.shareType),
            std::tie(e.contentID, e.contentName, e.contentSize, e.contentDesc, e.contentType, e.isShared,
                     e.thumbnailURL, e.updateTime, e.contentOrigin, e.safestate, e.bigthumbnailURL, e.presentURL,
                     e.presentLURL, e.presentHURL, e.contentTAGList, e.commentCount, e.uploadTime,
                     e.updateShareTime, e.shareDoneeCount, e.isFocusContent, e.ETagOprType, e.contentSuffix,
                     e.transferstate, e.openType, e.auditResult, e.channel, e.geoLocFlag, e.digest, e.version,
                     e.fileEtag, e.midthumbnailURL, e.tombstoned, e.fileVersion, e.proxyID, e.moved, e.shareType));
  EXPECT_EQ(QueryRows(db, "select presentLURL, presentHURL, contentTAGList, updateShareTime, version, fileEtag, "
                          "midthumbnailURL from contents"),
            std::vector<std::string>{"<null>|<null>|<null>|<null>|<null>|<null>|<null>"});
  EXPECT_EQ(QueryRows(db, "select parentID, moved, isFixedDir, isSynced, shareType, proxyID from catalogs"),
            std::vector<std::string>{"P|1|2|3|3|px-C1"});
  EXPECT_EQ(QueryRows(db, "select parentID, contentID, contentSuffix, moved, fileVersion, shareType from contents"),
            std::vector<std::string>{"P|F1|jpg|4|2|2"});
}

TEST(CacheStore, WindowReadsOverCatalogsThenContents) {
  TempDir dir;
  CVDCache cache;
  ASSERT_EQ(cache.Initialize(1, true, dir.File("cache.db"), "alice"), kCacheOk);
  cache.UpdateCache(Listing("P", {MakeCatalog("C1", "a")},
                            {MakeContent("F1", "1"), MakeContent("F2", "2"), MakeContent("F3", "3")}));
  struct Case {
    std::string start, end;
    std::vector<std::string> ids;
    std::string total;
  } cases[] = {
      {"0", "2", {"C1", "F1"}, "2"},
      {"-1", "5", {"C1", "F1", "F2", "F3"}, "4"},
      {"0", "-1", {"C1", "F1", "F2", "F3"}, "4"},
      {"", "", {}, "0"},
      {"1", "3", {"F1", "F2"}, "2"},
      {"3", "10", {"F3"}, "7"},
      {"abc", "1", {"C1"}, "1"},
  };
  for (const Case& c : cases) {
    const ListResult r = Read(cache, "P", c.start, c.end);
    EXPECT_EQ(Ids(r), c.ids) << c.start << ".." << c.end;
    EXPECT_EQ(r.totalCount, c.total) << c.start << ".." << c.end;
  }
}

TEST(CacheStore, ACatalogDeletedWhileTheFileLoadsIsNotListedAfterTheLoad) {
  TempDir dir;
  const std::string db = dir.File("cache.db");
  {
    CVDCache first;
    ASSERT_EQ(first.Initialize(1, true, db, "alice"), kCacheOk);
    first.UpdateCache(Listing("P", {MakeCatalog("A", "a")}, {}));
    first.UpdateCache(Listing("A", {}, {MakeContent("FA", "a")}));
  }
  // The next process reads the file, and the load is held before it
  // publishes what it read while the catalog is deleted.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> held{false};
  CVDCache cache;
  cache.Store().SetBeforePublish([&] {
    held = true;
    released.wait_for(std::chrono::seconds(60));
  });
  ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
  for (int i = 0; i < 3000 && !held; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(held.load()) << "the load never read the file";
  EXPECT_TRUE(cache.IsListed("A")) << "rows in the file: listed before";
  ASSERT_EQ(cache.DeleteRecordById("P", {"A"}), kCacheOk);
  EXPECT_FALSE(cache.IsListed("A"));
  release.set_value();
  ASSERT_TRUE(cache.WaitLoaded(60000));
  EXPECT_FALSE(cache.IsListed("A")) << "the load put back a catalog deleted while it ran";
  EXPECT_TRUE(Ids(Read(cache, "A")).empty());
  EXPECT_TRUE(Ids(Read(cache, "P")).empty());
}

TEST(CacheStore, DeletingACatalogRemovesItsWholeSubtreeFromMemoryAndFile) {
  TempDir dir;
  const std::string db = dir.File("cache.db");
  CVDCache cache;
  ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
  // P -> A -> B -> C, with a content at each level, and a sibling S kept.
  cache.UpdateCache(Listing("P", {MakeCatalog("A", "a"), MakeCatalog("S", "s")}, {MakeContent("FP", "p")}));
  cache.UpdateCache(Listing("A", {MakeCatalog("B", "b")}, {MakeContent("FA", "a")}));
  cache.UpdateCache(Listing("B", {MakeCatalog("C", "c")}, {MakeContent("FB", "b")}));
  cache.UpdateCache(Listing("C", {}, {MakeContent("FC", "c")}));
  cache.UpdateCache(Listing("S", {}, {MakeContent("FS", "s")}));
  ASSERT_EQ(cache.DeleteRecordById("P", {"A", "FP"}), kCacheOk);

  EXPECT_EQ(Ids(Read(cache, "P")), std::vector<std::string>{"S"});
  for (const char* gone : {"A", "B", "C"}) {
    EXPECT_TRUE(Ids(Read(cache, gone)).empty()) << gone;
    EXPECT_FALSE(cache.IsListed(gone)) << gone;
  }
  EXPECT_EQ(Ids(Read(cache, "S")), std::vector<std::string>{"FS"});
  EXPECT_EQ(QueryRows(db, "select parentID||'/'||catalogID from catalogs order by 1"),
            std::vector<std::string>{"P/S"});
  EXPECT_EQ(QueryRows(db, "select parentID||'/'||contentID from contents order by 1"),
            std::vector<std::string>{"S/FS"});
  // A reload agrees with memory.
  CVDCache again;
  ASSERT_EQ(again.Initialize(1, true, db, "alice"), kCacheOk);
  EXPECT_EQ(Ids(Read(again, "P")), std::vector<std::string>{"S"});
  EXPECT_FALSE(again.IsListed("A"));
}

TEST(CacheStore, PagesAppendInListingOrderAndReplaceDropsWhatIsGone) {
  TempDir dir;
  const std::string db = dir.File("cache.db");
  CVDCache cache;
  ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk);
  cache.PushbackCache(Listing("P", {MakeCatalog("Z", "z")}, {MakeContent("F9", "9")}));
  cache.PushbackCache(Listing("P", {}, {MakeContent("F1", "1")}));
  EXPECT_EQ(Ids(Read(cache, "P")), (std::vector<std::string>{"Z", "F9", "F1"}));
  EXPECT_EQ(QueryRows(db, "select contentID from contents where parentID='P'"),
            (std::vector<std::string>{"F9", "F1"}));
  cache.UpdateCache(Listing("P", {}, {MakeContent("F1", "1")}));
  EXPECT_EQ(Ids(Read(cache, "P")), std::vector<std::string>{"F1"});
  EXPECT_EQ(QueryRows(db, "select count(*) from catalogs"), std::vector<std::string>{"0"});
  EXPECT_FALSE(cache.HasSubCatalog("P"));
}

TEST(CacheStore, CatalogPathWalksTheIndexUpToTheDiskName) {
  CVDCache cache;
  CVDShareFileCache shares;
  // Both caches start their paths with string 402 in the code page the
  // catalog names come in, never in another encoding.
  const std::u16string diskName = platform::Utf8ToUtf16(vd::resources::LoadText(402));
  EXPECT_EQ(diskName, u"Veyra云盘");
  EXPECT_EQ(platform::AnsiToWide(cache.GetCatalogPath("")), diskName + u"\\");
  EXPECT_EQ(platform::AnsiToWide(shares.GetCatalogPath("")), diskName + u"\\");
  auto fill = [](auto& c) {
    c.SetDiskDisplayName("Disk");
    c.AddLocalCatalogInfo("A", {"A", kRootCatalogID});
    c.AddLocalCatalogInfo("B", {"B", "A"});
    c.AddLocalCatalogInfo("X", {"X", "Y"});
    c.AddLocalCatalogInfo("Y", {"", "X"});  // a cycle in bad data must end
  };
  fill(cache);
  fill(shares);
  for (auto path : {std::function<std::string(const std::string&)>([&](const std::string& id) { return cache.GetCatalogPath(id); }),
                    std::function<std::string(const std::string&)>([&](const std::string& id) { return shares.GetCatalogPath(id); })}) {
    EXPECT_EQ(path("B"), "Disk\\A\\B");
    EXPECT_EQ(path(""), "Disk\\");
    EXPECT_EQ(path("unknown"), "Disk\\");
    EXPECT_EQ(path("X"), "Disk\\X");
  }
}

}  // namespace
}  // namespace vdcache

namespace vdcache {
namespace {

// Readers on other threads while one thread replaces a catalog again and
// again: every read, whole or windowed, sees one whole listing, never a mix
// of two (the catalogs of one and the contents of the next) or a half.
TEST(CacheStore, ConcurrentReadersSeeWholeListingsWhileAWriterReplaces) {
  test::TempDir dir;
  CVDCache cache;
  ASSERT_EQ(cache.Initialize(1, true, dir.File("cache.db"), "alice"), kCacheOk);
  constexpr int kRows = 300, kRounds = 30;
  auto listing = [](int generation) {
    ListResult r;
    r.request.catalogID = "P";
    for (int i = 0; i < kRows; ++i) {
      r.catalogs.push_back(test::MakeCatalog("C" + std::to_string(i), "c", std::to_string(generation)));
      r.contents.push_back(test::MakeContent("F" + std::to_string(i), "n", std::to_string(generation)));
    }
    return r;
  };
  cache.UpdateCache(listing(0));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, reads{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&, t] {
      for (int n = 0; !done; ++n) {
        ListRequest request;
        request.catalogID = "P";
        if ((n + t) % 2 == 1) {
          request.startNumber = "0";
          request.endNumber = std::to_string(2 * kRows);
        }
        ListResult r;
        if (request.startNumber == "0") {
          cache.GetDiskFromCacheEx(request, &r);
        } else {
          cache.GetDiskFromCache(request, &r);
        }
        ++reads;
        if (r.contents.size() != size_t{kRows} || r.catalogs.size() != size_t{kRows}) {
          ++torn;
          continue;
        }
        const std::string generation = r.catalogs.front().updatetime;
        bool mixed = false;
        for (const CatalogInfo& c : r.catalogs) mixed |= c.updatetime != generation;
        for (const ContentInfo& c : r.contents) mixed |= c.updateTime != generation;
        if (mixed) ++torn;
      }
    });
  for (int g = 1; g <= kRounds; ++g) cache.UpdateCache(listing(g));
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 0);
  CVDCache reopened;
  ASSERT_EQ(reopened.Initialize(1, true, dir.File("cache.db"), "alice"), kCacheOk);
  ListRequest request;
  request.catalogID = "P";
  ListResult r;
  reopened.GetDiskFromCache(request, &r);
  ASSERT_EQ(r.contents.size(), size_t{kRows});
  EXPECT_EQ(r.contents[0].updateTime, std::to_string(kRounds));
}

}  // namespace
}  // namespace vdcache
