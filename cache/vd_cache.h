#pragma once
// The catalog cache: the user's cloud catalog tree in memory, mirrored in the
// account's cache.db, refreshed from the cloud in the background and
// announced to the views through receivers.
//
// Locks, always taken in this order and never while a receiver runs:
// write lock (one database unit at a time, held across its I/O) -> the
// store's lock (CatalogStore: the rows in memory, held only for memory work)
// -> listed-catalog lock. The pending, receiver, path-index and share-user
// locks are never held together with another. Readers never take the write
// lock, so a reader never waits for the network or for a write to the file;
// until the file's rows are loaded, a reader reads its one catalog from the
// file itself.
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
#include "cache_settings.h"
#include "catalog_store.h"
#include "row_cursor.h"
#include "cloud_sdk.h"
#include "listing_tracker.h"
#include "page_walk.h"

namespace vdcache {

using CacheReceiver = void (*)(const std::string& catalogID);

struct LocalCatalogInfo {
  std::string catalogName;
  std::string parentCatalogID;
};

// Receives one listing per catalog of the whole-tree prefetch, to fetch its
// thumbnails off the listing thread.
class IThumbnailPrefetch {
 public:
  virtual void QueueCatalog(const std::string& catalogID, const ListResult& listing) = 0;

 protected:
  ~IThumbnailPrefetch() = default;
};

// What the share-user load tells the world outside the cache.
struct ShareUserHooks {
  std::function<void()> broadcastLoaded;       // the views: sharers' names arrived (406)
  std::function<void()> tokenInvalid;          // the desktop client must sign in again (21)
  std::function<std::string()> contactFolder;  // folder of contact_cache.ini; "" writes nothing
};

// Where a load of the sharers' names stands after asking for one.
enum class ShareUserLoad {
  Loaded,   // the names are here
  Started,  // a load began now
  Running,  // a load began earlier and has not ended
  Failed,   // no load could be started
};

// String 402 in the OEM code page: the first part of every catalog path.
std::string DiskDisplayName();
// The names from the top of the index down to the catalog, joined by "\";
// a cycle in the index ends the walk.
std::string CatalogNamesPath(const std::map<std::string, LocalCatalogInfo>& index, const std::string& catalogID);

class CVDCache {
 public:
  static CVDCache* GetInstance();

  // sdk null: the process's CurrentCloudSdk() at each call.
  explicit CVDCache(ICloudSdk* sdk = nullptr);
  // Waits for the background listings still running.
  ~CVDCache();
  CVDCache(const CVDCache&) = delete;
  CVDCache& operator=(const CVDCache&) = delete;

  // ---- store
  uint32_t Initialize(uint32_t mode, bool useDatabase, const std::string& dbPath, const std::string& account);
  uint32_t Destroy();
  uint32_t GetDiskFromCache(const ListRequest& request, ListResult* result);
  uint32_t GetDiskFromCacheEx(const ListRequest& request, ListResult* result);
  bool HasSubCatalog(const std::string& catalogID);
  uint32_t DeleteRecordById(const std::string& parentID, const std::vector<std::string>& ids);
  std::string GetCatalogPath(const std::string& catalogID);
  void AddLocalCatalogInfo(const std::string& catalogID, const LocalCatalogInfo& info);
  int AddEventReceiver(CacheReceiver receiver);
  int AddUpdatePageEventReceiver(CacheReceiver receiver);
  bool IsListed(const std::string& catalogID);
  // A first listing began and did not end (in this process or an earlier one).
  bool IsUnfinished(const std::string& catalogID);
  bool IsPending(const std::string& catalogID);
  // The stored children as one snapshot (null: none); what the enumerator
  // turns into identifiers as they are asked for.
  ChildrenPtr GetChildren(const std::string& catalogID);
  // The stored children page by page: from memory, or from the file while it
  // still loads (the first page comes at once, whatever the catalog's size).
  std::unique_ptr<RowCursor> OpenRows(const std::string& catalogID);

  // ---- refresh
  uint32_t GetDisk(const ListRequest& request, ListResult* result, bool synchronous, bool alwaysUpdate);
  uint32_t GetDiskEx(const ListRequest& request, ListResult* result, bool synchronous);
  uint32_t PrefetchAllCatalog(const std::string& path, const std::string& catalogID, bool unused = false);
  // Replaces the stored children of the listing's catalog.
  void UpdateCache(const ListResult& listing);
  // Appends one first-listing page.
  void PushbackCache(const ListResult& page);
  // True when the listing differs from what is stored for its catalog.
  bool CompareCache(const ListResult& listing);

  // ---- sharers' names
  // Starts a new load unless one runs; false when none was started.
  bool InitShareUser();
  // Starts a load only when the names are not loaded and none runs.
  ShareUserLoad LoadShareUser();
  void SetShareUser(const std::string& account, const std::string& name);
  bool GetShareUser(std::map<std::string, std::string>& out);
  void SetShareNull();
  bool HasInitShareUser();
  void SetGetShareUserSuccess(int loaded);

  // ---- settings of the host
  void SetShareUserHooks(ShareUserHooks hooks);
  void SetThumbnailPrefetch(IThumbnailPrefetch* prefetch);
  // Narrow display name of the cloud disk, the first part of every catalog path.
  void SetDiskDisplayName(const std::string& name);
  // Pause between the pages of a first listing (100 ms in the product).
  void SetPagePauseMs(uint32_t ms) { m_pagePauseMs = ms; }
  // True when every background listing has ended within the time.
  bool WaitIdle(uint32_t timeoutMs) { return m_listings.WaitIdle(timeoutMs); }
  // True when the file's rows are all in memory within the time.
  bool WaitLoaded(uint32_t timeoutMs);
  // Heap the stored rows take.
  std::size_t MemoryBytes();
  // The store itself, for tests that hold its load.
  CatalogStore& Store() { return m_store; }

 private:
  struct Listing;  // one background listing: the request and its owner

  ICloudSdk* Sdk() const;
  bool IsLoaded();
  void AddListed(const std::string& catalogID);
  void AddUnfinished(const std::string& catalogID);
  void EndFirstListing(const std::string& catalogID, bool whole);
  void RemovePending(const std::string& catalogID);
  void NotifyReceivers(const std::set<CacheReceiver>& which, const std::string& catalogID);
  void NotifyCacheReceivers(const std::string& catalogID);
  void NotifyPageReceivers(const std::string& catalogID);
  ListRequest MakeRequest(const std::string& catalogID, const std::string& path, bool alwaysUpdate) const;
  // Starts ls for a new listing unless the catalog is pending; false when it
  // could not start (the catalog is then not pending).
  uint32_t StartListing(const std::string& catalogID, const std::string& path, bool alwaysUpdate,
                        SdkCallback<ListResult> callback, std::shared_ptr<TreeWalk> walk = nullptr,
                        int depth = 0);
  uint32_t GetDiskRemain(ListRequest& request, ListResult* result);
  void DoPrefetchAllCatalog(const ListResult& listing, const std::string& path,
                            const std::shared_ptr<TreeWalk>& walk, int depth);
  void DoPrefetchSubCatalog(const ListResult& listing, const std::string& path);
  uint32_t PrefetchSubCatalog(const std::string& path, const std::string& catalogID);
  void EndListing(Listing* listing) noexcept;
  void AbandonListing(Listing* listing, bool first) noexcept;
  void OnRefreshed(int code, ListResult* result, Listing* listing);
  void OnFirstPage(int code, ListResult* result, Listing* listing);
  void OnPrefetched(int code, ListResult* result, Listing* listing);
  void OnShareUsers(int code, ItemGetListResult* result);
  ShareUserLoad StartShareUserLoad(bool evenIfLoaded);
  void CollectDescendants(const std::string& catalogID, std::set<std::string>& purge);

  // SDK callbacks: they run on the SDK's threads and let nothing escape.
  static void GetDiskCb(int code, ListResult* result, void* user) noexcept;
  static void FirstGetCacheCb(int code, ListResult* result, void* user) noexcept;
  static void PrefetchAllCatalogCb(int code, ListResult* result, void* user) noexcept;
  static void PrefetchSubCatalogCb(int code, ListResult* result, void* user) noexcept;
  static void ItemGetListCallback(int code, ItemGetListResult* result, void* user) noexcept;

  ICloudSdk* m_sdk;

  std::mutex m_writeLock;
  CatalogStore m_store;

  std::mutex m_listedLock;
  std::set<std::string> m_listed;
  std::set<std::string> m_unfinished;  // first listings cut short: rows, but not the whole catalog
  PendingKeys m_pending;
  std::mutex m_receiverLock;
  std::set<CacheReceiver> m_cacheReceivers;
  std::set<CacheReceiver> m_pageReceivers;
  std::mutex m_pathLock;
  std::map<std::string, LocalCatalogInfo> m_catalogPaths;
  std::mutex m_diskNameLock;
  std::string m_diskName;

  std::mutex m_shareUserLock;
  std::map<std::string, std::string> m_shareUsers;
  bool m_shareUsersLoaded = false;
  bool m_shareUsersRunning = false;
  ShareUserHooks m_shareHooks;

  CacheSettings GetSettings();
  GuardedSettings m_settings;
  std::atomic<uint32_t> m_pagePauseMs{100};

  ListingTracker m_listings;
};

}  // namespace vdcache
