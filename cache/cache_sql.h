#pragma once
// The cache tables of cache.db and the record-level statements on them. Every
// statement text is fixed; callers hold one connection per unit of work.
#include <string>
#include <vector>

#include "cloud_sdk_records.h"
#include "service/sql.h"

namespace vdcache {

// Start-up statements, in the order they run; failures are expected for the
// ALTERs on every start after the first and do not stop the sequence.
extern const char* const kCatalogCacheSchema[4];
extern const char* const kShareCacheSchema[7];
extern const char* const kBreviarySchema;

// One row of catalogs / contents as loaded: the parent ID and the record.
struct CatalogRow {
  std::string parentID;
  CatalogInfo info;
};
struct ContentRow {
  std::string parentID;
  ContentInfo info;
};
// Share-table rows carry the sharer beside the record.
struct ShareCatalogRow {
  std::string parentID;
  std::string sharerID;
  CatalogInfo info;
};
struct ShareContentRow {
  std::string parentID;
  std::string sharerID;
  ContentInfo info;
};

// Runs each statement with one plain statement. False when the plain
// statement could not be created; individual failures are ignored.
bool RunSchema(SQLConnection* connection, const char* const* statements, int count);

// Each returns the execute result, or -1 when the statement did not prepare.
int AddCatalog(SQLConnection* connection, const std::string& parentID, const CatalogInfo& info);
int AddContent(SQLConnection* connection, const std::string& parentID, const ContentInfo& info);
int DeleteRecordByID(SQLConnection* connection, const std::string& parentID, const std::string& id,
                     bool isCatalog);
int DeleteRecordByParentID(SQLConnection* connection, const std::string& parentID, bool isCatalog);

// Loads append to `rows`; a failed prepare or query leaves them as they were.
void GetAllCatalog(SQLConnection* connection, std::vector<CatalogRow>& rows);
void GetAllContent(SQLConnection* connection, std::vector<ContentRow>& rows);

// Share tables: strSharee is the signed-in account.
int AddShareCatalog(SQLConnection* connection, const std::string& parentID, const std::string& sharerID,
                    const std::string& sharee, const CatalogInfo& info);
int AddShareContent(SQLConnection* connection, const std::string& parentID, const std::string& sharerID,
                    const std::string& sharee, const ContentInfo& info);
int DeleteShareRecordByID(SQLConnection* connection, const std::string& parentID, const std::string& id,
                          bool isCatalog);
int DeleteShareRecordByParentID(SQLConnection* connection, const std::string& parentID, bool isCatalog);
void GetAllShareCatalog(SQLConnection* connection, std::vector<ShareCatalogRow>& rows);
void GetAllShareContent(SQLConnection* connection, std::vector<ShareContentRow>& rows);

}  // namespace vdcache
