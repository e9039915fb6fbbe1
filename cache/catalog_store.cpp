#include "catalog_store.h"

#include <chrono>
#include <unordered_map>

#include "cache_sql.h"
#include "platform/clock.h"
#include "platform/fault.h"
#include "service/sql_ptr.h"
#include "thread_priority.h"
#include "trace.h"

namespace vdcache {

struct CatalogStore::LoadState {
  std::atomic<bool> stop{false};
  std::mutex doneLock;
  std::condition_variable doneSignal;
  bool done = false;
};

namespace {

// The rows of a load, collected per parent before they are published.
class LoadSink final : public IRowSink {
 public:
  LoadSink(const std::atomic<bool>& stop, const std::atomic<uint64_t>& lastFileReadMs)
      : m_stop(stop), m_lastFileReadMs(lastFileReadMs) {}
  RowListBuilder<CatalogInfo>& Catalogs(const std::string& parentID) override { return Builders(parentID).catalogs; }
  RowListBuilder<ContentInfo>& Contents(const std::string& parentID) override { return Builders(parentID).contents; }
  bool Stopping() override {
    // A reader stepping the file right now comes first; the load waits while
    // it does, a few seconds in all at most.
    if ((++m_rows & 0x3FF) == 0) {
      while (m_paused < kMaxPauseMs && !m_stop.load(std::memory_order_relaxed) &&
             platform::TickCountMs() - m_lastFileReadMs.load(std::memory_order_relaxed) < kReaderQuietMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPauseStepMs));
        m_paused += kPauseStepMs;
      }
    }
    return m_stop.load(std::memory_order_relaxed);
  }

  struct PerParent {
    RowListBuilder<CatalogInfo> catalogs;
    RowListBuilder<ContentInfo> contents;
  };
  std::unordered_map<std::string, PerParent>& Parents() { return m_parents; }

 private:
  // Rows of one parent mostly come one after another: the last one is kept
  // at hand instead of hashed again.
  PerParent& Builders(const std::string& parentID) {
    if (m_last == nullptr || m_lastID != parentID) {
      m_last = &m_parents[parentID];
      m_lastID = parentID;
    }
    return *m_last;
  }

  static constexpr uint64_t kReaderQuietMs = 30, kPauseStepMs = 5, kMaxPauseMs = 3000;
  const std::atomic<bool>& m_stop;
  const std::atomic<uint64_t>& m_lastFileReadMs;
  uint64_t m_rows = 0, m_paused = 0;
  std::unordered_map<std::string, PerParent> m_parents;
  PerParent* m_last = nullptr;
  std::string m_lastID;
};

ChildrenPtr Finish(RowListBuilder<CatalogInfo>& catalogs, RowListBuilder<ContentInfo>& contents) {
  auto children = std::make_shared<CatalogChildren>();
  catalogs.FinishInto(children->catalogs);
  contents.FinishInto(children->contents);
  if (children->Count() == 0) return nullptr;
  return children;
}

}  // namespace

CatalogStore::~CatalogStore() { Clear(); }

void CatalogStore::StartLoad(const std::string& dbPath, LoadedCallback loaded) {
  Clear();
  std::lock_guard<std::mutex> loader(m_loaderLock);
  auto state = std::make_shared<LoadState>();
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_dbPath = dbPath;
    m_load = state;
  }
  m_loading = true;
  try {
    m_loader = std::thread([this, state, loaded = std::move(loaded)]() mutable { RunLoad(state, std::move(loaded)); });
  } catch (const std::system_error&) {
    // No thread: the rows are read parent by parent as they are asked for.
    VD_LOG_ERROR("cache load thread did not start");
  }
}

void CatalogStore::Clear() {
  std::lock_guard<std::mutex> loader(m_loaderLock);
  std::shared_ptr<LoadState> state;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    state = m_load;
  }
  if (state) state->stop = true;
  if (m_loader.joinable()) m_loader.join();
  std::lock_guard<std::mutex> lock(m_lock);
  m_children.clear();
  m_resident.clear();
  m_load.reset();
  m_loading = false;
}

bool CatalogStore::WaitLoaded(uint32_t timeoutMs) {
  std::shared_ptr<LoadState> state;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    state = m_load;
  }
  if (!state) return true;
  std::unique_lock<std::mutex> lock(state->doneLock);
  return state->doneSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state->done; }) &&
         !m_loading.load();
}

void CatalogStore::RunLoad(std::shared_ptr<LoadState> state, LoadedCallback loaded) noexcept {
  SetCurrentThreadBelowNormal();
  const bool published = platform::NoThrow("CatalogStore::RunLoad", [&] {
    VD_TRACE("CVDCache::LoadCache");
    std::string dbPath;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      dbPath = m_dbPath;
    }
    SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str());
    if (!connection) throw std::runtime_error("cache.db did not open");
    // Reads by parent while this runs need the indexes; a file of an older
    // version gets them now, once.
    RunSchema(connection.get(), kParentIndexes, 2);
    Loaded found;
    LoadSink sink(state->stop, *m_lastFileReadMs);
    found.rows = LoadAllCatalogRows(connection.get(), sink);
    found.rows += LoadAllContentRows(connection.get(), sink);
    connection.reset();
    if (m_beforePublish) m_beforePublish();
    if (state->stop) return;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      for (auto& [parent, rows] : sink.Parents()) {
        found.parents.push_back(parent);
        if (m_resident.insert(parent).second) m_children[parent] = Finish(rows.catalogs, rows.contents);
      }
    }
    // The listed set learns of the parents before readers stop asking the file.
    if (loaded) loaded(found);
    VD_LOG_INFO("cache loaded: %llu rows of %llu catalogs", static_cast<unsigned long long>(found.rows),
                static_cast<unsigned long long>(found.parents.size()));
  });
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (published && !state->stop) {
      m_resident.clear();
      m_loading = false;
    }
  }
  std::lock_guard<std::mutex> done(state->doneLock);
  state->done = true;
  state->doneSignal.notify_all();
}

ChildrenPtr CatalogStore::ReadParent(const std::string& parentID) {
  std::string dbPath;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    dbPath = m_dbPath;
  }
  SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str());
  if (!connection) return nullptr;
  RowListBuilder<CatalogInfo> catalogs;
  RowListBuilder<ContentInfo> contents;
  LoadCatalogRows(connection.get(), parentID, catalogs);
  LoadContentRows(connection.get(), parentID, contents);
  return Finish(catalogs, contents);
}

void CatalogStore::EnsureResident(const std::string& parentID) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_loading || m_resident.count(parentID) != 0) return;
  }
  ChildrenPtr read = ReadParent(parentID);
  std::lock_guard<std::mutex> lock(m_lock);
  // A writer or the load may have got there first: theirs is as new or newer.
  if (!m_loading || !m_resident.insert(parentID).second) return;
  if (read) {
    m_children[parentID] = std::move(read);
  } else {
    m_children.erase(parentID);
  }
}

std::function<void()> CatalogStore::FileReaderNote() const {
  return [last = m_lastFileReadMs] { last->store(platform::TickCountMs(), std::memory_order_relaxed); };
}

bool CatalogStore::IsResident(const std::string& parentID) {
  std::lock_guard<std::mutex> lock(m_lock);
  return !m_loading || m_resident.count(parentID) != 0;
}

std::string CatalogStore::DbPath() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_dbPath;
}

bool CatalogStore::HasRowsInFile(const std::string& parentID) {
  SQLConnectionPtr connection = OpenSQLConnection(DbPath().c_str());
  if (!connection) return false;
  for (const char* sql : {"select 1 from catalogs where parentID = ? limit 1",
                          "select 1 from contents where parentID = ? limit 1"}) {
    SQLPreparedStatementPtr st(connection->prepareStatement(sql));
    if (!st || st->bindText(1, parentID.c_str(), -1) != 0) continue;
    SQLResultSetPtr rs(st->executeQuery());
    if (rs && rs->next()) return true;
  }
  return false;
}

ChildrenPtr CatalogStore::Children(const std::string& parentID) {
  EnsureResident(parentID);
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_children.find(parentID);
  return it == m_children.end() ? nullptr : it->second;
}

void CatalogStore::Put(const std::string& parentID, ChildrenPtr children) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (children && children->Count() > 0) {
    m_children[parentID] = std::move(children);
  } else {
    m_children.erase(parentID);
  }
  if (m_loading) m_resident.insert(parentID);
}

void CatalogStore::Append(const std::string& parentID, const ListResult& page) {
  ChildrenPtr added = Pack(page);
  if (!added) return;
  std::lock_guard<std::mutex> lock(m_lock);
  auto children = std::make_shared<CatalogChildren>();
  if (auto it = m_children.find(parentID); it != m_children.end() && it->second) *children = *it->second;
  // The pages before are shared, not copied.
  added->catalogs.ForEachPage([&](const auto& p) { children->catalogs.AppendPage(p); });
  added->contents.ForEachPage([&](const auto& p) { children->contents.AppendPage(p); });
  m_children[parentID] = std::move(children);
  if (m_loading) m_resident.insert(parentID);
}

std::size_t CatalogStore::ParentCount() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_children.size();
}

std::size_t CatalogStore::RowBytes() {
  std::lock_guard<std::mutex> lock(m_lock);
  std::size_t bytes = 0;
  for (const auto& [parent, children] : m_children) bytes += children->Bytes();
  return bytes;
}

ChildrenPtr CatalogStore::Pack(const ListResult& listing) {
  RowListBuilder<CatalogInfo> catalogs;
  RowListBuilder<ContentInfo> contents;
  for (const CatalogInfo& c : listing.catalogs) catalogs.Append(c);
  for (const ContentInfo& c : listing.contents) contents.Append(c);
  return Finish(catalogs, contents);
}

}  // namespace vdcache
