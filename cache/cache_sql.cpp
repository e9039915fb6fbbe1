#include "cache_sql.h"

#include <charconv>
#include <cstdint>

#include "service/sql_ptr.h"

namespace vdcache {
namespace {

constexpr const char* kCreateCatalogs =
    "create table if not exists catalogs(parentID char(32),catalogID char(32),catalogName varchar(256),"
    "catalogType int,createtime char(14),updatetime char(14),isShared int,catalogLevel int,"
    "shareDoneeCount int,ETagOprType int,openType int,dirEtag int,tombstoned int,proxyID char(40),"
    "moved int,isFixedDir int,isSynced int)";
constexpr const char* kCreateContents =
    "create table if not exists contents(parentID char(32),contentID char(32),contentName varchar(256),"
    "contentSuffix varchar(10),contentSize int,contentDesc varchar(256),isShared int,contentType int,"
    "contentOrigin int,updateTime char(14),commentCount int,thumbnailURL varchar(1024),"
    "bigthumbnailURL varchar(1024),presentURL varchar(1024),presentLURL varchar(1024),"
    "presentHURL varchar(1024),contentTAGList varchar(256),shareDoneeCount int,safestate int,"
    "transferstate int,isFocusContent int,updateShareTime char(14),uploadTime char(14),ETagOprType int,"
    "openType int,auditResult int,channel varchar(32),geoLocFlag char(1),digest varchar(128),"
    "version varchar(256),fileEtag int,fileVersion int,tombstoned int,proxyID char(40),moved int,"
    "midthumbnailURL varchar(1024))";
constexpr const char* kCreateShareCatalogs =
    "create table if not exists sfCatalogs(parentID char(32),catalogID char(32),catalogName varchar(256),"
    "catalogType int,createtime char(14),updatetime char(14),isShared int,catalogLevel int,"
    "shareDoneeCount int,ETagOprType int,openType int,dirEtag int,tombstoned int,proxyID char(40),"
    "moved int,isFixedDir int,isSynced int,SharerID string)";
constexpr const char* kCreateShareContents =
    "create table if not exists sfContents(parentID char(32),contentID char(32),contentName varchar(256),"
    "contentSuffix varchar(10),contentSize int,contentDesc varchar(256),isShared int,contentType int,"
    "contentOrigin int,updateTime char(14),commentCount int,thumbnailURL varchar(1024),"
    "bigthumbnailURL varchar(1024),presentURL varchar(1024),presentLURL varchar(1024),"
    "presentHURL varchar(1024),contentTAGList varchar(256),shareDoneeCount int,safestate int,"
    "transferstate int,isFocusContent int,updateShareTime char(14),uploadTime char(14),ETagOprType int,"
    "openType int,auditResult int,channel varchar(32),geoLocFlag char(1),digest varchar(128),"
    "version varchar(256),fileEtag int,fileVersion int,tombstoned int,proxyID char(40),moved int,"
    "midthumbnailURL varchar(1024),SharerID string)";

// Positions of the record fields, shared by the plain and the share tables
// (the share tables append their own columns after these).
struct CatalogText {
  int position;
  std::string CatalogInfo::*field;
};
constexpr CatalogText kCatalogText[] = {
    {3, &CatalogInfo::catalogName}, {4, &CatalogInfo::catalogType},     {5, &CatalogInfo::createtime},
    {6, &CatalogInfo::updatetime},  {7, &CatalogInfo::isShared},        {8, &CatalogInfo::catalogLevel},
    {9, &CatalogInfo::shareDoneeCount}, {10, &CatalogInfo::ETagOprType}, {11, &CatalogInfo::openType},
    {12, &CatalogInfo::dirEtag},    {13, &CatalogInfo::tombstoned},     {14, &CatalogInfo::proxyID},
};
struct CatalogInt {
  int position;
  std::int32_t CatalogInfo::*field;
};
constexpr CatalogInt kCatalogInt[] = {
    {15, &CatalogInfo::moved}, {16, &CatalogInfo::isFixedDir}, {17, &CatalogInfo::isSynced}};

struct ContentText {
  int position;
  std::string ContentInfo::*field;
};
// Positions 15, 16, 17, 22, 30, 31 and 36 are never written or read.
constexpr ContentText kContentText[] = {
    {3, &ContentInfo::contentName},      {4, &ContentInfo::contentSuffix},  {5, &ContentInfo::contentSize},
    {6, &ContentInfo::contentDesc},      {7, &ContentInfo::isShared},       {8, &ContentInfo::contentType},
    {9, &ContentInfo::contentOrigin},    {10, &ContentInfo::updateTime},    {11, &ContentInfo::commentCount},
    {12, &ContentInfo::thumbnailURL},    {13, &ContentInfo::bigthumbnailURL}, {14, &ContentInfo::presentURL},
    {18, &ContentInfo::shareDoneeCount}, {19, &ContentInfo::safestate},     {20, &ContentInfo::transferstate},
    {21, &ContentInfo::isFocusContent},  {23, &ContentInfo::uploadTime},    {24, &ContentInfo::ETagOprType},
    {25, &ContentInfo::openType},        {26, &ContentInfo::auditResult},   {27, &ContentInfo::channel},
    {28, &ContentInfo::geoLocFlag},      {29, &ContentInfo::digest},        {32, &ContentInfo::fileVersion},
    {33, &ContentInfo::tombstoned},      {34, &ContentInfo::proxyID},
};
constexpr int kContentMoved = 35;

constexpr int kTextBuffer = 2048;

int BindCatalog(SQLPreparedStatement* st, const std::string& parentID, const CatalogInfo& info) {
  st->bindText(1, parentID.c_str(), -1);
  st->bindText(2, info.catalogID.c_str(), -1);
  for (const auto& c : kCatalogText) st->bindText(c.position, (info.*c.field).c_str(), -1);
  for (const auto& c : kCatalogInt) st->bindInt(c.position, info.*c.field);
  return 0;
}

void BindContent(SQLPreparedStatement* st, const std::string& parentID, const ContentInfo& info) {
  st->bindText(1, parentID.c_str(), -1);
  st->bindText(2, info.contentID.c_str(), -1);
  for (const auto& c : kContentText) st->bindText(c.position, (info.*c.field).c_str(), -1);
  st->bindInt(kContentMoved, info.moved);
}

std::string Text(SQLResultSet* rs, int column, char* buffer) {
  buffer[0] = '\0';
  rs->getString(column, buffer, kTextBuffer);
  return std::string(buffer);
}

// Result-set columns count from 0, bind positions from 1.
void ReadCatalog(SQLResultSet* rs, CatalogInfo& info, char* buffer) {
  info.catalogID = Text(rs, 1, buffer);
  for (const auto& c : kCatalogText) info.*c.field = Text(rs, c.position - 1, buffer);
  for (const auto& c : kCatalogInt) info.*c.field = rs->getInt(c.position - 1);
}

void ReadContent(SQLResultSet* rs, ContentInfo& info, char* buffer) {
  info.contentID = Text(rs, 1, buffer);
  for (const auto& c : kContentText) info.*c.field = Text(rs, c.position - 1, buffer);
  info.moved = rs->getInt(kContentMoved - 1);
}

int Execute(SQLPreparedStatementPtr& st) { return st->execute(); }

// Result columns of the packed layout's fields, in layout order; -1 for a
// field the table does not keep.
template <class Record, class TextTable, class IntTable>
std::vector<int> LayoutColumns(const TextTable& texts, const IntTable& ints, std::string Record::*id,
                               std::string Record::*shareType, int shareTypeColumn) {
  std::vector<int> columns;
  for (auto field : RowLayout<Record>::TextFields()) {
    int column = -1;
    if (field == id) column = 1;
    if (field == shareType) column = shareTypeColumn;
    for (const auto& t : texts)
      if (t.field == field) column = t.position - 1;
    columns.push_back(column);
  }
  for (auto field : RowLayout<Record>::IntFields()) {
    int column = -1;
    for (const auto& t : ints)
      if (t.field == field) column = t.position - 1;
    columns.push_back(column);
  }
  return columns;
}

struct ContentMoved {
  int position;
  std::int32_t ContentInfo::*field;
};
constexpr ContentMoved kContentInt[] = {{kContentMoved, &ContentInfo::moved}};

const std::vector<int>& CatalogColumns() {
  static const std::vector<int> columns = LayoutColumns<CatalogInfo>(
      kCatalogText, kCatalogInt, &CatalogInfo::catalogID, &CatalogInfo::shareType, 17);
  return columns;
}

const std::vector<int>& ContentColumns() {
  static const std::vector<int> columns = LayoutColumns<ContentInfo>(
      kContentText, kContentInt, &ContentInfo::contentID, &ContentInfo::shareType, 36);
  return columns;
}

// The current row's field f (layout order) as text, in `buffer` or `number`.
template <class Record>
std::string_view RowField(SQLResultSet* rs, const std::vector<int>& columns, std::size_t f, char* buffer,
                          char (&number)[16]) {
  const int column = columns[f];
  if (column < 0) return {};
  if (f >= RowLayout<Record>::TextFields().size()) {
    const int value = rs->getInt(column);
    if (value == 0) return {};
    const auto end = std::to_chars(number, number + sizeof number, value).ptr;
    return std::string_view(number, static_cast<std::size_t>(end - number));
  }
  buffer[0] = '\0';
  rs->getString(column, buffer, kTextBuffer);
  return std::string_view(buffer);
}

// Steps the result set and packs each row into the builder `builderFor`
// names for its parent (column 0).
template <class Record, class BuilderFor>
std::size_t PackRows(SQLResultSet* rs, const std::vector<int>& columns, BuilderFor&& builderFor) {
  std::vector<char> buffer(kTextBuffer);
  char number[16];
  std::string parent;
  std::size_t rows = 0;
  while (rs->next()) {
    buffer[0] = '\0';
    rs->getString(0, buffer.data(), kTextBuffer);
    parent.assign(buffer.data());
    RowListBuilder<Record>* builder = builderFor(parent);
    if (builder == nullptr) break;
    builder->AppendFields([&](std::size_t f) { return RowField<Record>(rs, columns, f, buffer.data(), number); });
    ++rows;
  }
  return rows;
}

template <class Record>
bool PackNext(SQLResultSet* rs, const std::vector<int>& columns, RowPage<Record>& page) {
  if (!rs->next()) return false;
  char buffer[kTextBuffer];
  char number[16];
  page.AppendFields([&](std::size_t f) { return RowField<Record>(rs, columns, f, buffer, number); });
  return true;
}

int DeleteBy(SQLConnection* connection, const char* sql, const std::string& parentID, const std::string* id) {
  SQLPreparedStatementPtr st(connection->prepareStatement(sql));
  if (!st) return -1;
  int bound = st->bindText(1, parentID.c_str(), -1);
  if (id) bound = st->bindText(2, id->c_str(), -1);
  if (bound != 0) return bound;
  return Execute(st);
}

SQLResultSetPtr Query(SQLConnection* connection, const char* sql) {
  SQLPreparedStatementPtr st(connection->prepareStatement(sql));
  if (!st) return nullptr;
  return SQLResultSetPtr(st->executeQuery());
}

}  // namespace

const char* const kCatalogCacheSchema[4] = {
    kCreateCatalogs,
    kCreateContents,
    "ALTER TABLE catalogs ADD shareType char(40)",
    "ALTER TABLE contents ADD shareType char(40)",
};

const char* const kShareCacheSchema[7] = {
    kCreateShareCatalogs,
    kCreateShareContents,
    "ALTER TABLE sfCatalogs ADD shareType char(40)",
    "ALTER TABLE sfContents ADD shareType char(40)",
    "ALTER TABLE sfCatalogs ADD strSharee char(40)",
    "ALTER TABLE sfContents ADD strSharee char(40)",
    "ALTER TABLE sfCatalogs ADD Path char(1024)",
};

const char* const kParentIndexes[2] = {
    "create index if not exists catalogs_parentID on catalogs(parentID)",
    "create index if not exists contents_parentID on contents(parentID)",
};

const char* const kShareParentIndexes[2] = {
    "create index if not exists sfCatalogs_parentID on sfCatalogs(parentID)",
    "create index if not exists sfContents_parentID on sfContents(parentID)",
};

const char* const kBreviarySchema = "create table if not exists breviarys(breviaryID char(32),updatetime char(14))";

bool RunSchema(SQLConnection* connection, const char* const* statements, int count) {
  SQLStatementPtr plain(connection->createStatement());
  if (!plain) return false;
  for (int i = 0; i < count; ++i) plain->execute(statements[i], 0);
  return true;
}

int AddCatalog(SQLConnection* connection, const std::string& parentID, const CatalogInfo& info) {
  SQLPreparedStatementPtr st(
      connection->prepareStatement("insert into catalogs values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
  if (!st) return -1;
  BindCatalog(st.get(), parentID, info);
  st->bindText(18, info.shareType.c_str(), -1);
  return Execute(st);
}

int AddContent(SQLConnection* connection, const std::string& parentID, const ContentInfo& info) {
  SQLPreparedStatementPtr st(connection->prepareStatement(
      "insert into contents values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
  if (!st) return -1;
  BindContent(st.get(), parentID, info);
  st->bindText(37, info.shareType.c_str(), -1);
  return Execute(st);
}

int DeleteRecordByID(SQLConnection* connection, const std::string& parentID, const std::string& id,
                     bool isCatalog) {
  return DeleteBy(connection,
                  isCatalog ? "delete from catalogs where parentID = ? and catalogID = ? "
                            : "delete from contents where parentID = ? and contentID = ? ",
                  parentID, &id);
}

int DeleteRecordByParentID(SQLConnection* connection, const std::string& parentID, bool isCatalog) {
  return DeleteBy(connection,
                  isCatalog ? "delete from catalogs where parentID = ?" : "delete from contents where parentID = ?",
                  parentID, nullptr);
}

int AddShareCatalog(SQLConnection* connection, const std::string& parentID, const std::string& sharerID,
                    const std::string& sharee, const CatalogInfo& info) {
  SQLPreparedStatementPtr st(
      connection->prepareStatement("insert into sfCatalogs values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
  if (!st) return -1;
  BindCatalog(st.get(), parentID, info);
  st->bindText(18, sharerID.c_str(), -1);
  st->bindText(19, info.shareType.c_str(), -1);
  st->bindText(20, sharee.c_str(), -1);
  st->bindText(21, info.path.c_str(), -1);
  return Execute(st);
}

int AddShareContent(SQLConnection* connection, const std::string& parentID, const std::string& sharerID,
                    const std::string& sharee, const ContentInfo& info) {
  SQLPreparedStatementPtr st(connection->prepareStatement(
      "insert into sfContents values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
  if (!st) return -1;
  BindContent(st.get(), parentID, info);
  st->bindText(37, sharerID.c_str(), -1);
  st->bindText(38, info.shareType.c_str(), -1);
  st->bindText(39, sharee.c_str(), -1);
  return Execute(st);
}

int DeleteShareRecordByID(SQLConnection* connection, const std::string& parentID, const std::string& id,
                          bool isCatalog) {
  return DeleteBy(connection,
                  isCatalog ? "delete from sfCatalogs where parentID = ? and catalogID = ? "
                            : "delete from sfContents where parentID = ? and contentID = ? ",
                  parentID, &id);
}

int DeleteShareRecordByParentID(SQLConnection* connection, const std::string& parentID, bool isCatalog) {
  return DeleteBy(connection,
                  isCatalog ? "delete from sfCatalogs where parentID = ?" : "delete from sfContents where parentID = ?",
                  parentID, nullptr);
}

namespace {

SQLResultSetPtr QueryShareRows(SQLConnection* connection, const char* table, const std::string* parentID) {
  const std::string sql = std::string("select * from ") + table + (parentID ? " where parentID = ? order by rowid" : "");
  SQLPreparedStatementPtr st(connection->prepareStatement(sql.c_str()));
  if (!st || (parentID && st->bindText(1, parentID->c_str(), -1) != 0)) return nullptr;
  return SQLResultSetPtr(st->executeQuery());
}

void ReadShareCatalogs(SQLConnection* connection, const std::string* parentID, std::vector<ShareCatalogRow>& rows) {
  SQLResultSetPtr rs = QueryShareRows(connection, "sfCatalogs", parentID);
  if (!rs) return;
  std::vector<char> buffer(kTextBuffer);
  while (rs->next()) {
    ShareCatalogRow& row = rows.emplace_back();
    row.parentID = Text(rs.get(), 0, buffer.data());
    ReadCatalog(rs.get(), row.info, buffer.data());
    row.info.parentCatalogID = row.parentID;
    row.sharerID = Text(rs.get(), 17, buffer.data());
    row.info.shareType = Text(rs.get(), 18, buffer.data());
    row.info.path = Text(rs.get(), 20, buffer.data());
  }
}

void ReadShareContents(SQLConnection* connection, const std::string* parentID, std::vector<ShareContentRow>& rows) {
  SQLResultSetPtr rs = QueryShareRows(connection, "sfContents", parentID);
  if (!rs) return;
  std::vector<char> buffer(kTextBuffer);
  while (rs->next()) {
    ShareContentRow& row = rows.emplace_back();
    row.parentID = Text(rs.get(), 0, buffer.data());
    ReadContent(rs.get(), row.info, buffer.data());
    row.sharerID = Text(rs.get(), 36, buffer.data());
    row.info.shareType = Text(rs.get(), 37, buffer.data());
  }
}

}  // namespace

void GetAllShareCatalog(SQLConnection* connection, std::vector<ShareCatalogRow>& rows) {
  ReadShareCatalogs(connection, nullptr, rows);
}

void GetAllShareContent(SQLConnection* connection, std::vector<ShareContentRow>& rows) {
  ReadShareContents(connection, nullptr, rows);
}

void GetShareCatalogsOf(SQLConnection* connection, const std::string& parentID, std::vector<ShareCatalogRow>& rows) {
  ReadShareCatalogs(connection, &parentID, rows);
}

void GetShareContentsOf(SQLConnection* connection, const std::string& parentID, std::vector<ShareContentRow>& rows) {
  ReadShareContents(connection, &parentID, rows);
}

std::size_t LoadAllCatalogRows(SQLConnection* connection, IRowSink& sink) {
  SQLResultSetPtr rs = Query(connection, "select * from catalogs");
  if (!rs) return 0;
  return PackRows<CatalogInfo>(rs.get(), CatalogColumns(), [&](const std::string& parent) {
    return sink.Stopping() ? nullptr : &sink.Catalogs(parent);
  });
}

std::size_t LoadAllContentRows(SQLConnection* connection, IRowSink& sink) {
  SQLResultSetPtr rs = Query(connection, "select * from contents");
  if (!rs) return 0;
  return PackRows<ContentInfo>(rs.get(), ContentColumns(), [&](const std::string& parent) {
    return sink.Stopping() ? nullptr : &sink.Contents(parent);
  });
}

namespace {

template <class Record>
std::size_t LoadParentRows(SQLConnection* connection, const char* sql, const std::vector<int>& columns,
                           const std::string& parentID, RowListBuilder<Record>& out) {
  SQLPreparedStatementPtr st(connection->prepareStatement(sql));
  if (!st || st->bindText(1, parentID.c_str(), -1) != 0) return 0;
  SQLResultSetPtr rs(st->executeQuery());
  if (!rs) return 0;
  return PackRows<Record>(rs.get(), columns, [&](const std::string&) { return &out; });
}

}  // namespace

namespace {

// A shown row needs the layout's first five fields (ID, update time, share
// type, name, type or size): the queries below read those, in that order.
template <class Record>
const std::vector<int>& ShownColumns() {
  static const std::vector<int> columns = [] {
    std::vector<int> c(RowLayout<Record>::FieldCount(), -1);
    for (int f = 0; f < 5; ++f) c[static_cast<std::size_t>(f)] = f;
    return c;
  }();
  return columns;
}

SQLResultSetPtr QueryParent(SQLConnection* connection, const char* sql, const std::string& parentID) {
  SQLPreparedStatementPtr st(connection->prepareStatement(sql));
  if (!st || st->bindText(1, parentID.c_str(), -1) != 0) return nullptr;
  return SQLResultSetPtr(st->executeQuery());
}

}  // namespace

SQLResultSetPtr QueryCatalogRows(SQLConnection* connection, const std::string& parentID) {
  return QueryParent(connection,
                     "select catalogID, updatetime, shareType, catalogName, catalogType from catalogs "
                     "where parentID = ? order by rowid",
                     parentID);
}

SQLResultSetPtr QueryContentRows(SQLConnection* connection, const std::string& parentID) {
  return QueryParent(connection,
                     "select contentID, updateTime, shareType, contentName, contentSize from contents "
                     "where parentID = ? order by rowid",
                     parentID);
}

bool PackNextCatalog(SQLResultSet* rs, RowPage<CatalogInfo>& page) {
  return PackNext<CatalogInfo>(rs, ShownColumns<CatalogInfo>(), page);
}

bool PackNextContent(SQLResultSet* rs, RowPage<ContentInfo>& page) {
  return PackNext<ContentInfo>(rs, ShownColumns<ContentInfo>(), page);
}


std::size_t LoadCatalogRows(SQLConnection* connection, const std::string& parentID, RowListBuilder<CatalogInfo>& out) {
  return LoadParentRows(connection, "select * from catalogs where parentID = ? order by rowid", CatalogColumns(),
                        parentID, out);
}

std::size_t LoadContentRows(SQLConnection* connection, const std::string& parentID, RowListBuilder<ContentInfo>& out) {
  return LoadParentRows(connection, "select * from contents where parentID = ? order by rowid", ContentColumns(),
                        parentID, out);
}

}  // namespace vdcache
