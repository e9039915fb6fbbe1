#include "breviary_cache.h"

#include <vector>

#include "cache_result.h"
#include "cache_sql.h"
#include "service/sql_ptr.h"
#include "trace.h"

namespace vdcache {

CBreviaryCache* CBreviaryCache::GetInstance() {
  static CBreviaryCache* instance = new CBreviaryCache();  // lives until the module unloads
  return instance;
}

bool CBreviaryCache::IsLoaded() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_loaded;
}

uint32_t CBreviaryCache::Initialize(bool useDatabase, const std::string& dbPath, BreviaryMap& records) {
  VD_TRACE("CBreviaryCache::Initialize");
  std::lock_guard<std::mutex> lock(m_lock);
  m_useDatabase = useDatabase;
  m_dbPath = dbPath;
  if (!useDatabase) {
    m_loaded = true;
    return kCacheOk;
  }
  SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str());
  if (!connection) return kCacheDbFailure;
  SQLStatementPtr plain(connection->createStatement());
  if (!plain || plain->execute(kBreviarySchema, 0) != 0) return kCacheDbFailure;
  if (SQLPreparedStatementPtr st{connection->prepareStatement("select * from breviarys")}) {
    if (SQLResultSetPtr rs{st->executeQuery()}) {
      std::vector<char> id(2048), time(2048);
      while (rs->next()) {
        id[0] = time[0] = '\0';
        rs->getString(0, id.data(), 2048);
        rs->getString(1, time.data(), 2048);
        records.emplace(id.data(), time.data());
      }
    }
  }
  m_loaded = true;
  return kCacheOk;
}

int CBreviaryCache::UpdateBreviaryInfo(const BreviaryMap& records) {
  VD_TRACE("CBreviaryCache::UpdateBreviaryInfo");
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_useDatabase) return -1;
  SQLConnectionPtr connection = OpenSQLConnection(m_dbPath.c_str());
  if (!connection) return -1;
  // The delete runs inside the unit so that a failed write leaves the old table.
  connection->beginTransaction();
  if (SQLPreparedStatementPtr del{connection->prepareStatement("delete from breviarys")}) del->execute();
  for (const auto& [id, time] : records) {
    SQLPreparedStatementPtr st(connection->prepareStatement("insert into breviarys values(?,?)"));
    if (!st) continue;
    st->bindText(1, id.c_str(), -1);
    st->bindText(2, time.c_str(), -1);
    st->execute();
  }
  connection->commit();
  return 0;
}

void ThumbnailRecords::Insert(const std::string& contentID, const std::string& updateTime) {
  if (contentID.empty() || updateTime.empty()) return;
  std::lock_guard<std::mutex> lock(m_lock);
  m_records[contentID] = updateTime;
}

bool ThumbnailRecords::Find(const std::string& contentID, std::string* updateTime) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_records.find(contentID);
  if (it == m_records.end()) return false;
  *updateTime = it->second;
  return true;
}

BreviaryMap ThumbnailRecords::Snapshot() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_records;
}

void ThumbnailRecords::Load(BreviaryMap records) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_records = std::move(records);
}

}  // namespace vdcache
