// Cache figures: loading a large cache.db, change detection of a large
// catalog, and a cold 100,000-entry catalog from the reference service.
// Each has a baseline measured in the same run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "cloud_sdk_impl.h"
#include "catalog_store.h"
#include "compare_cache.h"
#include "test_support.h"
#include "tests/sdk_test_support.h"
#include "vd_cache.h"

namespace {

using Clock = std::chrono::steady_clock;
using vdcache::CVDCache;

constexpr int kRows = 1000000;
constexpr int kPerParent = 10000;

vdcache::test::TempDir& Dir() {
  static vdcache::test::TempDir dir;
  return dir;
}

// One million content rows under 100 parents, written through the cache.
const std::string& BigDb() {
  static const std::string path = [] {
    const std::string db = Dir().File("big.db");
    CVDCache cache;
    cache.Initialize(1, true, db, "alice");
    ContentInfo base = vdcache::test::MakeContent("", "photo.jpg");
    for (int p = 0; p < kRows / kPerParent; ++p) {
      ListResult unit;
      unit.request.catalogID = "parent" + std::to_string(p);
      for (int i = 0; i < kPerParent; ++i) {
        base.contentID = "content" + std::to_string(p * kPerParent + i);
        unit.contents.push_back(base);
      }
      cache.PushbackCache(unit);
    }
    return db;
  }();
  return path;
}

// The whole load on its thread, and the first catalog a shell asks for
// while it runs (read from the file by itself). Memory: the heap the rows
// take once loaded, per row, against the text the file holds for a row.
void BM_LoadCache(benchmark::State& state) {
  const std::string& db = BigDb();
  double firstReadMs = 0, initializeMs = 0, seconds = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    CVDCache cache;
    const auto start = Clock::now();
    cache.Initialize(1, true, db, "alice");
    initializeMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    ListRequest request;
    request.catalogID = "parent50";
    ListResult result;
    cache.GetDiskFromCache(request, &result);
    firstReadMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (result.contents.size() != kPerParent) return state.SkipWithError("the first read came back short");
    cache.WaitLoaded(600000);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    seconds += s;
    state.SetIterationTime(s);
    bytes = cache.MemoryBytes();
  }
  state.counters["rows/s"] = seconds > 0 ? double(kRows) * double(state.iterations()) / seconds : 0;
  state.counters["initialize_ms"] = initializeMs;
  state.counters["first_read_ms"] = firstReadMs;
  state.counters["heap_bytes/row"] = double(bytes) / kRows;
}
BENCHMARK(BM_LoadCache)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();

// Baseline: SQLite alone stepping over every column of the same rows.
void BM_LoadRawSqlite(benchmark::State& state) {
  const std::string& db = BigDb();
  size_t bytes = 0;
  for (auto _ : state) {
    sqlite3* h = nullptr;
    sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "select * from contents", -1, &st, nullptr);
    bytes = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
      for (int c = 0; c < 37; ++c) {
        sqlite3_column_text(st, c);
        bytes += static_cast<size_t>(sqlite3_column_bytes(st, c));
      }
    sqlite3_finalize(st);
    sqlite3_close(h);
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["rows/s"] = benchmark::Counter(double(kRows) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["text_bytes/row"] = double(bytes) / kRows;
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

// A refresh of an unchanged catalog: every entry is compared. range(1): 0
// the service lists in the stored order (the usual case), 1 reversed.
void BM_Compare(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ListResult stored;
  stored.contents = Contents(n, "20240101000000");
  const vdcache::ChildrenPtr packed = vdcache::CatalogStore::Pack(stored);
  auto listed = stored.contents;
  if (state.range(1)) std::reverse(listed.begin(), listed.end());
  for (auto _ : state) benchmark::DoNotOptimize(vdcache::CompareCache(packed.get(), {}, listed));
  state.counters["entries"] = n;
}
BENCHMARK(BM_Compare)->Args({100000, 0})->Args({100000, 1})->Unit(benchmark::kMillisecond);

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

// Keeps each run's figures, so the ratios against the baselines can be
// printed after the table.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      Figures& f = figures[run.benchmark_name()];
      f.ms = run.GetAdjustedRealTime();
      for (const auto& [name, counter] : run.counters) f.counters[name] = counter.value;
    }
  }
  struct Figures {
    double ms = 0;
    std::map<std::string, double> counters;
  };
  std::map<std::string, Figures> figures;
  double Counter(const std::string& run, const std::string& name) {
    auto it = figures.find(run);
    if (it == figures.end()) return 0;
    auto c = it->second.counters.find(name);
    return c == it->second.counters.end() ? 0 : c->second;
  }
  double Ms(const std::string& run) { return figures.count(run) ? figures[run].ms : 0; }
};

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  const double load = collector.Counter("BM_LoadCache/iterations:2/manual_time", "rows/s");
  const double raw = collector.Counter("BM_LoadRawSqlite/iterations:2", "rows/s");
  const double heap = collector.Counter("BM_LoadCache/iterations:2/manual_time", "heap_bytes/row");
  const double text = collector.Counter("BM_LoadRawSqlite/iterations:2", "text_bytes/row");
  if (load > 0 && raw > 0) {
    std::printf("\nload of %d rows: %.0f rows/s; SQLite stepping the same rows: %.0f rows/s; ratio %.2f\n", kRows, load,
                raw, Ratio(load, raw));
    std::printf("Initialize on the calling thread: %.2f ms; first catalog (%d rows) read while loading: %.2f ms\n",
                collector.Counter("BM_LoadCache/iterations:2/manual_time", "initialize_ms"), kPerParent,
                collector.Counter("BM_LoadCache/iterations:2/manual_time", "first_read_ms"));
    std::printf("memory: %.1f heap bytes a row for %.1f text bytes a row in the file; ratio %.2f\n", heap, text,
                Ratio(heap, text));
  }
  const double inOrder = collector.Ms("BM_Compare/100000/0"), reversed = collector.Ms("BM_Compare/100000/1");
  if (inOrder > 0)
    std::printf("refresh compare of 100,000 entries: %.2f ms in the stored order, %.2f ms reversed\n", inOrder,
                reversed);
  const double pairwise = collector.Ms("BM_ComparePairwise/10000/iterations:1");
  if (pairwise > 0) std::printf("pairwise search of 10,000 entries (baseline): %.1f ms\n", pairwise);
  benchmark::Shutdown();
  return 0;
}
