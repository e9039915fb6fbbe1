// upload_bench [--bytes=N] [benchmark flags]
// One file through the upload engine, progress dialog and all (its clock
// ticking every second as in the product), against plain libcurl PUTs of the
// same bytes to the same service, and the MD5 the engine computes before it
// asks for the upload. Also the CPU the dialog's timer costs. Ratios are
// printed at the end; every baseline is measured in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "bench_transfer_host.h"
#include "cloud_sdk_impl.h"
#include "curl_put.h"
#include "platform/clock.h"
#include "tests/sdk_test_support.h"
#include "upload_task.h"

namespace {

using namespace vdtransfer;
using Clock = std::chrono::steady_clock;

std::uint64_t g_bytes = 1ull << 30;
constexpr std::uint32_t kChunk = 16u << 20;

struct World {
  corbel::test::TempDir dir;
  std::unique_ptr<corbel::test::ServerProcess> server;
  corbel::test::Account alice;
  corbel::CloudSdk sdk;
  std::string source;
  int round = 0;

  World() {
    server = std::make_unique<corbel::test::ServerProcess>(dir.path() / "data");
    if (!server->Start() || !corbel::test::SignIn(server->port(), "alice", "alice-pass", &alice)) {
      std::fprintf(stderr, "service did not start\n");
      std::exit(1);
    }
    corbel::test::WriteSdkConfig(dir.path(), server->port(), 2, 30000, kChunk);
    sdk.init("", 0, dir.path().string(), 1);
    sdk.SetTokenInfo("alice", alice.token, alice.opToken);
    source = dir.File("source.bin");
    corbel::test::WriteRandomFile(source, g_bytes, 1);
  }
  // New bytes every round, or the service would take them at once.
  void Restamp() {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "round-%08d", ++round);
    int fd = open(source.c_str(), O_WRONLY);
    if (pwrite(fd, stamp, std::strlen(stamp), 0) < 0) std::abort();
    close(fd);
  }
};

World* g_world = nullptr;
World& TheWorld() {
  if (!g_world) g_world = new World();
  return *g_world;
}

std::map<std::string, double> g_seconds;
double g_timerShare = -1;
void Record(const std::string& name, double seconds) {
  auto it = g_seconds.find(name);
  if (it == g_seconds.end() || seconds < it->second) g_seconds[name] = seconds;
}

void BM_UploadEngine(benchmark::State& state) {
  World& w = TheWorld();
  BenchHost host(&w.sdk);
  SetTransferHost(&host);
  SetUploadTimings({});  // the product's pauses
  for (auto _ : state) {
    w.Restamp();
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    int result = -1;
    UploadDirNode root;
    root.catalogId = w.alice.root;
    root.files = {w.source};
    auto* task = new CVDUploadFileTask();
    const auto start = Clock::now();
    const int started = task->StartUploadServer(root, "alice", nullptr, 0, {}, 0, {}, 1, g_bytes, u"bench", nullptr,
                                                [&](int r, const std::vector<UploadResultItem>&, vd::PcPidl) {
                                                  std::lock_guard l(lock);
                                                  result = r;
                                                  done = true;
                                                  cv.notify_all();
                                                });
    // The upload ends for the user when the dialog closes; the callback
    // follows the product's half-second pause before its report.
    std::unique_lock l(lock);
    const bool ended = started == 0 && cv.wait_for(l, std::chrono::minutes(10), [&] { return done; });
    const double s = std::chrono::duration<double>(Clock::now() - start).count() - 0.5;
    if (!ended || result != 0) state.SkipWithError("engine upload failed");
    state.SetIterationTime(s);
    Record("engine", s);
    if (host.window) {
      g_timerShare = static_cast<double>(host.window->cpu100ns()) / 1e7 / (s + 0.5);
      state.counters["timer_ticks"] = host.window->ticks();
    }
  }
  SetTransferHost(nullptr);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}


// Plain HTTP: the upload request, then ranged PUTs of the same bytes with
// libcurl; no MD5 of its own, no engine, no dialog.
void BM_UploadCurl(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    w.Restamp();
    std::string md5;
    w.sdk.Md5CalFile(w.source, &md5);
    UploadFileRequest request;
    request.account = "alice";
    request.parentCatalogID = w.alice.root;
    request.files = {{"curl-" + std::to_string(w.round) + ".bin", std::to_string(g_bytes), md5}};
    UploadFileResult task;
    if (w.sdk.SyncUploadFileRequest(request, &task) != 0 || task.entries.at(0).isNeedUpload != "1") std::abort();
    const auto start = Clock::now();
    const bool ok = bench::CurlPutChunks(task.uploadURL, w.source, g_bytes, kChunk);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) state.SkipWithError("curl upload failed");
    state.SetIterationTime(s);
    Record("curl", s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

// The MD5 the engine computes before its request: the part of its time the
// plain PUT does not have.
void BM_Md5(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    std::string md5;
    const auto start = Clock::now();
    w.sdk.Md5CalFile(w.source, &md5);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    Record("md5", s);
  }
}

BENCHMARK(BM_UploadEngine)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadCurl)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--bytes=", 8) == 0) {
      g_bytes = std::strtoull(argv[i] + 8, nullptr, 10);
      for (int j = i; j < argc - 1; ++j) argv[j] = argv[j + 1];
      --argc;
      --i;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double engine = g_seconds["engine"], curl = g_seconds["curl"], md5 = g_seconds["md5"];
  if (engine > 0 && curl > 0) {
    std::printf("\n%.0f MiB, best of each:\n", static_cast<double>(g_bytes) / 1048576.0);
    std::printf("engine, dialog and all       %8.3f s  plain PUTs %8.3f s  ratio %.3f\n", engine, curl, curl / engine);
    if (md5 > 0 && engine > md5)
      std::printf("engine less its MD5 pass     %8.3f s  plain PUTs %8.3f s  ratio %.3f  (MD5 %.3f s)\n", engine - md5,
                  curl, curl / (engine - md5), md5);
    if (g_timerShare >= 0) std::printf("dialog timer CPU             %.4f%% of a core\n", g_timerShare * 100.0);
  }
  delete g_world;
  return 0;
}
