// A writer killed in the middle of a unit of work must leave a database that
// opens, passes its check and holds every unit it committed, whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>
#include <memory>

#include "service/sql_ptr.h"
#include "test_support.h"

namespace vd::service::test {
namespace {

constexpr int kRowsPerUnit = 400;

// Runs in the child: commits units forever, reporting each after its commit.
[[noreturn]] void WriteUnits(const std::string& path, int reportFd) {
  const std::string payload(2000, 'p');
  {
    auto c = OpenSQLConnection(path.c_str());
    if (!c) _exit(2);
    SQLStatementPtr s(c->createStatement());
    if (!s || s->execute("create table w(unit int, seq int, payload varchar(2000))", 0) != 0) _exit(3);
  }
  for (int unit = 1;; ++unit) {
    auto c = OpenSQLConnection(path.c_str());
    if (!c || c->beginTransaction() != 0) _exit(4);
    for (int seq = 0; seq < kRowsPerUnit; ++seq) {
      SQLPreparedStatementPtr s(c->prepareStatement("insert into w values(?,?,?)"));
      if (!s || s->bindInt(1, unit) || s->bindInt(2, seq) || s->bindText(3, payload.c_str(), -1) || s->execute())
        _exit(5);
    }
    if (c->commit() != 0) _exit(6);
    if (write(reportFd, &unit, sizeof unit) != static_cast<ssize_t>(sizeof unit)) _exit(7);
  }
}

TEST(SqlCrash, KilledWriterLeavesCommittedUnitsWhole) {
  // The kill lands at a fraction of one unit's time after the fifth
  // reported commit, so at different points inside the next unit.
  // Every writer is forked before this process opens a file through the
  // library: a large file's first open starts a check thread, and a child
  // forked beside a thread may inherit a lock nobody will release.
  struct Crashed {
    std::unique_ptr<TempDir> dir = std::make_unique<TempDir>();
    std::string path = dir->File("crash.db");
    double fraction = 0;
    int reported = 0;
  };
  std::vector<Crashed> crashes;
  for (double fraction : {0.0, 0.2, 0.5, 0.8}) {
    SCOPED_TRACE("kill at fraction " + std::to_string(fraction));
    Crashed& crashed = crashes.emplace_back();
    crashed.fraction = fraction;
    const std::string& path = crashed.path;
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      WriteUnits(path, fds[1]);
    }
    close(fds[1]);
    int reported = 0;
    auto last = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration unitTime{};
    while (reported < 5) {
      int unit = 0;
      if (read(fds[0], &unit, sizeof unit) != static_cast<ssize_t>(sizeof unit)) break;
      reported = unit;
      const auto now = std::chrono::steady_clock::now();
      unitTime = now - last;
      last = now;
    }
    std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(unitTime * fraction));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended early with " << WEXITSTATUS(status);
    // Commits the child made after its last report are not known here.
    for (int unit; read(fds[0], &unit, sizeof unit) == static_cast<ssize_t>(sizeof unit);) reported = unit;
    close(fds[0]);
    ASSERT_GE(reported, 5) << "the writer never got going";
    crashed.reported = reported;
  }
  for (const Crashed& crashed : crashes) {
    SCOPED_TRACE("kill at fraction " + std::to_string(crashed.fraction));
    const std::string& path = crashed.path;
    const int reported = crashed.reported;
    auto c = OpenSQLConnection(path.c_str());
    ASSERT_TRUE(c) << "database refused after the crash";
    SQLPreparedStatementPtr q(c->prepareStatement("select unit, count(*), min(seq), max(seq) from w group by unit"));
    ASSERT_TRUE(q);
    SQLResultSetPtr rs(q->executeQuery());
    ASSERT_TRUE(rs);
    std::map<int, int> rows;
    while (rs->next()) {
      const int unit = rs->getInt(0);
      rows[unit] = rs->getInt(1);
      EXPECT_EQ(0, rs->getInt(2));
      EXPECT_EQ(kRowsPerUnit - 1, rs->getInt(3));
    }
    for (int unit = 1; unit <= reported; ++unit) EXPECT_EQ(kRowsPerUnit, rows[unit]) << "unit " << unit;
    for (const auto& [unit, count] : rows) {
      EXPECT_EQ(kRowsPerUnit, count) << "partial unit " << unit;
      EXPECT_LE(unit, reported + 1) << "unit " << unit << " appeared from nowhere";
    }
  }
}

}  // namespace
}  // namespace vd::service::test
