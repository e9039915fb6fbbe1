// A service that lies about its listings: totals that never end, the same
// page served again and again, catalogs nested in themselves. Every listing
// of both caches must end, ask for a bounded number of pages and keep each
// entry once. The SDK is the fault-injection edge.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "cache_paths.h"
#include "page_walk.h"
#include "platform/text.h"
#include "predownload_tbimg.h"
#include "share_file_cache.h"
#include "test_support.h"
#include "vd_cache.h"

namespace vdcache {
namespace {

using test::MakeCatalog;
using test::MakeContent;

// One page as the hostile service answers it: its total and its entries.
struct Page {
  std::string total;
  std::vector<std::string> catalogs;  // IDs
  std::vector<std::string> contents;  // IDs
};
// catalog ID, 1-based first entry asked for -> the page.
using Service = std::function<Page(const std::string& catalogID, int64_t start)>;

class HostileSdk : public test::FailingSdk {
 public:
  explicit HostileSdk(Service service) : m_service(std::move(service)) {}
  ~HostileSdk() override { JoinAll(); }
  void JoinAll() { m_calls.JoinAll(); }

  int ls(const ListRequest& request, SdkCallback<ListResult> callback, void* user) override {
    Async([this, request, callback, user] {
      ListResult result = Answer(request);
      callback(0, &result, user);
    });
    return 0;
  }
  int SyncLs(const ListRequest& request, ListResult* out) override {
    *out = Answer(request);
    return 0;
  }
  int GetShareList(const ShareListRequest& request, ShareListResult* out, SdkCallback<ShareListResult> callback,
                   void* user) override {
    if (!callback) {
      *out = AnswerShares(request);
      return 0;
    }
    Async([this, request, callback, user] {
      ShareListResult result = AnswerShares(request);
      callback(0, &result, user);
    });
    return 0;
  }

  int Requests() const { return m_requests.load(); }
  std::map<std::string, int> RequestsByCatalog() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_byCatalog;
  }

 private:
  void Async(std::function<void()> work) { m_calls.Run(std::move(work)); }
  Page Ask(const std::string& catalogID, const std::string& startNumber) {
    ++m_requests;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      ++m_byCatalog[catalogID];
    }
    return m_service(catalogID, ParseStart(startNumber));
  }
  static int64_t ParseStart(const std::string& text) { return text.empty() ? 1 : std::stoll(text); }
  ListResult Answer(const ListRequest& request) {
    const Page page = Ask(request.catalogID, request.startNumber);
    ListResult r;
    r.request = request;
    r.totalCount = page.total;
    for (const std::string& id : page.catalogs) r.catalogs.push_back(MakeCatalog(id, "c" + id));
    for (const std::string& id : page.contents) r.contents.push_back(MakeContent(id, "f" + id));
    return r;
  }
  ShareListResult AnswerShares(const ShareListRequest& request) {
    const Page page = Ask("<shares>", request.startNumber);
    ShareListResult r;
    r.request = request;
    r.totalCount = page.total;
    for (const std::string& id : page.catalogs) r.shares.emplace_back().catalog = MakeCatalog(id, "c" + id);
    for (const std::string& id : page.contents) r.shares.emplace_back().content = MakeContent(id, "f" + id);
    return r;
  }

  Service m_service;
  std::atomic<int> m_requests{0};
  std::mutex m_lock;
  std::map<std::string, int> m_byCatalog;
  test::AsyncCalls m_calls;
};

std::vector<std::string> Ids(int64_t first, int count) {
  std::vector<std::string> ids;
  for (int i = 0; i < count; ++i) ids.push_back("F" + std::to_string(first + i));
  return ids;
}

// How a lying service pages, and the most pages a listing may ask it for.
struct Behaviour {
  const char* name;
  Service service;
  int maxRequests;
};

std::vector<Behaviour> Behaviours() {
  return {
      // Every page announces 1,000 more than it has given.
      {"total that never ends", [](const std::string&, int64_t start) {
         return Page{std::to_string(start + 999), {}, Ids(start, kPageSize)};
       },
       5},
      // The first page again, whatever is asked.
      {"same page again and again", [](const std::string&, int64_t) {
         return Page{"100000", {}, Ids(1, kPageSize)};
       },
       2},
      // Pages that overlap by half: only the new half counts.
      {"overlapping pages", [](const std::string&, int64_t start) {
         return Page{"600", {}, Ids(start > 1 ? start - 100 : 1, kPageSize)};
       },
       3},
      // A total beyond any number, with an honest first page.
      {"total past int64", [](const std::string&, int64_t start) {
         return Page{start == 1 ? "99999999999999999999999" : "300", {}, Ids(start, kPageSize)};
       },
       2},
      // Runs dry before its total.
      {"short of its total", [](const std::string&, int64_t start) {
         return Page{"5000", {}, start == 1 ? Ids(1, kPageSize) : std::vector<std::string>{}};
       },
       2},
  };
}

// How a cache is asked for a catalog or the share list.
struct Path {
  const char* name;
  // Starts the listing; returns the entries the cache keeps once it ended.
  std::function<std::vector<std::string>(HostileSdk&)> run;
};

std::vector<std::string> Keys(const ListResult& r) {
  std::vector<std::string> keys;
  for (const CatalogInfo& c : r.catalogs) keys.push_back("C" + c.catalogID);
  for (const ContentInfo& c : r.contents) keys.push_back("F" + c.contentID);
  return keys;
}

std::vector<std::string> Keys(const ShareListResult& r) {
  std::vector<std::string> keys;
  for (const ShareEntry& e : r.shares) keys.push_back(e.HasCatalog() ? "C" + e.catalog.catalogID : "F" + e.content.contentID);
  return keys;
}

ListRequest Whole(const std::string& catalogID) {
  ListRequest request;
  request.catalogID = catalogID;
  request.startNumber = request.endNumber = "-1";
  return request;
}

std::vector<Path> Paths() {
  return {
      {"catalog cache, synchronous listing",
       [](HostileSdk& sdk) {
         CVDCache cache(&sdk);
         cache.Initialize(1, false, "", "alice");
         ListResult result;
         EXPECT_EQ(cache.GetDisk(Whole("X"), &result, true, false), kCacheOk);
         ListResult stored;
         cache.GetDiskFromCache(Whole("X"), &stored);
         EXPECT_EQ(Keys(stored), Keys(result));
         return Keys(stored);
       }},
      {"catalog cache, first listing page by page",
       [](HostileSdk& sdk) {
         CVDCache cache(&sdk);
         cache.SetPagePauseMs(0);
         cache.Initialize(1, false, "", "alice");
         ListResult result;
         EXPECT_EQ(cache.GetDisk(Whole("X"), &result, false, false), kCacheOk);
         EXPECT_TRUE(cache.WaitIdle(60000));
         EXPECT_TRUE(cache.IsListed("X"));
         ListResult stored;
         cache.GetDiskFromCache(Whole("X"), &stored);
         return Keys(stored);
       }},
      {"catalog cache, refresh of a listed catalog",
       [](HostileSdk& sdk) {
         CVDCache cache(&sdk);
         cache.Initialize(1, false, "", "alice");
         ListResult old;
         old.request.catalogID = "X";
         old.contents = {MakeContent("OLD", "old")};
         cache.UpdateCache(old);
         ListResult result;
         EXPECT_EQ(cache.GetDisk(Whole("X"), &result, false, false), kCacheOk);
         EXPECT_TRUE(cache.WaitIdle(60000));
         ListResult stored;
         cache.GetDiskFromCache(Whole("X"), &stored);
         return Keys(stored);
       }},
      {"share cache, share list at once",
       [](HostileSdk& sdk) {
         CVDShareFileCache cache(&sdk);
         cache.Initialize(1, false, "", "alice");
         ShareListResult result;
         EXPECT_EQ(cache.GetDisk("K", {}, &result, true), kCacheOk);
         ShareListResult stored;
         cache.GetDiskFromCache("K", &stored);
         return Keys(stored);
       }},
      {"share cache, first share listing page by page",
       [](HostileSdk& sdk) {
         CVDShareFileCache cache(&sdk);
         cache.SetPagePauseMs(0);
         cache.Initialize(1, false, "", "alice");
         ShareListResult result;
         EXPECT_EQ(cache.GetDisk("K", {}, &result, false), kCacheOk);
         EXPECT_TRUE(cache.WaitIdle(60000));
         ShareListResult stored;
         cache.GetDiskFromCache("K", &stored);
         return Keys(stored);
       }},
      {"share cache, catalog inside a share at once",
       [](HostileSdk& sdk) {
         CVDShareFileCache cache(&sdk);
         cache.Initialize(1, false, "", "alice");
         ListResult result;
         EXPECT_EQ(cache.GetSubCatalogList(Whole("X"), &result, true), kCacheOk);
         ListResult stored;
         cache.GetSubCatalogFromCache(Whole("X"), &stored);
         return Keys(stored);
       }},
      {"share cache, first listing of a catalog inside a share",
       [](HostileSdk& sdk) {
         CVDShareFileCache cache(&sdk);
         cache.SetPagePauseMs(0);
         cache.Initialize(1, false, "", "alice");
         ListResult result;
         EXPECT_EQ(cache.GetSubCatalogList(Whole("X"), &result, false), kCacheOk);
         EXPECT_TRUE(cache.WaitIdle(60000));
         ListResult stored;
         cache.GetSubCatalogFromCache(Whole("X"), &stored);
         return Keys(stored);
       }},
  };
}

TEST(HostileService, EveryPagedListingEndsWithBoundedPagesAndEachEntryOnce) {
  for (const Path& path : Paths()) {
    for (const Behaviour& behaviour : Behaviours()) {
      SCOPED_TRACE(std::string(path.name) + " / " + behaviour.name);
      HostileSdk sdk(behaviour.service);
      const std::vector<std::string> kept = path.run(sdk);
      sdk.JoinAll();
      EXPECT_LE(sdk.Requests(), behaviour.maxRequests);
      EXPECT_FALSE(kept.empty());
      EXPECT_EQ(std::set<std::string>(kept.begin(), kept.end()).size(), kept.size()) << "an entry kept twice";
      EXPECT_LE(kept.size(), static_cast<size_t>(behaviour.maxRequests) * kPageSize);
    }
  }
}

TEST(HostileService, TheCapHoldsAgainstATotalBeyondAnyCatalog) {
  // Fresh entries on every page and a total of 10^20: the walk stops at the cap.
  PageWalk walk("100000000000000000000");
  int64_t pages = 0, next = 1;
  ListResult page;
  do {
    page.contents.resize(kPageSize);
    for (ContentInfo& c : page.contents) c.contentID = std::to_string(next++);
    ASSERT_TRUE(walk.TakeNew(page));
    ++pages;
  } while (walk.WantsMore());
  EXPECT_EQ(walk.Have(), kMaxListedEntries);
  EXPECT_EQ(pages, kMaxListedEntries / kPageSize);
}

// Children of each catalog in a tree that nests catalogs in themselves.
Service Tree(std::map<std::string, std::vector<std::string>> children) {
  return [children](const std::string& id, int64_t) {
    auto it = children.find(id);
    Page page{"0", {}, {}};
    if (it != children.end()) page.catalogs = it->second;
    page.total = std::to_string(page.catalogs.size());
    return page;
  };
}

TEST(HostileService, WholeTreePrefetchListsEachCatalogOnce) {
  const std::map<std::string, std::vector<std::string>> tree = {
      {"R", {"R", "A"}},       // its own child
      {"A", {"R", "A", "B"}},  // its parent and itself
      {"B", {"A", "B"}},
  };
  {
    HostileSdk sdk(Tree(tree));
    CVDCache cache(&sdk);
    cache.Initialize(1, false, "", "alice");
    ASSERT_EQ(cache.PrefetchAllCatalog("", "R"), kCacheOk);
    ASSERT_TRUE(cache.WaitIdle(60000));
    sdk.JoinAll();
    EXPECT_EQ(sdk.RequestsByCatalog(), (std::map<std::string, int>{{"A", 1}, {"B", 1}, {"R", 1}}));
  }
  {
    // The share list names R twice; the walk below it shares the same rule.
    std::map<std::string, std::vector<std::string>> shared = tree;
    shared["<shares>"] = {"R", "R"};
    HostileSdk sdk(Tree(shared));
    CVDShareFileCache cache(&sdk);
    cache.Initialize(1, false, "", "alice");
    ASSERT_EQ(cache.FetchShareCatalog("", {}), kCacheOk);
    ASSERT_TRUE(cache.WaitIdle(60000));
    sdk.JoinAll();
    EXPECT_EQ(sdk.RequestsByCatalog(), (std::map<std::string, int>{{"<shares>", 1}, {"A", 1}, {"B", 1}, {"R", 1}}));
  }
}

TEST(ShareCache, ModeTwoListsOneLevelBelowAndTheShareListReadsByWindow) {
  // The share list holds R and S; R holds A, A holds B.
  const std::map<std::string, std::vector<std::string>> tree = {
      {"<shares>", {"R", "S"}}, {"R", {"A"}}, {"A", {"B"}}, {"B", {}}, {"S", {}}};
  HostileSdk sdk(Tree(tree));
  CVDShareFileCache cache(&sdk);
  cache.Initialize(2, false, "", "alice");
  // Read at once: the share list, then each shared catalog once, no deeper.
  ShareListResult shares;
  ASSERT_EQ(cache.GetDisk("K", {}, &shares, true), kCacheOk);
  ASSERT_TRUE(cache.WaitIdle(30000));
  sdk.JoinAll();
  EXPECT_EQ(sdk.RequestsByCatalog(), (std::map<std::string, int>{{"<shares>", 1}, {"R", 1}, {"S", 1}}));
  // A catalog inside a share read at once: its children one level down.
  ListResult inR;
  ASSERT_EQ(cache.GetSubCatalogList(Whole("R"), &inR, true), kCacheOk);
  ASSERT_TRUE(cache.WaitIdle(30000));
  sdk.JoinAll();
  EXPECT_EQ(sdk.RequestsByCatalog(), (std::map<std::string, int>{{"<shares>", 1}, {"A", 1}, {"R", 2}, {"S", 1}}));
  ListResult inA;
  cache.GetSubCatalogFromCache(Whole("A"), &inA);
  ASSERT_EQ(inA.catalogs.size(), 1u);
  EXPECT_EQ(inA.catalogs[0].catalogID, "B");
  // The share list by window, from the store, while it refreshes behind.
  ShareListResult second;
  ASSERT_EQ(cache.GetDiskEx("K", {}, "1", "2", &second, false), kCacheOk);
  ASSERT_EQ(second.shares.size(), 1u);
  EXPECT_EQ(second.shares[0].catalog.catalogID, "S");
  ASSERT_TRUE(cache.WaitIdle(30000));
}

TEST(HostileService, AnEndlessTreeStopsAtTheWalkDepth) {
  // Every catalog has one child never seen before, forever.
  std::atomic<int> next{0};
  HostileSdk sdk([&next](const std::string&, int64_t) { return Page{"1", {"D" + std::to_string(++next)}, {}}; });
  CVDCache cache(&sdk);
  cache.Initialize(1, false, "", "alice");
  ASSERT_EQ(cache.PrefetchAllCatalog("", "R"), kCacheOk);
  ASSERT_TRUE(cache.WaitIdle(60000));
  sdk.JoinAll();
  EXPECT_EQ(sdk.Requests(), kMaxWalkDepth + 1);  // the start and one catalog a level
}

// A path in the host's separator and code page, from its parts.
std::string Local(std::initializer_list<std::u16string_view> parts) {
  std::string path;
  for (std::u16string_view part : parts) path = JoinAnsiPath(path, platform::WideToAnsi(part));
  return path;
}

TEST(HostileService, CatalogAndFileNamesNeverLeaveTheThumbnailFolder) {
  ThumbnailRecords records;
  ThreadPool pool(1);
  const std::string docs = Local({u"home", u"Documents"});
  PreDownloadTbimg thumbnails(nullptr, &records, &pool, docs, "alice", [](const std::string&) { return std::string(); });
  struct Case {
    const char* what;
    std::u16string displayPath;
    std::string folder;  // "" when the catalog gets no thumbnails
  };
  const Case cases[] = {
      {"plain path", u"Veyra云盘\\图片\\2024",
       Local({u"home", u"Documents", u"ORLO", u"alice", u"DownloadFile", u"Veyra云盘", u"图片", u"2024"})},
      {"a parent name", u"Veyra云盘\\..\\..\\..\\etc", ""},
      {"a name of dots", u"Veyra云盘\\...", ""},
      {"a name with a colon and a device", u"Veyra云盘\\C:x\\con",
       Local({u"home", u"Documents", u"ORLO", u"alice", u"DownloadFile", u"Veyra云盘", u"C_x", u"_con"})},
      {"trailing dot", u"Veyra云盘\\报告.",
       Local({u"home", u"Documents", u"ORLO", u"alice", u"DownloadFile", u"Veyra云盘", u"报告"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(thumbnails.GetBreviaryPath(platform::WideToAnsi(c.displayPath)), c.folder);
  }
  ListResult listing;
  for (const char* name : {"a.jpg", "b.../../x", "c.con", "d"}) {
    ContentInfo content = MakeContent(std::string("ID") + name[0], name);
    content.thumbnailURL = "http://127.0.0.1/t";
    listing.contents.push_back(content);
  }
  const std::vector<BreviaryItem> items = thumbnails.GenerateBngRUL(platform::WideToAnsi(u"Veyra云盘\\图片"), listing);
  std::vector<std::string> paths;
  for (const BreviaryItem& item : items) paths.push_back(item.finalPath);
  const std::string folder = Local({u"home", u"Documents", u"ORLO", u"alice", u"DownloadFile", u"Veyra云盘", u"图片"});
  EXPECT_EQ(paths, (std::vector<std::string>{JoinAnsiPath(folder, "IDd"), JoinAnsiPath(folder, "IDc.con"),
                                             JoinAnsiPath(folder, "IDb._x"), JoinAnsiPath(folder, "IDa.jpg")}));
}

}  // namespace
}  // namespace vdcache
