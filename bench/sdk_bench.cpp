// sdk_bench [--bytes=N] [--entries=N] [benchmark flags]
// Transfers through the SDK against plain libcurl moving the same bytes to
// the same service, Md5CalFile against md5sum on the same file, and paging
// through a catalog of --entries contents. Ratios are printed at the end;
// every baseline is measured in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cloud_sdk_impl.h"
#include "curl_put.h"
#include "md5.h"
#include "tests/sdk_test_support.h"

namespace {

using corbel::test::FileRecord;
using Clock = std::chrono::steady_clock;

std::uint64_t g_bytes = 256ull << 20;
std::int64_t g_entries = 100000;
constexpr std::uint32_t kChunk = 16u << 20;

// One service, one signed-in SDK and one source file for the whole run.
struct World {
  corbel::test::TempDir dir;
  std::unique_ptr<corbel::test::ServerProcess> server;
  corbel::test::Account alice;
  corbel::CloudSdk sdk;
  std::string source, benchCatalog;
  int round = 0;

  World() {
    server = std::make_unique<corbel::test::ServerProcess>(dir.path() / "data",
                                                           "--bench-entries " + std::to_string(g_entries));
    if (!server->Start() || !corbel::test::SignIn(server->port(), "alice", "alice-pass", &alice)) {
      std::fprintf(stderr, "service did not start\n");
      std::exit(1);
    }
    corbel::test::WriteSdkConfig(dir.path(), server->port(), 2, 30000, kChunk);
    sdk.init("", 0, dir.path().string(), 1);
    sdk.SetTokenInfo("alice", alice.token, alice.opToken);
    source = dir.File("source.bin");
    corbel::test::WriteRandomFile(source, g_bytes, 1);
    ListRequest list;
    list.account = "alice";
    list.catalogID = alice.root;
    ListResult root;
    sdk.SyncLs(list, &root);
    for (const auto& c : root.catalogs)
      if (c.catalogName == "bench_" + std::to_string(g_entries)) benchCatalog = c.catalogID;
  }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(server->port()) + path; }

  // New bytes for every round, or the service would take them instantly.
  UploadFileResult NewTask(std::string* md5) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "round-%08d", ++round);
    int fd = open(source.c_str(), O_WRONLY);
    if (pwrite(fd, stamp, std::strlen(stamp), 0) < 0) std::abort();
    close(fd);
    sdk.Md5CalFile(source, md5);
    UploadFileRequest request;
    request.account = "alice";
    request.parentCatalogID = alice.root;
    request.files = {{"bench-" + std::to_string(round) + ".bin", std::to_string(g_bytes), *md5}};
    UploadFileResult result;
    if (sdk.SyncUploadFileRequest(request, &result) != 0 || result.entries.at(0).isNeedUpload != "1") std::abort();
    return result;
  }
  std::string lastContent;
};

World* g_world = nullptr;  // made by the first benchmark that runs, ended by main

World& TheWorld() {
  if (!g_world) g_world = new World();
  return *g_world;
}

std::map<std::string, double> g_seconds;  // best time of each benchmark

void Record(const std::string& name, double seconds) {
  auto it = g_seconds.find(name);
  if (it == g_seconds.end() || seconds < it->second) g_seconds[name] = seconds;
}

// ---------------------------------------------------------------- upload

void BM_UploadSdk(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    std::string md5;
    auto task = w.NewTask(&md5);
    FileRecord* record = FileRecord::Create(w.source, true);
    record->url = task.uploadURL;
    record->header = "Content-Range: bytes 0-" + std::to_string(g_bytes - 1) + "/" + std::to_string(g_bytes) + "\r\n";
    auto start = Clock::now();
    const bool accepted = w.sdk.uploadFile(record) == 0;
    std::uint32_t status = accepted ? record->Wait(600 * 1000) : kTransferStatusFailed;
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    record->Release();
    if (status != kTransferStatusDone) state.SkipWithError("upload failed");
    state.SetIterationTime(s);
    Record("upload_sdk", s);
    w.lastContent = task.entries[0].contentID;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

// Plain HTTP: the same ranged PUTs of the same size with libcurl, no SDK.
void BM_UploadCurl(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    std::string md5;
    auto task = w.NewTask(&md5);
    const auto start = Clock::now();
    const bool ok = bench::CurlPutChunks(task.uploadURL, w.source, g_bytes, kChunk);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) state.SkipWithError("curl upload failed");
    state.SetIterationTime(s);
    Record("upload_curl", s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

// ---------------------------------------------------------------- download

// The downloads fetch what the uploads stored: run with them.
bool HasUploaded(World& w, benchmark::State& state) {
  if (!w.lastContent.empty()) return true;
  state.SkipWithError("nothing uploaded: run the upload benchmarks too (--benchmark_filter='Upload|Download')");
  return false;
}

void BM_DownloadSdk(benchmark::State& state) {
  World& w = TheWorld();
  if (!HasUploaded(w, state)) return;
  for (auto _ : state) {
    FileRecord* record = FileRecord::Create(w.dir.File("down-sdk.bin"), false);
    DownloadFileRequest request;
    request.account = "alice";
    request.contentID = w.lastContent;
    auto start = Clock::now();
    // A refused request never takes the record: nothing would end the wait.
    const bool accepted = w.sdk.pcDownloadFileRequest(request, record) == 0;
    std::uint32_t status = accepted ? record->Wait(600 * 1000) : kTransferStatusFailed;
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    record->Release();
    if (status != kTransferStatusDone) state.SkipWithError("download failed");
    state.SetIterationTime(s);
    Record("download_sdk", s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

std::string PostJson(World& w, const std::string& name, const nlohmann::json& body, CURL* handle = nullptr) {
  return bench::PostJson(w.Url("/api/" + name), body.dump(), handle);
}

void BM_DownloadCurl(benchmark::State& state) {
  World& w = TheWorld();
  if (!HasUploaded(w, state)) return;
  for (auto _ : state) {
    auto start = Clock::now();
    const bool ok = bench::TicketAndGet(w.Url(""), w.alice.token, w.lastContent, w.dir.File("down-curl.bin"));
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) state.SkipWithError("curl download failed");
    state.SetIterationTime(s);
    Record("download_curl", s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

// ---------------------------------------------------------------- MD5

void BM_Md5CalFile(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    std::string md5;
    auto start = Clock::now();
    if (w.sdk.Md5CalFile(w.source, &md5) != 0) state.SkipWithError("Md5CalFile failed");
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    Record("md5_sdk", s);
    state.counters["md5_matches_md5sum"] = 0;
    std::string command = "md5sum '" + w.source + "'";
    if (FILE* p = popen(command.c_str(), "r")) {
      char line[128] = {};
      if (std::fgets(line, sizeof line, p)) state.counters["md5_matches_md5sum"] = std::strncmp(line, md5.c_str(), 32) == 0;
      pclose(p);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

void BM_Md5sum(benchmark::State& state) {
  World& w = TheWorld();
  std::string command = "md5sum '" + w.source + "' >/dev/null";
  for (auto _ : state) {
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("md5sum failed");
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    Record("md5_md5sum", s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
}

// ---------------------------------------------------------------- listing

void BM_ListAllPagesSdk(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    std::int64_t rows = 0;
    std::vector<double> pages;  // seconds of each page, in order
    auto start = Clock::now();
    for (std::int64_t first = 1;; first += 200) {
      const auto pageStart = Clock::now();
      ListRequest request;
      request.account = "alice";
      request.catalogID = w.benchCatalog;
      request.startNumber = std::to_string(first);
      request.endNumber = std::to_string(first + 199);
      ListResult page;
      if (w.sdk.SyncLs(request, &page) != 0) {
        state.SkipWithError("ls failed");
        break;
      }
      rows += static_cast<std::int64_t>(page.catalogs.size() + page.contents.size());
      if (page.contents.empty() && page.catalogs.empty()) break;
      pages.push_back(std::chrono::duration<double>(Clock::now() - pageStart).count());
    }
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    Record("list_sdk", s);
    // The deepest pages against the first ones: equal when a page costs the
    // same at any depth.
    const std::size_t k = std::min<std::size_t>(25, pages.size() / 2);
    if (k > 0) {
      Record("list_first_pages", std::accumulate(pages.begin(), pages.begin() + k, 0.0));
      Record("list_last_pages", std::accumulate(pages.end() - k, pages.end(), 0.0));
    }
    state.counters["rows"] = static_cast<double>(rows);
    if (rows != g_entries) state.SkipWithError("rows lost");
  }
  state.SetItemsProcessed(state.iterations() * g_entries);
}

// The same pages as plain HTTP POSTs with the JSON parsed, no records built.
void BM_ListAllPagesCurl(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    std::int64_t rows = 0;
    CURL* connection = curl_easy_init();
    auto start = Clock::now();
    for (std::int64_t first = 1;; first += 200) {
      auto page = nlohmann::json::parse(PostJson(w, "ls",
                                                 {{"token", w.alice.token},
                                                  {"catalogID", w.benchCatalog},
                                                  {"startNumber", std::to_string(first)},
                                                  {"endNumber", std::to_string(first + 199)}},
                                                 connection));
      std::size_t n = page["contentList"].size() + page["catalogList"].size();
      rows += static_cast<std::int64_t>(n);
      if (n == 0) break;
    }
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    curl_easy_cleanup(connection);
    state.SetIterationTime(s);
    Record("list_curl", s);
  }
  state.SetItemsProcessed(state.iterations() * g_entries);
}

BENCHMARK(BM_UploadSdk)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadCurl)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadSdk)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadCurl)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5CalFile)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5sum)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListAllPagesSdk)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListAllPagesCurl)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

void Ratio(const char* what, const char* sdk, const char* baseline) {
  if (!g_seconds.count(sdk) || !g_seconds.count(baseline)) return;
  // Throughput ratio: baseline time over SDK time (1.0 = as fast as the baseline).
  std::printf("%-34s sdk %8.3f s  baseline %8.3f s  ratio %.3f\n", what, g_seconds[sdk], g_seconds[baseline],
              g_seconds[baseline] / g_seconds[sdk]);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--bytes=", 8) == 0) g_bytes = std::stoull(argv[i] + 8);
    else if (std::strncmp(argv[i], "--entries=", 10) == 0) g_entries = std::stoll(argv[i] + 10);
    else rest.push_back(argv[i]);
  }
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  std::printf("bytes per transfer: %llu, catalog entries: %lld\n", static_cast<unsigned long long>(g_bytes),
              static_cast<long long>(g_entries));
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\nRatios (best run of each; >= 0.9 is the aim for transfers):\n");
  Ratio("upload (SDK vs libcurl PUTs)", "upload_sdk", "upload_curl");
  Ratio("download (SDK vs libcurl GET)", "download_sdk", "download_curl");
  Ratio("MD5 (Md5CalFile vs md5sum)", "md5_sdk", "md5_md5sum");
  Ratio("list pages (SDK vs raw HTTP+JSON)", "list_sdk", "list_curl");
  Ratio("deep pages (last 25 vs first 25)", "list_last_pages", "list_first_pages");
  delete g_world;  // stops the service and removes its files
  benchmark::Shutdown();
  return 0;
}
