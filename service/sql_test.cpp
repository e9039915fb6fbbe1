#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/sql_ptr.h"
#include "test_support.h"

namespace vd::service::test {
namespace {

SQLPreparedStatementPtr Prepare(SQLConnection& c, const char* sql) {
  return SQLPreparedStatementPtr(c.prepareStatement(sql));
}

int Exec(SQLConnection& c, const char* sql) {
  SQLStatementPtr s(c.createStatement());
  return s ? s->execute(sql, 0) : -1;
}

// Every row's first column as text, in table order.
std::vector<std::string> Column0(const std::string& path, const char* sql) {
  std::vector<std::string> out;
  auto c = OpenSQLConnection(path.c_str());
  if (!c) return {"<no connection>"};
  auto q = Prepare(*c, sql);
  if (!q) return {"<no statement>"};
  SQLResultSetPtr rs(q->executeQuery());
  if (!rs) return {"<no result>"};
  char buf[2048];
  while (rs->next()) {
    rs->getString(0, buf, sizeof buf);
    out.emplace_back(buf);
  }
  return out;
}

int CountRows(const std::string& path, const char* sql) {
  auto c = OpenSQLConnection(path.c_str());
  if (!c) return -1;
  auto q = Prepare(*c, sql);
  if (!q) return -1;
  SQLResultSetPtr rs(q->executeQuery());
  return rs && rs->next() ? rs->getInt(0) : -1;
}

TEST(SqlConnection, ValuesReadBackAsWritten) {
  enum Bind { kText, kNullText, kInt, kNone };
  struct Case {
    const char* name;
    Bind bind;
    std::string input;  // text to bind, or the decimal int
    std::string text;   // what getString must give
    int number;         // what getInt must give
  };
  const std::string cut = std::string(2046, 'a') + "\xd4\xc6" + "tail";  // GBK pair across the cut
  const Case cases[] = {
      {"text", kText, "abc", "abc", 0},
      {"gbk bytes", kText, "\xd4\xc6\xc5\xcc", "\xd4\xc6\xc5\xcc", 0},
      {"empty", kText, "", "", 0},
      {"null text", kNullText, "", "", 0},
      {"unbound", kNone, "", "", 0},
      {"int", kInt, "42", "42", 42},
      {"negative", kInt, "-7", "-7", -7},
      {"int max", kInt, "2147483647", "2147483647", INT_MAX},
      {"int min", kInt, "-2147483648", "-2147483648", INT_MIN},
      {"number as text", kText, "123", "123", 123},
      {"2047 bytes fit", kText, std::string(2047, 'f'), std::string(2047, 'f'), 0},
      {"2048 bytes", kText, std::string(2048, 'g'), std::string(2047, 'g'), 0},
      {"5000 bytes", kText, std::string(5000, 'x'), std::string(2047, 'x'), 0},
      {"cut mid pair", kText, cut, cut.substr(0, 2047), 0},
  };
  auto bind = [](SQLPreparedStatement& s, const Case& tc) {
    switch (tc.bind) {
      case kText: return s.bindText(2, tc.input.c_str(), -1);
      case kNullText: return s.bindText(2, nullptr, -1);
      case kInt: return s.bindInt(2, std::stoi(tc.input));
      case kNone: break;
    }
    return 0;
  };

  TempDir dir;
  const std::string db = dir.File("values.db");
  {
    auto c = OpenSQLConnection(db.c_str());
    ASSERT_TRUE(c);
    ASSERT_EQ(0, Exec(*c, "create table if not exists v(k int, x varchar(10), y int)"));
    ASSERT_EQ(0, c->beginTransaction());
    for (size_t k = 0; k < std::size(cases); ++k) {
      auto s = Prepare(*c, "insert into v values(?,?,?)");
      ASSERT_TRUE(s);
      EXPECT_EQ(0, s->bindInt(1, static_cast<int>(k)));
      EXPECT_EQ(0, bind(*s, cases[k])) << cases[k].name;
      EXPECT_EQ(0, s->execute()) << cases[k].name;
    }
    ASSERT_EQ(0, c->commit());
  }

  auto c = OpenSQLConnection(db.c_str());
  ASSERT_TRUE(c);
  auto q = Prepare(*c, "select * from v");
  ASSERT_TRUE(q);
  SQLResultSetPtr rs(q->executeQuery());
  ASSERT_TRUE(rs);
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    ASSERT_NE(0, rs->next());
    char buf[2048 + 16];
    std::memset(buf, 0x7f, sizeof buf);
    EXPECT_EQ(0, rs->getString(1, buf, 2048));
    EXPECT_EQ(tc.text, std::string(buf));
    EXPECT_EQ(std::string(16, '\x7f'), std::string(buf + 2048, 16)) << "wrote past the buffer";
    EXPECT_EQ(tc.number, rs->getInt(1));
    std::memset(buf, 0x7f, sizeof buf);
    EXPECT_EQ(0, rs->getString(2, buf, 2048));  // column never bound
    EXPECT_STREQ("", buf);
    EXPECT_EQ(0, rs->getInt(2));
  }
  EXPECT_EQ(0, rs->next());
  EXPECT_EQ(0, rs->next()) << "stays at the end";
}

TEST(SqlConnection, UnitOfWorkKeepsOrderAndSurvivesFailedStatements) {
  TempDir dir;
  const std::string db = dir.File("unit.db");
  {
    auto c = OpenSQLConnection(db.c_str());
    ASSERT_TRUE(c);
    SQLStatementPtr plain(c->createStatement());
    ASSERT_TRUE(plain);
    // The cache start-up: the ALTER fails on every run after the first and
    // must not spoil the table.
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(0, plain->execute("create table if not exists t(name varchar(20) not null, n int)", 0));
      const int alter = plain->execute("ALTER TABLE t ADD extra char(40)", 0);
      EXPECT_EQ(run == 0, alter == 0) << "run " << run;
    }
    EXPECT_NE(0, plain->execute("this is not sql", 0));
  }

  struct Step {
    const char* sql;
    const char* name;  // bound at 1; nullptr leaves it NULL
    bool prepares;
    bool executes;
  };
  const Step steps[] = {
      {"insert into t(name, n) values(?, 1)", "first", true, true},
      {"insert into missing values(?)", "lost", false, false},
      {"insert into t(name, n) values(?, 2)", nullptr, true, false},  // NOT NULL violated
      {"insert into t(name, n) values(?, 3)", "second", true, true},
      {"delete from t where name = ? ", "nothing", true, true},
      {"insert into t(name, n) values(?, 4)", "third", true, true},
  };
  {
    auto c = OpenSQLConnection(db.c_str());
    ASSERT_TRUE(c);
    ASSERT_EQ(0, c->beginTransaction());
    for (const Step& step : steps) {
      SCOPED_TRACE(step.sql);
      auto s = Prepare(*c, step.sql);
      ASSERT_EQ(step.prepares, s != nullptr);
      if (!s) continue;
      if (step.name) {
        EXPECT_EQ(0, s->bindText(1, step.name, -1));
      }
      EXPECT_EQ(step.executes, s->execute() == 0);
    }
    EXPECT_EQ(0, c->commit());
  }
  EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), Column0(db, "select name from t"));
  EXPECT_EQ((std::vector<std::string>{"wal"}), Column0(db, "PRAGMA journal_mode"));
}

TEST(SqlConnection, ObjectsMayBeReleasedInAnyOrder) {
  TempDir dir;
  const std::string db = dir.File("order.db");
  {
    auto c = OpenSQLConnection(db.c_str());
    ASSERT_TRUE(c);
    ASSERT_EQ(0, Exec(*c, "create table t(x); insert into t values('a'); insert into t values('b')"));
  }
  SQLResultSetPtr rs;
  {
    auto c = OpenSQLConnection(db.c_str());
    ASSERT_TRUE(c);
    auto q = Prepare(*c, "select x from t");
    ASSERT_TRUE(q);
    rs.reset(q->executeQuery());
    ASSERT_TRUE(rs);
    auto bad = Prepare(*c, "select nothing from nowhere");
    EXPECT_FALSE(bad);
    auto out = Prepare(*c, "select * from t where x = ?");
    ASSERT_TRUE(out);
    EXPECT_NE(0, out->bindText(2, "too far", -1)) << "position past the last ?";
    EXPECT_NE(0, out->bindInt(0, 1)) << "positions count from 1";
  }  // statement and connection released before the rows are read
  char buf[2048];
  std::vector<std::string> rows;
  while (rs->next()) {
    rs->getString(0, buf, sizeof buf);
    rows.emplace_back(buf);
    EXPECT_NE(0, rs->getString(7, buf, sizeof buf));
    EXPECT_STREQ("", buf);
  }
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), rows);
}

TEST(SqlConnection, RefusedRequests) {
  TempDir dir;
  EXPECT_EQ(nullptr, SQLConnectionFactory::GetConnection("mysql", dir.File("a.db").c_str(), nullptr, nullptr));
  EXPECT_EQ(nullptr, SQLConnectionFactory::GetConnection("sqlite3", nullptr, nullptr, nullptr));
  EXPECT_EQ(nullptr, SQLConnectionFactory::GetConnection("sqlite3", "", nullptr, nullptr));
  EXPECT_EQ(nullptr, SQLConnectionFactory::GetConnection(nullptr, dir.File("a.db").c_str(), nullptr, nullptr));
  EXPECT_FALSE(OpenSQLConnection(dir.File("no/such/folder/a.db").c_str()));
}

// Paths arrive in the ANSI code page (936 on the product's home systems);
// the file must land under that same name, where the CRT finds it.
TEST(SqlConnection, AnsiPathNamesTheFile) {
  TempDir dir;
  const std::string path = dir.File("\xd4\xc6\xc5\xcc.db");  // "云盘" in code page 936
  {
    auto c = OpenSQLConnection(path.c_str());
    ASSERT_TRUE(c);
    ASSERT_EQ(0, Exec(*c, "create table t(x); insert into t values('here')"));
  }
  EXPECT_EQ(0u, ReadAll(path).rfind("SQLite format 3", 0));
  EXPECT_EQ((std::vector<std::string>{"here"}), Column0(path, "select x from t"));
}

TEST(SqlConnection, ConcurrentUnitsLoseNoRows) {
  constexpr int kThreads = 4, kUnits = 40, kRows = 25;
  TempDir dir;
  const std::string db = dir.File("concurrent.db");
  {
    auto c = OpenSQLConnection(db.c_str());
    ASSERT_TRUE(c);
    ASSERT_EQ(0, Exec(*c, "create table t(who int, unit int, row int, pad varchar(64))"));
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int who = 0; who < kThreads; ++who) {
    threads.emplace_back([&, who] {
      for (int unit = 0; unit < kUnits; ++unit) {
        auto c = OpenSQLConnection(db.c_str());
        if (!c || c->beginTransaction() != 0) {
          ++failures;
          continue;
        }
        for (int row = 0; row < kRows; ++row) {
          auto s = Prepare(*c, "insert into t values(?,?,?,?)");
          if (!s || s->bindInt(1, who) || s->bindInt(2, unit) || s->bindInt(3, row) ||
              s->bindText(4, "padding padding padding padding", -1) || s->execute())
            ++failures;
        }
        if (c->commit() != 0) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(kThreads * kUnits * kRows, CountRows(db, "select count(*) from t"));
  EXPECT_EQ(kThreads * kUnits * kRows, CountRows(db, "select count(*) from (select distinct who, unit, row from t)"));
}

TEST(SqlConnection, SecondWriterWaitsForTheFirst) {
  TempDir dir;
  const std::string db = dir.File("busy.db");
  auto first = OpenSQLConnection(db.c_str());
  ASSERT_TRUE(first);
  ASSERT_EQ(0, Exec(*first, "create table t(x)"));
  ASSERT_EQ(0, first->beginTransaction());
  ASSERT_EQ(0, Exec(*first, "insert into t values('first')"));

  std::atomic<bool> started{false};
  int begin = -1, commit = -1;
  std::thread second([&] {
    auto c = OpenSQLConnection(db.c_str());
    if (!c) return;
    started = true;
    begin = c->beginTransaction();  // blocks until the first commits
    Exec(*c, "insert into t values('second')");
    commit = c->commit();
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(0, first->commit());
  second.join();
  EXPECT_EQ(0, begin);
  EXPECT_EQ(0, commit);
  first.reset();
  EXPECT_EQ((std::vector<std::string>{"first", "second"}), Column0(db, "select x from t"));
}

// Damaged files: the open fails, the bytes are kept beside, and the next open
// starts afresh. Each case uses a path this process has not opened before.
TEST(SqlConnection, DamagedFileIsRefusedAndKept) {
  TempDir dir;
  const std::string sound = dir.File("sound.db");
  {
    auto c = OpenSQLConnection(sound.c_str());
    ASSERT_TRUE(c);
    ASSERT_EQ(0, Exec(*c, "create table t(x)"));
    ASSERT_EQ(0, c->beginTransaction());
    for (int i = 0; i < 2000; ++i) {
      auto s = Prepare(*c, "insert into t values(?)");
      ASSERT_TRUE(s);
      s->bindText(1, std::string(100, static_cast<char>('a' + i % 26)).c_str(), -1);
      ASSERT_EQ(0, s->execute());
    }
    ASSERT_EQ(0, c->commit());
  }  // the last connection folds the WAL back into the file
  const std::string soundBytes = ReadAll(sound);
  ASSERT_GT(soundBytes.size(), 16u * 4096);

  std::string garbage(4096, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 131 + 7) & 0xff);
  std::string damagedPages = soundBytes;
  std::memset(damagedPages.data() + 2 * 4096, 0x5a, 3 * 4096);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {{"garbage.db", garbage}, {"damaged.db", damagedPages}};

  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string path = dir.File(tc.name);
    WriteAll(path, tc.bytes);
    EXPECT_FALSE(OpenSQLConnection(path.c_str()));
    const auto aside = FilesStartingWith(dir.path(), std::string(tc.name) + ".corrupt-");
    ASSERT_EQ(1u, aside.size());
    EXPECT_EQ(tc.bytes, ReadAll(aside[0]));

    auto fresh = OpenSQLConnection(path.c_str());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(0, Exec(*fresh, "create table t(x); insert into t values('new')"));
    fresh.reset();
    EXPECT_EQ((std::vector<std::string>{"new"}), Column0(path, "select x from t"));
  }
}

// A large file gets only a quick look at its first open, so that opening a
// million-row cache never holds the shell; its whole check runs beside, and
// damage found there is acted on at the next process's first open (here: the
// same file under another spelling of its path, which this process has not
// opened yet).
TEST(SqlConnection, ALargeFileIsCheckedBesideItsOpenAndSetAsideNextTime) {
  TempDir dir;
  const std::string big = dir.File("big.db");
  {
    auto c = OpenSQLConnection(big.c_str());
    ASSERT_TRUE(c);
    ASSERT_EQ(0, Exec(*c, "create table t(x)"));
    ASSERT_EQ(0, c->beginTransaction());
    for (int i = 0; i < 60000; ++i) {
      auto row = Prepare(*c, "insert into t values(?)");
      ASSERT_TRUE(row);
      row->bindText(1, std::string(100, static_cast<char>('a' + i % 26)).c_str(), -1);
      ASSERT_EQ(0, row->execute());
    }
    ASSERT_EQ(0, c->commit());
  }
  std::string bytes = ReadAll(big);
  ASSERT_GT(bytes.size(), 5u << 20);
  std::memset(bytes.data() + bytes.size() / 2, 0x5a, 3 * 4096);
  const std::string damaged = dir.File("damaged-big.db");
  WriteAll(damaged, bytes);
  const std::string damagedOther = (std::filesystem::path(dir.path()) / "." / "damaged-big.db").string();

  auto opened = OpenSQLConnection(damaged.c_str());
  ASSERT_TRUE(opened) << "only a quick look at the first open";
  opened.reset();
  bool marked = false;
  for (int i = 0; i < 600 && !marked; ++i) {
    marked = std::filesystem::exists(damaged + ".damaged");
    if (!marked) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(marked) << "the whole check beside the open found the damage";
  EXPECT_FALSE(OpenSQLConnection(damagedOther.c_str())) << "the next first open sets it aside";
  EXPECT_EQ(1u, FilesStartingWith(dir.path(), "damaged-big.db.corrupt-").size());
  EXPECT_FALSE(std::filesystem::exists(damaged + ".damaged"));
  auto fresh = OpenSQLConnection(damagedOther.c_str());
  ASSERT_TRUE(fresh);
  EXPECT_EQ(0, Exec(*fresh, "create table t(x)"));
}

}  // namespace
}  // namespace vd::service::test
