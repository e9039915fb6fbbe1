// Fault injection at the SDK edge: listings that fail to start or fail with
// the token-invalid code, and receivers that read the cache from another
// thread while they run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "test_support.h"
#include "thread_pool.h"
#include "trace.h"
#include "vd_cache.h"

namespace vdcache {
namespace {

using test::MakeContent;
using test::TempDir;

// ls answers on a thread of its own with a scripted code.
class ScriptedSdk : public test::FailingSdk {
 public:
  ~ScriptedSdk() override { JoinAll(); }
  int ls(const ListRequest& request, SdkCallback<ListResult> callback, void* user) override {
    ++lsCalls;
    if (startCode != 0) return startCode;
    std::lock_guard<std::mutex> lock(m_lock);
    m_threads.emplace_back([this, request, callback, user] {
      ListResult result;
      result.request = request;
      result.totalCount = "0";
      callback(answerCode, &result, user);
    });
    return 0;
  }
  int SyncLs(const ListRequest&, ListResult*) override { return answerCode.load() == 0 ? kSdkFailed : answerCode.load(); }
  int itemGetList(const ItemGetListRequest&, ItemGetListResult*, SdkCallback<ItemGetListResult> callback,
                  void* user) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_threads.emplace_back([this, callback, user] {
      ItemGetListResult result;
      ItemInfo item;
      item.itemName = "Bob";
      item.accountList = {"bob", "bob2"};
      result.items.push_back(item);
      callback(answerCode, &result, user);
    });
    return 0;
  }
  void JoinAll() {
    std::list<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      threads.swap(m_threads);
    }
    for (auto& t : threads) t.join();
  }

  std::atomic<int> startCode{0};
  std::atomic<int> answerCode{0};
  std::atomic<int> lsCalls{0};

 private:
  std::mutex m_lock;
  std::list<std::thread> m_threads;
};

std::mutex g_seenLock;
std::vector<std::string> g_cacheSeen, g_pageSeen;
void OnCache(const std::string& id) {
  std::lock_guard<std::mutex> lock(g_seenLock);
  g_cacheSeen.push_back(id);
}
void OnPage(const std::string& id) {
  std::lock_guard<std::mutex> lock(g_seenLock);
  g_pageSeen.push_back(id);
}
void ResetSeen() {
  std::lock_guard<std::mutex> lock(g_seenLock);
  g_cacheSeen.clear();
  g_pageSeen.clear();
}

ListResult Listing(const std::string& parent, std::vector<ContentInfo> contents) {
  ListResult r;
  r.request.catalogID = parent;
  r.contents = std::move(contents);
  r.totalCount = std::to_string(r.contents.size());
  return r;
}

TEST(CacheFaults, ListingFailuresAnswerAndNotifyAsDocumented) {
  ResetSeen();
  TempDir dir;
  ScriptedSdk sdk;
  CVDCache cache(&sdk);
  ASSERT_EQ(cache.Initialize(1, true, dir.File("cache.db"), "alice"), kCacheOk);
  cache.AddEventReceiver(&OnCache);
  cache.AddUpdatePageEventReceiver(&OnPage);
  cache.AddEventReceiver(&OnCache);  // registered once only
  cache.UpdateCache(Listing("LISTED", {MakeContent("F1", "a")}));

  ListRequest request;
  ListResult result;
  // ls refuses to start: 0x80000006 and the catalog is free for the next try.
  sdk.startCode = kSdkNetworkUnavailable;
  request.catalogID = "LISTED";
  EXPECT_EQ(cache.GetDisk(request, &result, false, false), kCacheListFailed);
  EXPECT_FALSE(cache.IsPending("LISTED"));
  EXPECT_EQ(cache.PrefetchAllCatalog("", "LISTED"), kCacheListFailed);
  EXPECT_FALSE(cache.IsPending("LISTED"));

  // Token invalid on a refresh: store kept, the cache receivers told once.
  sdk.startCode = 0;
  sdk.answerCode = kSdkTokenInvalid;
  request.startNumber = request.endNumber = "-1";
  result = {};
  EXPECT_EQ(cache.GetDisk(request, &result, false, false), kCacheOk);
  EXPECT_EQ(result.contents.size(), 1u);  // answered from the store at once
  ASSERT_TRUE(cache.WaitIdle(10000));
  EXPECT_FALSE(cache.IsPending("LISTED"));
  // Token invalid on a first listing: listed with nothing, page receivers told.
  request.catalogID = "NEW";
  EXPECT_EQ(cache.GetDisk(request, &result, false, false), kCacheOk);
  ASSERT_TRUE(cache.WaitIdle(10000));
  EXPECT_TRUE(cache.IsListed("NEW"));
  {
    std::lock_guard<std::mutex> lock(g_seenLock);
    EXPECT_EQ(g_cacheSeen, std::vector<std::string>{"LISTED"});
    EXPECT_EQ(g_pageSeen, std::vector<std::string>{"NEW"});
  }
  ListResult stored;
  request.catalogID = "LISTED";
  cache.GetDiskFromCache(request, &stored);
  EXPECT_EQ(stored.contents.size(), 1u);

  // Synchronous listing failure.
  EXPECT_EQ(cache.GetDisk(request, &result, true, false), kCacheListFailed);
  EXPECT_EQ(sdk.lsCalls.load(), 4);
}

TEST(CacheFaults, ShareUserLoadFailureAndSuccess) {
  TempDir dir;
  ScriptedSdk sdk;
  CVDCache cache(&sdk);
  ASSERT_EQ(cache.Initialize(1, false, "", "alice"), kCacheOk);
  std::atomic<int> tokenInvalid{0}, broadcast{0};
  cache.SetShareUserHooks({[&] { ++broadcast; }, [&] { ++tokenInvalid; }, [&] { return dir.File("ORLO/alice"); }});
  sdk.answerCode = kSdkTokenInvalid;
  EXPECT_TRUE(cache.InitShareUser());
  ASSERT_TRUE(cache.WaitIdle(10000));
  sdk.JoinAll();
  EXPECT_FALSE(cache.HasInitShareUser());
  EXPECT_EQ(tokenInvalid.load(), 1);
  EXPECT_EQ(broadcast.load(), 0);

  sdk.answerCode = 0;
  EXPECT_TRUE(cache.InitShareUser());  // a failed load can be tried again
  ASSERT_TRUE(cache.WaitIdle(10000));
  sdk.JoinAll();
  EXPECT_TRUE(cache.HasInitShareUser());
  std::map<std::string, std::string> users;
  ASSERT_TRUE(cache.GetShareUser(users));
  EXPECT_EQ(users, (std::map<std::string, std::string>{{"bob", "Bob"}, {"bob2", "Bob"}}));
  EXPECT_EQ(broadcast.load(), 1);
  std::FILE* f = std::fopen(dir.File("ORLO/alice/contact_cache.ini").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char line[128] = {};
  const size_t n = std::fread(line, 1, sizeof line - 1, f);
  std::fclose(f);
  EXPECT_EQ(std::string(line, n), ";Bob;0;bob,bob2,;\r\n");
}

// A receiver that, while it runs, waits for another thread to read the cache
// and to register a receiver: any cache lock held around receivers deadlocks.
CVDCache* g_cache = nullptr;
std::atomic<int> g_receiverTimeouts{0}, g_receiverRuns{0};
void CrossThreadReceiver(const std::string& id) {
  auto reader = std::async(std::launch::async, [id] {
    ListRequest request;
    request.catalogID = id;
    ListResult result;
    g_cache->GetDiskFromCache(request, &result);
    g_cache->HasSubCatalog(id);
    g_cache->IsPending(id);
    g_cache->IsListed(id);
    g_cache->AddEventReceiver(&OnCache);
  });
  if (reader.wait_for(std::chrono::seconds(5)) != std::future_status::ready) ++g_receiverTimeouts;
  ++g_receiverRuns;
}

TEST(CacheFaults, ReceiversRunWithNoCacheLockHeld) {
  TempDir dir;
  ScriptedSdk sdk;
  CVDCache cache(&sdk);
  g_cache = &cache;
  ASSERT_EQ(cache.Initialize(1, true, dir.File("cache.db"), "alice"), kCacheOk);
  cache.UpdateCache(Listing("LISTED", {MakeContent("F1", "a")}));
  cache.AddEventReceiver(&CrossThreadReceiver);
  cache.AddUpdatePageEventReceiver(&CrossThreadReceiver);
  sdk.answerCode = kSdkTokenInvalid;  // refresh failure: cache receivers
  ListRequest request;
  ListResult result;
  request.catalogID = "LISTED";
  ASSERT_EQ(cache.GetDisk(request, &result, false, false), kCacheOk);
  request.catalogID = "FRESH";  // first listing: page receivers
  ASSERT_EQ(cache.GetDisk(request, &result, false, false), kCacheOk);
  ASSERT_TRUE(cache.WaitIdle(30000));
  sdk.JoinAll();
  EXPECT_EQ(g_receiverRuns.load(), 2);
  EXPECT_EQ(g_receiverTimeouts.load(), 0);
  g_cache = nullptr;
}

// Keeps the log lines written while it is installed.
class LogLines : public vd::trace::ILogSink {
 public:
  LogLines() { vd::trace::SetLogSink(this); }
  ~LogLines() override { vd::trace::SetLogSink(nullptr); }
  void OnLogLine(vd::trace::LogLevel, const char*, int, const char*, std::string_view message) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_lines.emplace_back(message);
  }
  // Lines that tell of a caught exception from `where`.
  int Caught(const std::string& where) {
    std::lock_guard<std::mutex> lock(m_lock);
    int n = 0;
    for (const std::string& line : m_lines)
      if (line.find(where) != std::string::npos && line.find("exception caught") != std::string::npos) ++n;
    return n;
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_lines;
};

std::atomic<int> g_quietRuns{0};
void ThrowingReceiver(const std::string&) { throw std::runtime_error("receiver failed"); }
void QuietReceiver(const std::string&) { ++g_quietRuns; }

class ThrowingPrefetch : public IThumbnailPrefetch {
 public:
  void QueueCatalog(const std::string&, const ListResult&) override { throw std::bad_alloc(); }
};

// Signals a promise exactly once, whichever thread gets there first.
struct Flag {
  std::promise<void> promise;
  std::atomic<bool> set{false};
  void Set() {
    if (!set.exchange(true)) promise.set_value();
  }
  bool WaitFor(int ms) { return promise.get_future().wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready; }
};

TEST(CacheFaults, WhatCallbacksJobsAndReceiversThrowStaysOnTheirThreadAndIsLogged) {
  LogLines log;
  TempDir dir;
  {
    // Receivers: the one that throws is logged, the next one still runs,
    // and the listing ends with its catalog no longer pending.
    ScriptedSdk sdk;
    CVDCache cache(&sdk);
    ASSERT_EQ(cache.Initialize(1, false, "", "alice"), kCacheOk);
    cache.AddUpdatePageEventReceiver(&ThrowingReceiver);
    cache.AddUpdatePageEventReceiver(&QuietReceiver);
    g_quietRuns = 0;
    ListRequest request;
    ListResult result;
    request.catalogID = "NEW";
    ASSERT_EQ(cache.GetDisk(request, &result, false, false), kCacheOk);
    ASSERT_TRUE(cache.WaitIdle(10000));
    sdk.JoinAll();
    EXPECT_EQ(g_quietRuns.load(), 1);
    EXPECT_TRUE(cache.IsListed("NEW"));
    EXPECT_FALSE(cache.IsPending("NEW"));
    EXPECT_EQ(log.Caught("CacheReceiver"), 1);

    // The cache's own callback body throws (its thumbnail hand-off): the
    // listing is abandoned cleanly and the catalog can be listed again.
    ThrowingPrefetch prefetch;
    cache.SetThumbnailPrefetch(&prefetch);
    ASSERT_EQ(cache.PrefetchAllCatalog("", "TREE"), kCacheOk);
    ASSERT_TRUE(cache.WaitIdle(10000));
    sdk.JoinAll();
    EXPECT_FALSE(cache.IsPending("TREE"));
    EXPECT_EQ(log.Caught("CVDCache::PrefetchAllCatalogCb"), 1);
    ASSERT_EQ(cache.PrefetchAllCatalog("", "TREE"), kCacheOk);
    ASSERT_TRUE(cache.WaitIdle(10000));
    sdk.JoinAll();
    EXPECT_EQ(log.Caught("CVDCache::PrefetchAllCatalogCb"), 2);
    cache.SetThumbnailPrefetch(nullptr);
  }
  {
    // A pool job that throws: the thread lives on and runs the next job.
    ThreadPool pool(1);
    Flag ran;
    pool.Call([](void*) { throw std::logic_error("job failed"); }, nullptr);
    pool.Call([](void* flag) { static_cast<Flag*>(flag)->Set(); }, &ran);
    ASSERT_TRUE(ran.WaitFor(10000));
    EXPECT_EQ(log.Caught("ThreadPool::job"), 1);
  }
}

}  // namespace
}  // namespace vdcache
