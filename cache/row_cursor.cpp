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

// One kind of a parent's rows, its query stepped a page at a time.
template <class Record>
class FileStep {
 public:
  using Query = SQLResultSetPtr (*)(SQLConnection*, const std::string&);
  using Pack = bool (*)(SQLResultSet*, RowPage<Record>&);
  FileStep(Query query, Pack pack) : m_query(query), m_pack(pack) {}

  std::shared_ptr<const RowPage<Record>> Next(SQLConnection* connection, const std::string& parentID) {
    if (m_done) return nullptr;
    if (!m_rows) m_rows = m_query(connection, parentID);
    auto page = std::make_shared<RowPage<Record>>();
    while (m_rows && page->Count() < kFilePageRows && m_pack(m_rows.get(), *page)) {
    }
    if (page->Count() < kFilePageRows) {
      m_done = true;
      m_rows.reset();
    }
    return page->Count() > 0 ? page : nullptr;
  }

 private:
  Query m_query;
  Pack m_pack;
  SQLResultSetPtr m_rows;
  bool m_done = false;
};

class FileRows final : public RowCursor {
 public:
  FileRows(SQLConnectionPtr connection, std::string parentID, std::function<void()> stepped)
      : m_connection(std::move(connection)), m_parentID(std::move(parentID)), m_stepped(std::move(stepped)) {}

  std::shared_ptr<const RowPage<CatalogInfo>> NextCatalogs() override {
    return Stepped(m_catalogs.Next(m_connection.get(), m_parentID));
  }
  std::shared_ptr<const RowPage<ContentInfo>> NextContents() override {
    return Stepped(m_contents.Next(m_connection.get(), m_parentID));
  }

 private:
  template <class Page>
  Page Stepped(Page page) {
    if (m_stepped) m_stepped();
    return page;
  }

  SQLConnectionPtr m_connection;
  std::string m_parentID;
  std::function<void()> m_stepped;
  FileStep<CatalogInfo> m_catalogs{&QueryCatalogRows, &PackNextCatalog};
  FileStep<ContentInfo> m_contents{&QueryContentRows, &PackNextContent};
};

}  // namespace

std::unique_ptr<RowCursor> SnapshotCursor(std::shared_ptr<const CatalogChildren> children) {
  return std::make_unique<SnapshotRows>(std::move(children));
}

std::unique_ptr<RowCursor> FileCursor(const std::string& dbPath, const std::string& parentID,
                                      std::function<void()> stepped) {
  SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str());
  if (!connection) return nullptr;
  // Stepping a large folder reads most of the file's pages once: mapped,
  // they cost no read call each, which under Wine halves a 100,000-entry
  // folder. Nothing shrinks cache.db (no vacuum), which a mapped view of
  // another connection would stop on Windows.
  static const char* const kMapped[] = {"PRAGMA mmap_size=268435456"};
  RunSchema(connection.get(), kMapped, 1);
  return std::make_unique<FileRows>(std::move(connection), parentID, std::move(stepped));
}

}  // namespace vdcache
