// A writer killed in the middle of large cache units: the file still opens
// and every unit the writer saw committed is whole; no unit is half there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "test_support.h"
#include "vd_cache.h"

namespace vdcache {
namespace {

constexpr int kUnitRows = 3000;

ListResult Unit(int n) {
  ListResult r;
  r.request.catalogID = "U" + std::to_string(n);
  for (int i = 0; i < kUnitRows; ++i)
    r.contents.push_back(test::MakeContent("F" + std::to_string(n) + "-" + std::to_string(i), "n"));
  r.totalCount = std::to_string(kUnitRows);
  return r;
}

[[noreturn]] void Writer(const std::string& db, int fd) {
  CVDCache cache;
  if (cache.Initialize(1, true, db, "alice") != kCacheOk) _exit(2);
  for (int n = 0;; ++n) {
    cache.UpdateCache(Unit(n));
    // Reported only after the commit returned.
    if (write(fd, &n, sizeof n) != sizeof n) _exit(3);
  }
}

TEST(CacheCrash, KilledWriterLeavesEveryCommittedUnitWhole) {
  for (int round = 0; round < 3; ++round) {
    test::TempDir dir;
    const std::string db = dir.File("cache.db");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      Writer(db, fds[1]);
    }
    close(fds[1]);
    int committed = -1, n = 0;
    while (committed < 2 + round && read(fds[0], &n, sizeof n) == sizeof n) committed = n;
    // Kill part-way into a later unit.
    std::this_thread::sleep_for(std::chrono::milliseconds(7 * (round + 1)));
    kill(child, SIGKILL);
    while (read(fds[0], &n, sizeof n) == sizeof n) committed = n;  // reports made before the kill
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(committed, 2);

    CVDCache cache;
    ASSERT_EQ(cache.Initialize(1, true, db, "alice"), kCacheOk) << "round " << round;
    for (int u = 0; u <= committed + 1; ++u) {
      ListRequest request;
      request.catalogID = "U" + std::to_string(u);
      ListResult r;
      ASSERT_EQ(cache.GetDiskFromCache(request, &r), kCacheOk);
      if (u <= committed) {
        ASSERT_EQ(r.contents.size(), size_t{kUnitRows}) << "unit " << u << " round " << round;
        EXPECT_EQ(r.contents.back().contentID, "F" + std::to_string(u) + "-" + std::to_string(kUnitRows - 1));
      } else {
        EXPECT_TRUE(r.contents.empty() || r.contents.size() == size_t{kUnitRows}) << "torn unit " << u;
      }
    }
  }
}

}  // namespace
}  // namespace vdcache
