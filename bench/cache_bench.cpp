// Cache figures: loading a large cache.db, change detection of a large
// catalog, and a cold 100,000-entry catalog from the reference service.
// Each has a baseline measured in the same run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "cloud_sdk_impl.h"
#include "compare_cache.h"
#include "test_support.h"
#include "tests/sdk_test_support.h"
#include "vd_cache.h"

namespace {

using Clock = std::chrono::steady_clock;
using vdcache::CVDCache;

constexpr int kRows = 1000000;
constexpr int kPerParent = 200;

vdcache::test::TempDir& Dir() {
  static vdcache::test::TempDir dir;
  return dir;
}

// One million content rows under 5,000 parents, written through the cache.
const std::string& BigDb() {
  static const std::string path = [] {
    const std::string db = Dir().File("big.db");
    CVDCache cache;
    cache.Initialize(1, true, db, "alice");
    ContentInfo base = vdcache::test::MakeContent("", "photo.jpg");
    for (int p = 0; p < kRows / kPerParent; p += 50) {
      ListResult unit;
      unit.request.catalogID = "parent" + std::to_string(p);
      for (int i = 0; i < kPerParent * 50; ++i) {
        base.contentID = "content" + std::to_string(p * kPerParent + i);
        unit.contents.push_back(base);
      }
      cache.PushbackCache(unit);
    }
    return db;
  }();
  return path;
}

void BM_LoadCache(benchmark::State& state) {
  const std::string& db = BigDb();
  for (auto _ : state) {
    CVDCache cache;
    cache.Initialize(1, true, db, "alice");
    benchmark::DoNotOptimize(cache.HasSubCatalog("parent0"));
  }
  state.counters["rows/s"] = benchmark::Counter(double(kRows) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadCache)->Unit(benchmark::kMillisecond)->Iterations(2);

// Baseline: SQLite alone stepping over every column of the same rows.
void BM_LoadRawSqlite(benchmark::State& state) {
  const std::string& db = BigDb();
  for (auto _ : state) {
    sqlite3* h = nullptr;
    sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "select * from contents", -1, &st, nullptr);
    size_t bytes = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
      for (int c = 0; c < 37; ++c) bytes += static_cast<size_t>(sqlite3_column_bytes(st, c));
    sqlite3_finalize(st);
    sqlite3_close(h);
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["rows/s"] = benchmark::Counter(double(kRows) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadRawSqlite)->Unit(benchmark::kMillisecond)->Iterations(2);

std::vector<ContentInfo> Contents(int n, const char* time) {
  std::vector<ContentInfo> v;
  v.reserve(n);
  for (int i = 0; i < n; ++i) {
    ContentInfo c;
    c.contentID = "1000000000010011970010100" + std::to_string(1000000 + i);
    c.updateTime = time;
    c.shareType = "0";
    v.push_back(std::move(c));
  }
  return v;
}

// Worst case for a compare: unchanged, so every entry is looked up; listing reversed.
void BM_CompareLinear(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto stored = Contents(n, "20240101000000");
  auto listed = stored;
  std::reverse(listed.begin(), listed.end());
  for (auto _ : state) benchmark::DoNotOptimize(vdcache::CompareCache({}, stored, {}, listed));
  state.counters["entries"] = n;
}
BENCHMARK(BM_CompareLinear)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Baseline: the pairwise search (each stored entry scans the listing).
void BM_ComparePairwise(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto stored = Contents(n, "20240101000000");
  auto listed = stored;
  std::reverse(listed.begin(), listed.end());
  for (auto _ : state) {
    bool changed = false;
    for (const auto& s : stored) {
      const ContentInfo* found = nullptr;
      for (const auto& l : listed)
        if (l.contentID == s.contentID) {
          found = &l;
          break;
        }
      if (!found || found->updateTime != s.updateTime) changed = true;
    }
    benchmark::DoNotOptimize(changed);
  }
  state.counters["entries"] = n;
}
BENCHMARK(BM_ComparePairwise)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// ---- a cold 100,000-entry catalog from the reference service

constexpr int kBigCatalog = 100000;

struct Service {
  corbel::test::TempDir dir;
  std::unique_ptr<corbel::test::ServerProcess> server;
  corbel::test::Account alice;
  corbel::CloudSdk sdk;
  std::string bench;
  bool ok = false;
  Service() {
    unsetenv("http_proxy");
    server = std::make_unique<corbel::test::ServerProcess>(dir.path() / "data",
                                                           "--bench-entries " + std::to_string(kBigCatalog));
    if (!server->Start() || !corbel::test::SignIn(server->port(), "alice", "alice-pass", &alice)) return;
    corbel::test::WriteSdkConfig(dir.path(), server->port());
    if (!sdk.init(dir.File("log"), 0, dir.path().string(), 1)) return;
    sdk.SetTokenInfo(alice.account, alice.token, alice.opToken);
    ListRequest r;
    r.account = alice.account;
    r.catalogID = alice.root;
    ListResult root;
    sdk.SyncLs(r, &root);
    for (const auto& c : root.catalogs)
      if (c.catalogName == "bench_" + std::to_string(kBigCatalog)) bench = c.catalogID;
    ok = !bench.empty();
  }
};
Service& TheService() {
  static Service s;
  return s;
}

std::atomic<int64_t> g_firstPageNs{0};
Clock::time_point g_start;
void OnFirstPage(const std::string&) {
  int64_t zero = 0;
  g_firstPageNs.compare_exchange_strong(
      zero, std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - g_start).count());
}

// state.range(0): pause between pages in ms (100 in the product).
void BM_ColdCatalogThroughCache(benchmark::State& state) {
  Service& s = TheService();
  if (!s.ok) return state.SkipWithError("reference service did not start");
  double firstMs = 0, wholeMs = 0;
  for (auto _ : state) {
    vdcache::test::TempDir dir;
    CVDCache cache(&s.sdk);
    cache.Initialize(1, true, dir.File("cache.db"), s.alice.account);
    cache.SetPagePauseMs(static_cast<uint32_t>(state.range(0)));
    cache.AddUpdatePageEventReceiver(&OnFirstPage);
    g_firstPageNs = 0;
    ListRequest request;
    request.catalogID = s.bench;
    ListResult r;
    g_start = Clock::now();
    cache.GetDisk(request, &r, false, false);
    cache.WaitIdle(600000);
    const auto whole = Clock::now() - g_start;
    wholeMs = std::chrono::duration<double, std::milli>(whole).count();
    firstMs = g_firstPageNs.load() / 1e6;
    state.SetIterationTime(std::chrono::duration<double>(whole).count());
  }
  state.counters["first_page_ms"] = firstMs;
  state.counters["whole_ms"] = wholeMs;
}
BENCHMARK(BM_ColdCatalogThroughCache)->Arg(0)->Arg(100)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// Baseline: the SDK's synchronous paging of the same catalog, no cache.
void BM_ColdCatalogSdkOnly(benchmark::State& state) {
  Service& s = TheService();
  if (!s.ok) return state.SkipWithError("reference service did not start");
  double firstMs = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    size_t have = 0;
    for (int first = 1;; first += 200) {
      ListRequest r;
      r.account = s.alice.account;
      r.catalogID = s.bench;
      r.startNumber = std::to_string(first);
      r.endNumber = std::to_string(first + 199);
      ListResult page;
      if (s.sdk.SyncLs(r, &page) != 0) break;
      if (first == 1) firstMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      have += page.catalogs.size() + page.contents.size();
      if (page.contents.empty() && page.catalogs.empty()) break;
      if (have >= static_cast<size_t>(std::atoll(page.totalCount.c_str()))) break;
    }
    benchmark::DoNotOptimize(have);
  }
  state.counters["first_page_ms"] = firstMs;
}
BENCHMARK(BM_ColdCatalogSdkOnly)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
