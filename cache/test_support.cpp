#include "test_support.h"

#include <cstdio>

#include <sqlite3.h>

namespace vdcache::test {

CatalogInfo MakeCatalog(const std::string& id, const std::string& name, const std::string& updatetime) {
  CatalogInfo c;
  c.catalogID = id;
  c.catalogName = name;
  c.catalogType = "0";
  c.isShared = "0";
  c.createtime = "20230101000000";
  c.updatetime = updatetime;
  c.catalogLevel = "1";
  c.shareDoneeCount = "0";
  c.ETagOprType = "0";
  c.openType = "0";
  c.dirEtag = "7";
  c.tombstoned = "0";
  c.proxyID = "px-" + id;
  c.moved = 1;
  c.isFixedDir = 2;
  c.isSynced = 3;
  c.shareType = "0";
  return c;
}

ContentInfo MakeContent(const std::string& id, const std::string& name, const std::string& updateTime) {
  ContentInfo c;
  c.contentID = id;
  c.contentName = name;
  c.contentSize = "1234";
  c.contentDesc = "desc";
  c.contentType = "1";
  c.isShared = "0";
  c.thumbnailURL = "/thumb/" + id;
  c.updateTime = updateTime;
  c.contentOrigin = "0";
  c.safestate = "0";
  c.bigthumbnailURL = "big";
  c.presentURL = "present";
  c.presentLURL = "L-never-stored";
  c.presentHURL = "H-never-stored";
  c.contentTAGList = "tags-never-stored";
  c.commentCount = "5";
  c.uploadTime = "20230102000000";
  c.updateShareTime = "never";
  c.shareDoneeCount = "0";
  c.isFocusContent = "0";
  c.ETagOprType = "1";
  c.contentSuffix = "jpg";
  c.transferstate = "0";
  c.openType = "0";
  c.auditResult = "0";
  c.channel = "ch";
  c.geoLocFlag = "0";
  c.digest = "d41d8cd98f00b204e9800998ecf8427e";
  c.version = "never";
  c.fileEtag = "never";
  c.midthumbnailURL = "never";
  c.tombstoned = "0";
  c.fileVersion = "2";
  c.proxyID = "px";
  c.moved = 4;
  c.shareType = "0";
  return c;
}

std::vector<std::string> QueryRows(const std::string& dbPath, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return rows;
  }
  // The cache may be writing (its load builds indexes): wait as it would.
  sqlite3_busy_timeout(db, 30000);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "query did not prepare: %s: %s\n", sqlite3_errmsg(db), sql.c_str());
  } else {
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        if (i) row += "|";
        const unsigned char* t = sqlite3_column_text(st, i);
        row += t ? reinterpret_cast<const char*>(t) : "<null>";
      }
      rows.push_back(row);
    }
    if (rc != SQLITE_DONE) std::fprintf(stderr, "query failed: %s: %s\n", sqlite3_errmsg(db), sql.c_str());
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

}  // namespace vdcache::test
