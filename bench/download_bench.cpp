// download_bench [--bytes=N] [--files=N] [benchmark flags]
// The download engine, progress dialog and all (its clock ticking every
// second as in the product), against plain libcurl: one large file against
// a ticket request and one GET of the same bytes, and a catalog of many
// small files against a loop of ticket requests and GETs on one connection.
// Ratios are printed at the end; every baseline is measured in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "bench_transfer_host.h"
#include "cloud_sdk_impl.h"
#include "curl_put.h"
#include "download_task.h"
#include "tests/sdk_test_support.h"
#include "upload_task.h"

namespace {

using namespace vdtransfer;
using Clock = std::chrono::steady_clock;

std::uint64_t g_bytes = 1ull << 30;
int g_files = 2000;
constexpr std::uint64_t kSmallBytes = 16 * 1024;
constexpr std::uint32_t kChunk = 16u << 20;

struct World {
  corbel::test::TempDir dir;
  std::unique_ptr<corbel::test::ServerProcess> server;
  corbel::test::Account alice;
  corbel::CloudSdk sdk;
  BenchHost host{&sdk};
  CloudEntry big;                    // the large file
  CloudEntry small;                  // the catalog of small files
  std::vector<std::string> smallIds; // its contents
  int round = 0;

  World() {
    server = std::make_unique<corbel::test::ServerProcess>(dir.path() / "data");
    if (!server->Start() || !corbel::test::SignIn(server->port(), "alice", "alice-pass", &alice)) Fail("service");
    corbel::test::WriteSdkConfig(dir.path(), server->port(), 2, 30000, kChunk);
    sdk.init("", 0, dir.path().string(), 1);
    sdk.SetTokenInfo("alice", alice.token, alice.opToken);
    SetTransferHost(&host);
    SetUploadTimings({});

    // The service's copies, sent through the upload engine once.
    const std::string bigSource = dir.File("big.bin");
    corbel::test::WriteRandomFile(bigSource, g_bytes, 1);
    const std::string catalog = corbel::test::Mkdir(server->port(), alice.token, alice.root, "small");
    UploadDirNode root;
    root.catalogId = alice.root;
    root.files = {bigSource};
    Upload(root);
    UploadDirNode many;
    many.catalogId = catalog;
    std::filesystem::create_directories(dir.path() / "small");
    for (int i = 0; i < g_files; ++i) {
      const std::string path = (dir.path() / "small" / ("f" + std::to_string(i) + ".bin")).string();
      corbel::test::WriteRandomFile(path, kSmallBytes, 100 + i);
      many.files.push_back(path);
    }
    Upload(many);

    ListResult top, inside;
    if (sdk.SyncLsAll(AllOf(alice.root), &top) != kSdkOk) Fail("listing");
    for (const auto& c : top.contents)
      if (c.contentName == "big.bin") big = {false, c.contentID, c.contentName, std::stoull(c.contentSize), c.contentID, alice.root};
    small = {true, catalog, "small", 0, catalog, alice.root};
    if (sdk.SyncLsAll(AllOf(catalog), &inside) != kSdkOk) Fail("listing");
    for (const auto& c : inside.contents) smallIds.push_back(c.contentID);
    if (big.id.empty() || smallIds.size() != static_cast<std::size_t>(g_files)) Fail("upload");
  }
  ~World() { SetTransferHost(nullptr); }

  [[noreturn]] static void Fail(const char* what) {
    std::fprintf(stderr, "set-up failed: %s\n", what);
    std::exit(1);
  }
  void Upload(const UploadDirNode& root) {
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    int result = -1;
    auto* task = new CVDUploadFileTask();
    if (task->StartUploadServer(root, "alice", nullptr, 0, {}, 0, {}, static_cast<std::uint32_t>(root.files.size()), 0,
                                u"bench", nullptr, [&](int r, const std::vector<UploadResultItem>&, vd::PcPidl) {
                                  std::lock_guard l(lock);
                                  result = r;
                                  done = true;
                                  cv.notify_all();
                                }) != 0)
      Fail("upload start");
    std::unique_lock l(lock);
    cv.wait(l, [&] { return done; });
    if (result != 0) Fail("upload");
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(server->port()) + path; }
  // A fresh, empty folder for a round.
  std::string Target() {
    const auto path = dir.path() / ("round" + std::to_string(++round));
    std::filesystem::create_directories(path);
    return path.string() + "/";
  }
};

World* g_world = nullptr;
World& TheWorld() {
  if (!g_world) g_world = new World();
  return *g_world;
}

std::map<std::string, double> g_seconds;
void Record(const std::string& name, double seconds) {
  auto it = g_seconds.find(name);
  if (it == g_seconds.end() || seconds < it->second) g_seconds[name] = seconds;
}

// Seconds until the engine's caller hears of the end; false on a failure.
bool EngineDownload(World& w, const CloudEntry& item, double* seconds) {
  std::mutex lock;
  std::condition_variable cv;
  bool done = false, ok = false;
  auto* task = new CVDDownloadFileTask();
  const auto start = Clock::now();
  const int started = task->StartDownloadServer({item}, nullptr, CVDDownloadFileTask::kPlain, false, w.Target(), "",
                                                [&](const std::vector<DownloadResult>& results) {
                                                  std::lock_guard l(lock);
                                                  ok = !results.empty();
                                                  for (const auto& r : results) ok = ok && r.resultCode == 0;
                                                  done = true;
                                                  cv.notify_all();
                                                });
  std::unique_lock l(lock);
  const bool ended = started == 0 && cv.wait_for(l, std::chrono::minutes(10), [&] { return done; });
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return ended && ok;
}

void BM_DownloadEngineLarge(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    double s = 0;
    if (!EngineDownload(w, w.big, &s)) state.SkipWithError("engine download failed");
    state.SetIterationTime(s);
    Record("large_engine", s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

void BM_DownloadCurlLarge(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    const std::string target = w.Target() + "big.bin";
    const auto start = Clock::now();
    const bool ok = bench::TicketAndGet(w.Url(""), w.alice.token, w.big.id, target);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) state.SkipWithError("curl download failed");
    state.SetIterationTime(s);
    Record("large_curl", s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

void BM_DownloadEngineSmallFiles(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    double s = 0;
    if (!EngineDownload(w, w.small, &s)) state.SkipWithError("engine download failed");
    state.SetIterationTime(s);
    Record("small_engine", s);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * g_files));
}

// The catalog listed once, then a ticket and a GET per file on one connection.
void BM_DownloadCurlSmallFiles(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    const std::string target = w.Target();
    CURL* h = curl_easy_init();
    const auto start = Clock::now();
    ListResult listed;
    bool ok = w.sdk.SyncLsAll(AllOf(w.small.id), &listed) == kSdkOk;
    for (std::size_t i = 0; ok && i < listed.contents.size(); ++i) {
      ok = bench::TicketAndGet(w.Url(""), w.alice.token, listed.contents[i].contentID,
                               target + listed.contents[i].contentName, h);
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    curl_easy_cleanup(h);
    if (!ok) state.SkipWithError("curl download failed");
    state.SetIterationTime(s);
    Record("small_curl", s);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * g_files));
}

BENCHMARK(BM_DownloadEngineLarge)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadCurlLarge)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadEngineSmallFiles)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadCurlSmallFiles)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

bool TakeFlag(int& argc, char** argv, const char* name, std::uint64_t* value) {
  const std::size_t n = std::strlen(name);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], name, n) == 0) {
      *value = std::strtoull(argv[i] + n, nullptr, 10);
      for (int j = i; j < argc - 1; ++j) argv[j] = argv[j + 1];
      --argc;
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t files = 0;
  TakeFlag(argc, argv, "--bytes=", &g_bytes);
  if (TakeFlag(argc, argv, "--files=", &files)) g_files = static_cast<int>(files);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const auto ratio = [](const char* what, const char* engine, const char* curl) {
    const double e = g_seconds[engine], c = g_seconds[curl];
    if (e > 0 && c > 0) std::printf("%-44s engine %8.3f s  plain %8.3f s  ratio %.3f\n", what, e, c, c / e);
  };
  std::printf("\nbest of each:\n");
  ratio((std::to_string(g_bytes >> 20) + " MiB file").c_str(), "large_engine", "large_curl");
  ratio((std::to_string(g_files) + " files of 16 KiB in one catalog").c_str(), "small_engine", "small_curl");
  delete g_world;
  return 0;
}
