#pragma once
// The share area's cache: the share list (items others share with the user
// and items the user shares) and the children of shared catalogs, in memory
// and in the sfCatalogs / sfContents tables of cache.db. Locks and receivers
// work as in CVDCache: receivers run with no cache lock held.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cache_result.h"
#include "cloud_sdk.h"
#include "listing_tracker.h"
#include "vd_cache.h"

namespace vdcache {

class CVDShareFileCacheImpl;

class CVDShareFileCache {
 public:
  static CVDShareFileCache* GetInstance();

  explicit CVDShareFileCache(ICloudSdk* sdk = nullptr);
  ~CVDShareFileCache();  // waits for the background listings still running
  CVDShareFileCache(const CVDShareFileCache&) = delete;
  CVDShareFileCache& operator=(const CVDShareFileCache&) = delete;

  // Opens the file and returns; the stored rows load on a thread of their own.
  uint32_t Initialize(uint32_t mode, bool useDatabase, const std::string& dbPath, const std::string& account);
  uint32_t Destroy();

  // ---- the share list, stored under one process-wide root key
  uint32_t FetchShareCatalog(const std::string& key, const ShareListRequest& templ);
  uint32_t GetDisk(const std::string& key, const ShareListRequest& templ, ShareListResult* result, bool synchronous);
  // As GetDisk; the window (0-based, "-1" for all) shapes the store read.
  uint32_t GetDiskEx(const std::string& key, const ShareListRequest& templ, const std::string& startNumber,
                     const std::string& endNumber, ShareListResult* result, bool synchronous);
  uint32_t GetDiskFromCache(const std::string& key, ShareListResult* result);
  uint32_t GetDiskFromCacheEx(const std::string& key, const std::string& startNumber,
                              const std::string& endNumber, ShareListResult* result);
  std::string ShareRootKey();

  // ---- children of a catalog inside a share
  uint32_t GetSubCatalogList(const ListRequest& request, ListResult* result, bool synchronous);
  uint32_t GetSubCatalogFromCache(const ListRequest& request, ListResult* result);
  uint32_t PrefetchAllCatalog(const std::string& path, const std::string& catalogID);
  // Mode 2: one catalog listed in the background without notices.
  uint32_t PrefetchSubCatalog(const std::string& path, const std::string& catalogID);

  uint32_t DeleteRecordById(const std::string& parentID, const std::vector<std::string>& ids);
  bool IsListed(const std::string& key);
  int AddEventReceiver(CacheReceiver receiver);
  int AddUpdatePageEventReceiver(CacheReceiver receiver);
  std::string GetCatalogPath(const std::string& catalogID);
  void AddLocalCatalogInfo(const std::string& catalogID, const LocalCatalogInfo& info);
  void SetThumbnailPrefetch(IThumbnailPrefetch* prefetch);
  void SetPagePauseMs(uint32_t ms);
  // Narrow display name of the cloud disk, the first part of every catalog path.
  void SetDiskDisplayName(const std::string& name);
  bool WaitIdle(uint32_t timeoutMs);
  // The stored rows load in the background after Initialize; until they are
  // in, a parent asked for is read from the file. True once loaded.
  bool WaitLoaded(uint32_t timeoutMs);
  // Runs on the load's thread once the rows are read, before they are in.
  void SetBeforeLoadPublish(std::function<void()> hold);

 private:
  std::unique_ptr<CVDShareFileCacheImpl> m_impl;
};

}  // namespace vdcache
