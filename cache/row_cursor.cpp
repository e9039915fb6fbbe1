#include "row_cursor.h"

#include "cache_sql.h"
#include "service/sql_ptr.h"

namespace vdcache {
namespace {

class SnapshotRows final : public RowCursor {
 public:
  explicit SnapshotRows(std::shared_ptr<const CatalogChildren> children) : m_children(std::move(children)) {
    if (m_children) {
      m_children->catalogs.ForEachPage([&](const auto& page) { m_catalogs.push_back(page); });
      m_children->contents.ForEachPage([&](const auto& page) { m_contents.push_back(page); });
    }
  }
  std::shared_ptr<const RowPage<CatalogInfo>> NextCatalogs() override {
    return m_nextCatalog < m_catalogs.size() ? m_catalogs[m_nextCatalog++] : nullptr;
  }
  std::shared_ptr<const RowPage<ContentInfo>> NextContents() override {
    return m_nextContent < m_contents.size() ? m_contents[m_nextContent++] : nullptr;
  }

 private:
  std::shared_ptr<const CatalogChildren> m_children;
  std::vector<std::shared_ptr<const RowPage<CatalogInfo>>> m_catalogs;
  std::vector<std::shared_ptr<const RowPage<ContentInfo>>> m_contents;
  std::size_t m_nextCatalog = 0, m_nextContent = 0;
};

// Pages are small: the first one is what the reader waits for.
constexpr std::size_t kFilePageRows = 256;

class FileRows final : public RowCursor {
 public:
  FileRows(SQLConnectionPtr connection, std::string parentID)
      : m_connection(std::move(connection)), m_parentID(std::move(parentID)) {}

  std::shared_ptr<const RowPage<CatalogInfo>> NextCatalogs() override {
    if (m_catalogsDone) return nullptr;
    if (!m_catalogRows) m_catalogRows = QueryCatalogRows(m_connection.get(), m_parentID);
    auto page = std::make_shared<RowPage<CatalogInfo>>();
    while (m_catalogRows && page->Count() < kFilePageRows && PackNextCatalog(m_catalogRows.get(), *page)) {
    }
    if (page->Count() < kFilePageRows) {
      m_catalogsDone = true;
      m_catalogRows.reset();
    }
    return page->Count() > 0 ? page : nullptr;
  }

  std::shared_ptr<const RowPage<ContentInfo>> NextContents() override {
    if (m_contentsDone) return nullptr;
    if (!m_contentRows) m_contentRows = QueryContentRows(m_connection.get(), m_parentID);
    auto page = std::make_shared<RowPage<ContentInfo>>();
    while (m_contentRows && page->Count() < kFilePageRows && PackNextContent(m_contentRows.get(), *page)) {
    }
    if (page->Count() < kFilePageRows) {
      m_contentsDone = true;
      m_contentRows.reset();
    }
    return page->Count() > 0 ? page : nullptr;
  }

 private:
  SQLConnectionPtr m_connection;
  std::string m_parentID;
  SQLResultSetPtr m_catalogRows, m_contentRows;
  bool m_catalogsDone = false, m_contentsDone = false;
};

}  // namespace

std::unique_ptr<RowCursor> SnapshotCursor(std::shared_ptr<const CatalogChildren> children) {
  return std::make_unique<SnapshotRows>(std::move(children));
}

std::unique_ptr<RowCursor> FileCursor(const std::string& dbPath, const std::string& parentID) {
  SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str());
  if (!connection) return nullptr;
  return std::make_unique<FileRows>(std::move(connection), parentID);
}

}  // namespace vdcache
