#pragma once
// Thin RAII layer over the SQLite C API: one connection, prepared statements,
// and a transaction guard that rolls back unless committed.
#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cloudserver {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class StatementCache;

class Statement {
 public:
  // Takes a prepared statement of that text from `cache` when one is idle.
  Statement(sqlite3* db, std::string_view sql, StatementCache* cache = nullptr);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int pos, std::string_view text);
  Statement& Bind(int pos, int64_t value);
  Statement& Bind(int pos, int value) { return Bind(pos, static_cast<int64_t>(value)); }
  // Binds 1..N in order.
  template <typename... Args>
  Statement& BindAll(const Args&... args) {
    int pos = 1;
    (BindOne(pos++, args), ...);
    return *this;
  }

  // True while a row is available.
  bool Step();
  // Runs to completion; returns the number of rows changed.
  int Run();
  void Reset();

  std::string Text(int col) const;
  int64_t Int(int col) const;
  bool IsNull(int col) const;

 private:
  void BindOne(int pos, std::string_view v) { Bind(pos, v); }
  void BindOne(int pos, const std::string& v) { Bind(pos, std::string_view(v)); }
  void BindOne(int pos, const char* v) { Bind(pos, std::string_view(v)); }
  void BindOne(int pos, int64_t v) { Bind(pos, v); }
  void BindOne(int pos, int v) { Bind(pos, static_cast<int64_t>(v)); }
  void BindOne(int pos, uint64_t v) { Bind(pos, static_cast<int64_t>(v)); }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  StatementCache* cache_ = nullptr;
  std::string sql_;
};

// Idle prepared statements by their text: a listing asks the same few
// questions for every row it answers, and preparing costs more than running.
class StatementCache {
 public:
  StatementCache() = default;
  ~StatementCache();
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;
  sqlite3_stmt* Take(const std::string& sql);
  // Keeps a reset statement for the next user, or finalizes it when enough wait.
  void Give(const std::string& sql, sqlite3_stmt* stmt);

 private:
  static constexpr std::size_t kIdlePerText = 4;
  std::mutex lock_;
  std::unordered_map<std::string, std::vector<sqlite3_stmt*>> idle_;
};

class Database {
 public:
  explicit Database(const std::string& path);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Exec(std::string_view sql);
  Statement Prepare(std::string_view sql) { return Statement(db_, sql, &cache_); }
  int64_t Changes() const { return sqlite3_changes64(db_); }
  // Rows written through this connection since it opened: unchanged means
  // nothing was written meanwhile.
  int64_t TotalChanges() const { return sqlite3_total_changes64(db_); }

  // Single-value helpers.
  std::optional<std::string> QueryText(std::string_view sql, std::string_view arg);
  int64_t QueryInt(std::string_view sql, std::string_view arg);

  // Replaces every row of `to` with those of `from` (SQLite's online backup).
  static void Copy(Database& from, Database& to);

 private:
  sqlite3* db_ = nullptr;
  StatementCache cache_;
};

// Rolls back on scope exit unless Commit() ran, so an error thrown half-way
// leaves the database as it was.
class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!done_) {
      try {
        db_.Exec("ROLLBACK");
      } catch (...) {
      }
    }
  }
  void Commit() {
    db_.Exec("COMMIT");
    done_ = true;
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace cloudserver
