#pragma once
// Owners for the database objects: they go back through release().
#include <memory>

#include "service/sql.h"

struct SQLReleaser {
  template <class T>
  void operator()(T* object) const noexcept {
    object->release();
  }
};

using SQLConnectionPtr = std::unique_ptr<SQLConnection, SQLReleaser>;
using SQLStatementPtr = std::unique_ptr<SQLStatement, SQLReleaser>;
using SQLPreparedStatementPtr = std::unique_ptr<SQLPreparedStatement, SQLReleaser>;
using SQLResultSetPtr = std::unique_ptr<SQLResultSet, SQLReleaser>;

inline SQLConnectionPtr OpenSQLConnection(const char* path) {
  return SQLConnectionPtr(SQLConnectionFactory::GetConnection("sqlite3", path, nullptr, nullptr));
}
