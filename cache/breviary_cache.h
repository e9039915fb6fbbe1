#pragma once
// Thumbnail records: content ID -> the content's updateTime when its
// thumbnail file was stored, kept in the breviarys table of cache.db.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vdcache {

using BreviaryMap = std::map<std::string, std::string>;

class CBreviaryCache {
 public:
  static CBreviaryCache* GetInstance();

  // Loads every row into `records` (the first row of an ID wins).
  uint32_t Initialize(bool useDatabase, const std::string& dbPath, BreviaryMap& records);
  // Replaces the table with `records` in one unit. 0, or -1 without database.
  int UpdateBreviaryInfo(const BreviaryMap& records);
  bool IsLoaded();

 private:
  std::mutex m_lock;
  bool m_useDatabase = false;
  std::string m_dbPath;
  bool m_loaded = false;
};

// The process's record map, shared by the views and the prefetch pool.
class ThumbnailRecords {
 public:
  // Insert or overwrite; skipped when either text is empty.
  void Insert(const std::string& contentID, const std::string& updateTime);
  // The recorded time, or false.
  bool Find(const std::string& contentID, std::string* updateTime);
  BreviaryMap Snapshot();
  void Load(BreviaryMap records);

 private:
  std::mutex m_lock;
  BreviaryMap m_records;
};

}  // namespace vdcache
