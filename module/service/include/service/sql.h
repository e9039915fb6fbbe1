#pragma once
// The service library's database layer, as the product uses it. Objects come
// from the library and go back with their release(); never delete them. The
// virtual-table order of every class is part of the library's binary contract.
#include "service/service_api.h"

class SQLResultSet {
 public:
  // Non-zero while a row is available; called once before the first row.
  virtual int next() = 0;
  // Columns count from 0. A NULL value reads as 0.
  virtual int getInt(int column) = 0;
  // Copies at most size-1 bytes and a NUL; NULL reads as "". 0 on success.
  virtual int getString(int column, char* buffer, int size) = 0;
  virtual void release() = 0;

 protected:
  ~SQLResultSet() = default;
};

class SQLPreparedStatement {
 public:
  // Positions count from 1; unbound positions are NULL. length -1: up to NUL.
  // Return 0 on success.
  virtual int bindText(int index, const char* text, int length) = 0;
  virtual int bindInt(int index, int value) = 0;
  virtual int execute() = 0;
  // Null when the query fails. The result set stays valid after release().
  virtual SQLResultSet* executeQuery() = 0;
  virtual void release() = 0;

 protected:
  ~SQLPreparedStatement() = default;
};

class SQLStatement {
 public:
  // Runs sql (flags: 0). 0 on success.
  virtual int execute(const char* sql, int flags) = 0;
  virtual void release() = 0;

 protected:
  ~SQLStatement() = default;
};

// One connection serves one unit of work on one thread.
class SQLConnection {
 public:
  virtual void release() = 0;
  // Takes the write lock at once, waiting for other writers up to a timeout.
  virtual int beginTransaction() = 0;
  virtual int commit() = 0;
  virtual SQLStatement* createStatement() = 0;
  // Null when sql does not compile.
  virtual SQLPreparedStatement* prepareStatement(const char* sql) = 0;

 protected:
  ~SQLConnection() = default;
};

class SQLConnectionFactory {
 public:
  // driver "sqlite3"; path in the ANSI code page; user and password unused.
  // Null when the file cannot be opened or is damaged (a damaged file is
  // moved aside, never deleted; see the library for the rule).
  VD_SERVICE_API static SQLConnection* GetConnection(const char* driver, const char* path,
                                                     const char* user, const char* password);
};
