// A folder of 100,000 entries opened the way a file dialog opens it
// (EnumObjects, then a name for every item, no window), under Wine:
//   baseline: Wine's own file-system folder over 100,000 local files;
//   ours:     the cloud disk's folder over a 100,000-entry catalog, from its cache.
// The Windows side is bench/win32/shell_enum_probe.exe, which times itself;
// this program sets the world up (Wine prefix, reference service, installed
// layout, regsvr32) and reports the probe's figures as manual times.
//   VD_BENCH_ENTRIES=N  entries in each folder (default 100000)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "tests/sdk_test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kCloudDisk[] = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}";

long Entries() {
  const char* text = std::getenv("VD_BENCH_ENTRIES");
  return text ? std::atol(text) : 100000;
}

int Run(const std::string& command) { return std::system(command.c_str()); }

struct ProbeResult {
  bool ok = false;
  long items = 0;
  double firstMs = 0, totalMs = 0;
};

class World {
 public:
  static World& Get() {
    static World world;
    return world;
  }
  ~World() {
    if (!ok) return;
    Run(Wine("C:\\\\Veyra\\\\Nimbra.exe --quit") + " >/dev/null 2>&1");
    Run("bash " + std::string(WINE_PREFIX_SCRIPT) + " cleanup '" + prefix_.string() + "' >/dev/null 2>&1");
  }

  ProbeResult Probe(const std::string& args) {
    ProbeResult r;
    FILE* out = ::popen((Wine(std::string("'") + WIN64_BIN + "/shell_enum_probe.exe' " + args) + " 2>/dev/null").c_str(), "r");
    if (!out) return r;
    char line[256] = {};
    while (std::fgets(line, sizeof line, out)) {
      if (std::sscanf(line, "items=%ld first_ms=%lf total_ms=%lf", &r.items, &r.firstMs, &r.totalMs) == 3) r.ok = true;
    }
    r.ok = ::pclose(out) == 0 && r.ok;
    return r;
  }

  bool ok = false;

 private:
  World() : dir_(fs::temp_directory_path() / ("vd-shell-bench-" + std::to_string(::getpid()))) {
    const long n = Entries();
    fs::create_directories(dir_);
    server_ = std::make_unique<corbel::test::ServerProcess>(dir_ / "data", "--bench-entries " + std::to_string(n));
    if (!server_->Start()) return;
    prefix_ = dir_ / "wineprefix";
    if (Run("bash " + std::string(WINE_PREFIX_SCRIPT) + " setup '" + prefix_.string() + "' >/dev/null") != 0) return;
    ::setenv("VD_WINEPREFIX", prefix_.c_str(), 1);
    // The installed layout: client and SDK in the install folder, the library below it.
    const fs::path install = prefix_ / "drive_c" / "Veyra";
    fs::create_directories(install / "Shell");
    for (const char* name : {"Nimbra.exe", "CorbelSdk64.dll", "misc64.dll"})
      fs::copy_file(fs::path(WIN64_BIN) / name, install / name, fs::copy_options::overwrite_existing);
    for (const char* name : {"Pandrel64.dll", "CorbelSdk64.dll", "misc64.dll"})
      fs::copy_file(fs::path(WIN64_BIN) / name, install / "Shell" / name, fs::copy_options::overwrite_existing);
    corbel::test::WriteSdkConfig(install, server_->port(), 2, 30000);
    std::ofstream(install / "Nimbra.ini") << "[Service]\nHost=127.0.0.1\nPort=" << server_->port()
                                          << "\n[Account]\nAccount=alice\nPassword=alice-pass\n";
    if (Run(Wine("regsvr32 /s C:\\\\Veyra\\\\Shell\\\\Pandrel64.dll") + " >/dev/null 2>&1") != 0) return;
    // The baseline's local files.
    const fs::path local = prefix_ / "drive_c" / "bench_local";
    fs::create_directories(local);
    for (long i = 0; i < n; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "file_%06ld.txt", i);
      std::ofstream(local / name) << i;
    }
    ok = true;
  }

  std::string Wine(const std::string& command) const { return std::string("'") + WINE_RUN + "' " + command; }

  fs::path dir_;
  fs::path prefix_;
  std::unique_ptr<corbel::test::ServerProcess> server_;
};

double g_baselineMs = 0;

void Report(benchmark::State& state, const ProbeResult& r) {
  state.SetIterationTime(r.totalMs / 1000.0);
  state.counters["items"] = static_cast<double>(r.items);
  state.counters["first_ms"] = r.firstMs;
  state.counters["total_ms"] = r.totalMs;
}

void BM_WineFileSystemFolder(benchmark::State& state) {
  World& world = World::Get();
  if (!world.ok) {
    state.SkipWithError("the Wine world did not come up");
    return;
  }
  for (auto _ : state) {
    const ProbeResult r = world.Probe("'C:\\bench_local'");
    if (!r.ok || r.items != Entries()) {
      state.SkipWithError("the probe failed on the local folder");
      return;
    }
    Report(state, r);
    g_baselineMs = r.totalMs;
  }
}

void BM_CloudFolderFromCache(benchmark::State& state) {
  World& world = World::Get();
  if (!world.ok) {
    state.SkipWithError("the Wine world did not come up");
    return;
  }
  const std::string child = "bench_" + std::to_string(Entries());
  for (auto _ : state) {
    // The first run waits (untimed) until the catalog's first listing is cached.
    const ProbeResult r = world.Probe(std::string("'") + kCloudDisk + "' " + child + " --warm " +
                                      std::to_string(Entries()));
    if (!r.ok || r.items != Entries()) {
      state.SkipWithError("the probe failed on the cloud folder");
      return;
    }
    Report(state, r);
    if (g_baselineMs > 0) state.counters["speedup_vs_wine_fs"] = g_baselineMs / r.totalMs;
  }
}

BENCHMARK(BM_WineFileSystemFolder)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CloudFolderFromCache)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
