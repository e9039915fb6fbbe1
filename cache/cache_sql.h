#pragma once
// The cache tables of cache.db and the record-level statements on them. Every
// statement text is fixed; callers hold one connection per unit of work.
#include <string>
#include <vector>

#include "cloud_sdk_records.h"
#include "packed_rows.h"
#include "service/sql.h"
#include "service/sql_ptr.h"

namespace vdcache {

// Start-up statements, in the order they run; failures are expected for the
// ALTERs on every start after the first and do not stop the sequence.
extern const char* const kCatalogCacheSchema[4];
extern const char* const kShareCacheSchema[7];
extern const char* const kBreviarySchema;

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

// Packed loads: each row goes straight into the builder of its parent.
class IRowSink {
 public:
  virtual RowListBuilder<CatalogInfo>& Catalogs(const std::string& parentID) = 0;
  virtual RowListBuilder<ContentInfo>& Contents(const std::string& parentID) = 0;
  // Checked between rows: true ends the load early.
  virtual bool Stopping() { return false; }

 protected:
  ~IRowSink() = default;
};
// Every row of catalogs / contents; the number of rows read.
std::size_t LoadAllCatalogRows(SQLConnection* connection, IRowSink& sink);
std::size_t LoadAllContentRows(SQLConnection* connection, IRowSink& sink);
// The rows of one parent (served before the whole load is done).
std::size_t LoadCatalogRows(SQLConnection* connection, const std::string& parentID, RowListBuilder<CatalogInfo>& out);
std::size_t LoadContentRows(SQLConnection* connection, const std::string& parentID, RowListBuilder<ContentInfo>& out);
// One parent's rows for a reader that shows them (its first five layout
// fields only, the rest left empty), in stored order, and the packing of the
// next row into a page (false when there is none).
SQLResultSetPtr QueryCatalogRows(SQLConnection* connection, const std::string& parentID);
SQLResultSetPtr QueryContentRows(SQLConnection* connection, const std::string& parentID);
bool PackNextCatalog(SQLResultSet* rs, RowPage<CatalogInfo>& page);
bool PackNextContent(SQLResultSet* rs, RowPage<ContentInfo>& page);
// Indexes on the parent columns, so one parent's rows are found without a scan.
extern const char* const kParentIndexes[2];

// Share tables: strSharee is the signed-in account.
int AddShareCatalog(SQLConnection* connection, const std::string& parentID, const std::string& sharerID,
                    const std::string& sharee, const CatalogInfo& info);
int AddShareContent(SQLConnection* connection, const std::string& parentID, const std::string& sharerID,
                    const std::string& sharee, const ContentInfo& info);
int DeleteShareRecordByID(SQLConnection* connection, const std::string& parentID, const std::string& id,
                          bool isCatalog);
int DeleteShareRecordByParentID(SQLConnection* connection, const std::string& parentID, bool isCatalog);
// Loads append to `rows`; a failed prepare or query leaves them as they were.
void GetAllShareCatalog(SQLConnection* connection, std::vector<ShareCatalogRow>& rows);
void GetAllShareContent(SQLConnection* connection, std::vector<ShareContentRow>& rows);
// One parent's rows, in stored order.
void GetShareCatalogsOf(SQLConnection* connection, const std::string& parentID, std::vector<ShareCatalogRow>& rows);
void GetShareContentsOf(SQLConnection* connection, const std::string& parentID, std::vector<ShareContentRow>& rows);
extern const char* const kShareParentIndexes[2];

}  // namespace vdcache
