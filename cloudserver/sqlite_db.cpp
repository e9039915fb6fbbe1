#include "sqlite_db.h"

namespace cloudserver {

Statement::Statement(sqlite3* db, std::string_view sql, StatementCache* cache) : db_(db), cache_(cache), sql_(sql) {
  if (cache_) stmt_ = cache_->Take(sql_);
  if (stmt_) return;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    throw DbError(std::string("prepare: ") + sqlite3_errmsg(db) + ": " + std::string(sql));
  }
}

Statement::~Statement() {
  if (!stmt_) return;
  if (!cache_) {
    sqlite3_finalize(stmt_);
    return;
  }
  // Reset ends any read the statement held open, so a kept one pins nothing.
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  cache_->Give(sql_, stmt_);
}

StatementCache::~StatementCache() {
  for (auto& [sql, stmts] : idle_)
    for (sqlite3_stmt* stmt : stmts) sqlite3_finalize(stmt);
}

sqlite3_stmt* StatementCache::Take(const std::string& sql) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = idle_.find(sql);
  if (it == idle_.end() || it->second.empty()) return nullptr;
  sqlite3_stmt* stmt = it->second.back();
  it->second.pop_back();
  return stmt;
}

void StatementCache::Give(const std::string& sql, sqlite3_stmt* stmt) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<sqlite3_stmt*>& stmts = idle_[sql];
    if (stmts.size() < kIdlePerText) {
      stmts.push_back(stmt);
      return;
    }
  }
  sqlite3_finalize(stmt);
}

Statement& Statement::Bind(int pos, std::string_view text) {
  if (sqlite3_bind_text(stmt_, pos, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    throw DbError(std::string("bind: ") + sqlite3_errmsg(db_));
  return *this;
}

Statement& Statement::Bind(int pos, int64_t value) {
  if (sqlite3_bind_int64(stmt_, pos, value) != SQLITE_OK)
    throw DbError(std::string("bind: ") + sqlite3_errmsg(db_));
  return *this;
}

bool Statement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw DbError(std::string("step: ") + sqlite3_errmsg(db_));
}

int Statement::Run() {
  while (Step()) {
  }
  return sqlite3_changes(db_);
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::string Statement::Text(int col) const {
  const unsigned char* p = sqlite3_column_text(stmt_, col);
  if (!p) return {};
  return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, col)));
}

int64_t Statement::Int(int col) const { return sqlite3_column_int64(stmt_, col); }

bool Statement::IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

Database::Database(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
      SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw DbError("open " + path + ": " + msg);
  }
  sqlite3_busy_timeout(db_, 5000);
}

// The cache's statements are finalized after this body; close_v2 lets the
// connection go when the last of them does.
Database::~Database() { sqlite3_close_v2(db_); }

void Database::Exec(std::string_view sql) {
  char* err = nullptr;
  std::string s(sql);
  if (sqlite3_exec(db_, s.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "unknown";
    sqlite3_free(err);
    throw DbError("exec: " + msg);
  }
}

std::optional<std::string> Database::QueryText(std::string_view sql, std::string_view arg) {
  Statement st = Prepare(sql);
  st.Bind(1, arg);
  if (!st.Step()) return std::nullopt;
  return st.Text(0);
}

int64_t Database::QueryInt(std::string_view sql, std::string_view arg) {
  Statement st = Prepare(sql);
  st.Bind(1, arg);
  return st.Step() ? st.Int(0) : 0;
}

void Database::Copy(Database& from, Database& to) {
  sqlite3_backup* backup = sqlite3_backup_init(to.db_, "main", from.db_, "main");
  if (!backup) throw DbError(std::string("backup: ") + sqlite3_errmsg(to.db_));
  int rc = sqlite3_backup_step(backup, -1);
  // finish releases the handle whatever step answered.
  if (sqlite3_backup_finish(backup) != SQLITE_OK || rc != SQLITE_DONE)
    throw DbError(std::string("backup: ") + sqlite3_errmsg(to.db_));
}

}  // namespace cloudserver
