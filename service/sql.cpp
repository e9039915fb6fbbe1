#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "log_impl.h"
#include "os.h"
#include "service/sql.h"

namespace vd::service {
namespace {

// Long enough for a page append or a catalog replace of another thread.
constexpr int kBusyTimeoutMs = 5000;

struct DbHandle {
  explicit DbHandle(sqlite3* d) : db(d) {}
  DbHandle(const DbHandle&) = delete;
  DbHandle& operator=(const DbHandle&) = delete;
  ~DbHandle() { sqlite3_close_v2(db); }
  sqlite3* db;
};

// Holds its connection, so it is always finalized before the connection closes
// whatever order the caller releases things in.
struct StmtHandle {
  StmtHandle(std::shared_ptr<DbHandle> d, sqlite3_stmt* s) : db(std::move(d)), stmt(s) {}
  StmtHandle(const StmtHandle&) = delete;
  StmtHandle& operator=(const StmtHandle&) = delete;
  ~StmtHandle() { sqlite3_finalize(stmt); }
  std::shared_ptr<DbHandle> db;
  sqlite3_stmt* stmt;
};

class ResultSet final : public SQLResultSet {
 public:
  ResultSet(std::shared_ptr<StmtHandle> stmt, bool firstRow) : stmt_(std::move(stmt)), firstRow_(firstRow) {}

  int next() override {
    if (!started_) {
      started_ = true;
      onRow_ = firstRow_;
    } else if (onRow_) {
      const int rc = sqlite3_step(stmt_->stmt);
      onRow_ = rc == SQLITE_ROW;
      if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        VD_SERVICE_LOG(kLogError, "query stopped (%d %s)", rc, sqlite3_errmsg(stmt_->db->db));
    }
    return onRow_ ? 1 : 0;
  }

  int getInt(int column) override {
    if (!HasColumn(column)) return 0;
    return sqlite3_column_int(stmt_->stmt, column);
  }

  int getString(int column, char* buffer, int size) override {
    if (!buffer || size <= 0) return -1;
    buffer[0] = '\0';
    if (!HasColumn(column)) return -1;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_->stmt, column));
    if (!text) return 0;  // NULL, or out of memory converting it
    const int bytes = sqlite3_column_bytes(stmt_->stmt, column);
    const int copied = bytes < size - 1 ? bytes : size - 1;
    std::memcpy(buffer, text, static_cast<size_t>(copied));
    buffer[copied] = '\0';
    return 0;
  }

  // Resetting ends the statement's read snapshot even when the rows were not all read.
  void release() override {
    sqlite3_reset(stmt_->stmt);
    delete this;
  }

 private:
  bool HasColumn(int column) const {
    return onRow_ && column >= 0 && column < sqlite3_column_count(stmt_->stmt);
  }

  std::shared_ptr<StmtHandle> stmt_;
  bool firstRow_;
  bool started_ = false;
  bool onRow_ = false;
};

class PreparedStatement final : public SQLPreparedStatement {
 public:
  explicit PreparedStatement(std::shared_ptr<StmtHandle> stmt) : stmt_(std::move(stmt)) {}

  int bindText(int index, const char* text, int length) override {
    const int rc = text ? sqlite3_bind_text(stmt_->stmt, index, text, length < 0 ? -1 : length, SQLITE_TRANSIENT)
                        : sqlite3_bind_null(stmt_->stmt, index);
    return Checked(rc, "bindText");
  }

  int bindInt(int index, int value) override {
    return Checked(sqlite3_bind_int(stmt_->stmt, index, value), "bindInt");
  }

  int execute() override {
    sqlite3_reset(stmt_->stmt);
    int rc;
    while ((rc = sqlite3_step(stmt_->stmt)) == SQLITE_ROW) {
    }
    sqlite3_reset(stmt_->stmt);
    return rc == SQLITE_DONE ? 0 : Checked(rc, "execute");
  }

  SQLResultSet* executeQuery() override {
    try {
      sqlite3_reset(stmt_->stmt);
      const int rc = sqlite3_step(stmt_->stmt);
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        Checked(rc, "executeQuery");
        sqlite3_reset(stmt_->stmt);
        return nullptr;
      }
      return new ResultSet(stmt_, rc == SQLITE_ROW);
    } catch (...) {
      return nullptr;
    }
  }

  void release() override { delete this; }

 private:
  int Checked(int rc, const char* what) {
    if (rc != SQLITE_OK)
      VD_SERVICE_LOG(kLogError, "%s failed (%d %s): %s", what, rc, sqlite3_errmsg(stmt_->db->db),
                     sqlite3_sql(stmt_->stmt));
    return rc;
  }

  std::shared_ptr<StmtHandle> stmt_;
};

class Statement final : public SQLStatement {
 public:
  explicit Statement(std::shared_ptr<DbHandle> db) : db_(std::move(db)) {}

  int execute(const char* sql, int) override {
    if (!sql) return SQLITE_MISUSE;
    const int rc = sqlite3_exec(db_->db, sql, nullptr, nullptr, nullptr);
    // Failures are expected here (ALTER TABLE of a column that exists).
    if (rc != SQLITE_OK) VD_SERVICE_LOG(kLogWarn, "execute failed (%d %s): %s", rc, sqlite3_errmsg(db_->db), sql);
    return rc;
  }

  void release() override { delete this; }

 private:
  std::shared_ptr<DbHandle> db_;
};

class Connection final : public SQLConnection {
 public:
  explicit Connection(std::shared_ptr<DbHandle> db) : db_(std::move(db)) {}

  void release() override { delete this; }

  // IMMEDIATE: the write lock is taken here, under the busy timeout, rather
  // than at the first write where a busy writer could not be waited for.
  int beginTransaction() override { return Exec("BEGIN IMMEDIATE"); }
  int commit() override { return Exec("COMMIT"); }

  SQLStatement* createStatement() override {
    try {
      return new Statement(db_);
    } catch (...) {
      return nullptr;
    }
  }

  SQLPreparedStatement* prepareStatement(const char* sql) override {
    if (!sql) return nullptr;
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db_->db, sql, -1, &raw, nullptr);
    if (rc != SQLITE_OK || !raw) {
      VD_SERVICE_LOG(kLogError, "prepare failed (%d %s): %s", rc, sqlite3_errmsg(db_->db), sql);
      sqlite3_finalize(raw);
      return nullptr;
    }
    try {
      return new PreparedStatement(std::make_shared<StmtHandle>(db_, raw));
    } catch (...) {
      sqlite3_finalize(raw);
      return nullptr;
    }
  }

 private:
  int Exec(const char* sql) {
    const int rc = sqlite3_exec(db_->db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) VD_SERVICE_LOG(kLogError, "%s failed (%d %s)", sql, rc, sqlite3_errmsg(db_->db));
    return rc;
  }

  std::shared_ptr<DbHandle> db_;
};

using UniqueDb = std::unique_ptr<DbHandle>;

UniqueDb Open(const std::string& path) {
  sqlite3* raw = nullptr;
  // FULLMUTEX: a unit's connection is meant for one thread, but a caller that
  // shares one must not corrupt it; the uncontended lock costs next to nothing.
  const int rc = sqlite3_open_v2(PathForSqlite(path).c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  auto db = std::make_unique<DbHandle>(raw);
  if (rc != SQLITE_OK) {
    VD_SERVICE_LOG(kLogError, "cannot open %s (%d %s)", path.c_str(), rc, raw ? sqlite3_errmsg(raw) : "");
    return nullptr;
  }
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  return db;
}

// First text column of the first row, or the error code.
int QueryText(sqlite3* db, const char* sql, std::string& text) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(raw);
  if (rc == SQLITE_ROW) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
    text = t ? t : "";
    return SQLITE_OK;
  }
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

enum class Health { kGood, kDamaged, kUnknown };

Health Check(sqlite3* db, const std::string& path) {
  std::string verdict;
  const int rc = QueryText(db, "PRAGMA quick_check", verdict);
  const int primary = rc & 0xff;
  if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) {
    VD_SERVICE_LOG(kLogError, "%s is not a sound database (%d %s)", path.c_str(), rc, sqlite3_errmsg(db));
    return Health::kDamaged;
  }
  if (rc != SQLITE_OK) {
    VD_SERVICE_LOG(kLogError, "cannot check %s (%d %s)", path.c_str(), rc, sqlite3_errmsg(db));
    return Health::kUnknown;
  }
  if (verdict != "ok") {
    VD_SERVICE_LOG(kLogError, "%s failed its check: %s", path.c_str(), verdict.c_str());
    return Health::kDamaged;
  }
  return Health::kGood;
}

std::string Stamp() {
  const std::tm tm = LocalTime(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
  char text[48];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d-%u", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, ProcessId());
  return text;
}

// A damaged file is moved aside, not deleted: the bytes stay for diagnosis
// and for anyone who wants to salvage them, while the next open starts a
// fresh file, so the product gets its cache back without the user's help.
// The journal files go along, or a fresh file would replay a stale WAL.
bool MoveAside(const std::string& path) {
  const std::string aside = path + ".corrupt-" + Stamp();
  if (std::rename(path.c_str(), aside.c_str()) != 0) {
    VD_SERVICE_LOG(kLogError, "cannot move %s aside; it stays in place", path.c_str());
    return false;
  }
  std::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
  std::rename((path + "-journal").c_str(), (aside + "-journal").c_str());
  std::remove((path + "-shm").c_str());
  VD_SERVICE_LOG(kLogError, "moved damaged %s to %s; a fresh database starts at the next open", path.c_str(),
                 aside.c_str());
  return true;
}

// Files up to this size are checked whole at their first open. A larger one
// (an account with a million cached rows) would hold its opener, the shell's
// thread, for seconds: it gets a quick look at once and its whole check on a
// thread of its own; damage found there is marked beside the file and acted
// on at the next process's first open.
constexpr std::uint64_t kCheckAtOnceBytes = std::uint64_t{4} << 20;

std::uint64_t DatabaseBytes(sqlite3* db) {
  std::string pages, size;
  if (QueryText(db, "PRAGMA page_count", pages) != SQLITE_OK || QueryText(db, "PRAGMA page_size", size) != SQLITE_OK)
    return 0;
  return std::strtoull(pages.c_str(), nullptr, 10) * std::strtoull(size.c_str(), nullptr, 10);
}

// The schema can be read: page 1 and the file's header are sound.
Health QuickLook(sqlite3* db, const std::string& path) {
  std::string count;
  const int rc = QueryText(db, "select count(*) from sqlite_master", count);
  const int primary = rc & 0xff;
  if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) {
    VD_SERVICE_LOG(kLogError, "%s is not a sound database (%d %s)", path.c_str(), rc, sqlite3_errmsg(db));
    return Health::kDamaged;
  }
  return rc == SQLITE_OK ? Health::kGood : Health::kUnknown;
}

std::string DamageMark(const std::string& path) { return path + ".damaged"; }

bool IsMarkedDamaged(const std::string& path) {
  if (std::FILE* f = std::fopen(DamageMark(path).c_str(), "rb")) {
    std::fclose(f);
    return true;
  }
  return false;
}

// Whole-file checks of large files, one thread each; stopped (interrupted
// and joined) when the library goes away.
class BackgroundChecks {
 public:
  ~BackgroundChecks() {
    std::lock_guard lock(mutex_);
    for (auto& check : checks_) {
      if (sqlite3* db = check->db.load()) sqlite3_interrupt(db);
    }
    for (auto& check : checks_) check->thread.join();
  }

  void Start(const std::string& path) {
    auto check = std::make_unique<Running>();
    Running* running = check.get();
    std::lock_guard lock(mutex_);
    try {
      running->thread = std::thread([running, path] { Run(*running, path); });
      checks_.push_back(std::move(check));
    } catch (const std::system_error&) {
      VD_SERVICE_LOG(kLogWarn, "%s: no thread for its check; it is not checked in this process", path.c_str());
    }
  }

 private:
  struct Running {
    std::thread thread;
    std::atomic<sqlite3*> db{nullptr};
  };

  static void Run(Running& running, const std::string& path) {
    try {
      UniqueDb db = Open(path);
      if (!db) return;
      running.db = db->db;
      if (Check(db->db, path) == Health::kDamaged) {
        if (std::FILE* f = std::fopen(DamageMark(path).c_str(), "wb")) std::fclose(f);
        VD_SERVICE_LOG(kLogError, "%s is damaged; it is set aside at the next start", path.c_str());
      }
      running.db = nullptr;
    } catch (...) {
      running.db = nullptr;
    }
  }

  std::mutex mutex_;
  std::vector<std::unique_ptr<Running>> checks_;
};

BackgroundChecks& Background() {
  static BackgroundChecks checks;
  return checks;
}

// Files checked by this process; the check runs under the lock so no other
// connection of the process has the file open while it may be moved.
std::mutex g_checkedMutex;
std::set<std::string> g_checked;

// Checks the file on its first open in this process and puts it in WAL mode.
bool FirstOpenChecks(UniqueDb& db, const std::string& path) {
  std::lock_guard lock(g_checkedMutex);
  if (g_checked.count(path)) return true;
  const bool marked = IsMarkedDamaged(path);
  const bool whole = marked || DatabaseBytes(db->db) <= kCheckAtOnceBytes;
  Health health = marked ? Health::kDamaged : whole ? Check(db->db, path) : QuickLook(db->db, path);
  if (marked) std::remove(DamageMark(path).c_str());
  switch (health) {
    case Health::kGood:
      break;
    case Health::kDamaged:
      db.reset();
      MoveAside(path);
      return false;
    case Health::kUnknown:
      return false;
  }
  std::string mode;
  const int rc = QueryText(db->db, "PRAGMA journal_mode=WAL", mode);
  if (rc != SQLITE_OK || mode != "wal")
    VD_SERVICE_LOG(kLogWarn, "%s stays in journal mode '%s' (%d)", path.c_str(), mode.c_str(), rc);
  g_checked.insert(path);
  if (!whole) Background().Start(path);
  return true;
}

SQLConnection* GetConnectionImpl(const char* driver, const char* path) {
  if (!driver || std::strcmp(driver, "sqlite3") != 0 || !path || !*path) {
    VD_SERVICE_LOG(kLogError, "unsupported connection request: driver '%s'", driver ? driver : "(null)");
    return nullptr;
  }
  UniqueDb db = Open(path);
  if (!db || !FirstOpenChecks(db, path)) return nullptr;
  // Per connection: WAL makes NORMAL durable up to the last checkpointed
  // commit and never corrupting; foreign keys are not used by the caches.
  sqlite3_exec(db->db, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=OFF", nullptr, nullptr, nullptr);
  return new Connection(std::shared_ptr<DbHandle>(std::move(db)));
}

}  // namespace
}  // namespace vd::service

SQLConnection* SQLConnectionFactory::GetConnection(const char* driver, const char* path, const char*, const char*) {
  try {
    return vd::service::GetConnectionImpl(driver, path);
  } catch (...) {
    return nullptr;
  }
}
