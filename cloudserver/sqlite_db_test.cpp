// The statement cache hands a prepared statement back as new: no rows left
// from the last user, no bindings, no read that pins an old snapshot.
#include "sqlite_db.h"

#include <gtest/gtest.h>

#include <vector>

#include "temp_dir.h"

namespace cloudserver {
namespace {

constexpr char kSelect[] = "SELECT a FROM t WHERE a >= ? ORDER BY a";

std::vector<int64_t> Rows(Statement& st) {
  std::vector<int64_t> rows;
  while (st.Step()) rows.push_back(st.Int(0));
  return rows;
}

TEST(StatementCache, AReusedStatementStartsOverAndPinsNothing) {
  vd::testing::TempDir dir;
  const std::string path = dir.File("t.db");
  Database a(path), b(path);
  a.Exec("PRAGMA journal_mode=WAL");
  a.Exec("CREATE TABLE t(a INTEGER)");
  a.Exec("INSERT INTO t VALUES (1), (2), (3)");

  {
    Statement st = a.Prepare(kSelect);
    st.Bind(1, 2);
    ASSERT_TRUE(st.Step());
    EXPECT_EQ(st.Int(0), 2);  // left half read
  }
  {
    Statement st = a.Prepare(kSelect);
    EXPECT_TRUE(Rows(st).empty()) << "the last user's binding is gone: a >= NULL holds for no row";
  }
  {
    // Two users of one text at once get two statements.
    Statement first = a.Prepare(kSelect), second = a.Prepare(kSelect);
    first.Bind(1, 1);
    second.Bind(1, 3);
    ASSERT_TRUE(first.Step());
    EXPECT_EQ(Rows(second), std::vector<int64_t>({3}));
    EXPECT_EQ(first.Int(0), 1);
    EXPECT_EQ(Rows(first), std::vector<int64_t>({2, 3}));
  }
  {
    Statement st = a.Prepare(kSelect);
    st.Bind(1, 1);
    ASSERT_TRUE(st.Step());  // a read left open, then given back
  }
  b.Exec("INSERT INTO t VALUES (4)");
  Statement st = a.Prepare(kSelect);
  st.Bind(1, 1);
  EXPECT_EQ(Rows(st), std::vector<int64_t>({1, 2, 3, 4})) << "a kept statement holds no old snapshot";
}

}  // namespace
}  // namespace cloudserver
