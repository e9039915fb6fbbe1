#include "share_file_cache.h"

#include <chrono>
#include <condition_variable>
#include <new>
#include <thread>

#include "cache_sql.h"
#include "cache_text.h"
#include "compare_cache.h"
#include "page_walk.h"
#include "platform/fault.h"
#include "service/sql_ptr.h"
#include "thread_priority.h"
#include "trace.h"

namespace vdcache {

// The share list's parent key, shared by every user of the share cache.
namespace {
std::mutex g_rootKeyLock;
std::string g_rootKey = kShareRootKey;

void SetRootKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(g_rootKeyLock);
  g_rootKey = key;
}
std::string RootKey() {
  std::lock_guard<std::mutex> lock(g_rootKeyLock);
  return g_rootKey;
}

ShareEntry NodeOf(const CatalogInfo& c) {
  ShareEntry e;
  e.catalog = c;
  return e;
}
ShareEntry NodeOf(const ContentInfo& c) {
  ShareEntry e;
  e.content = c;
  return e;
}
}  // namespace

class CVDShareFileCacheImpl {
 public:
  struct ShareListing {
    CVDShareFileCacheImpl* cache;
    std::string key;
    ShareListRequest request;
    std::unique_ptr<PageWalk> pages;  // a first listing's walk over its pages
  };
  struct SubListing {
    CVDShareFileCacheImpl* cache;
    ListRequest request;
    std::unique_ptr<PageWalk> pages;  // a first listing's walk over its pages
    std::shared_ptr<TreeWalk> tree;   // a whole-tree prefetch's catalogs
    int depth;                        // below the prefetch's start
  };

  explicit CVDShareFileCacheImpl(ICloudSdk* sdk) : m_sdk(sdk) {}

  ICloudSdk* Sdk() const { return m_sdk ? m_sdk : CurrentCloudSdk(); }
  CacheSettings GetSettings() { return m_settings.Get(); }

  uint32_t Initialize(uint32_t mode, bool useDatabase, const std::string& dbPath, const std::string& account) {
    VD_TRACE("CVDShareFileCache::Initialize");
    StopLoad();
    m_settings.Open(mode, useDatabase, dbPath, account);
    if (!useDatabase) return kCacheOk;
    {
      std::lock_guard<std::mutex> write(m_writeLock);
      SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str());
      if (!connection) return kCacheDbFailure;
      if (!RunSchema(connection.get(), kShareCacheSchema, 7)) return kCacheDbFailure;
    }
    StartLoad(dbPath);
    m_settings.SetLoaded();
    return kCacheOk;
  }

  uint32_t Destroy() {
    m_pending.Clear();
    StopLoad();
    {
      std::lock_guard<std::mutex> records(m_recordLock);
      m_nodes.clear();
    }
    return m_settings.Close() ? kCacheOk : kCacheNotLoaded;
  }

  // ---- the stored rows, loaded off the caller's thread

  // Until the load is in, a parent asked for is read from the file on its
  // own; writers mark what they write, and the load leaves those alone.
  void StartLoad(const std::string& dbPath) {
    {
      std::lock_guard<std::mutex> records(m_recordLock);
      m_loading = true;
      m_resident.clear();
      m_loadPath = dbPath;
    }
    std::lock_guard<std::mutex> loader(m_loaderLock);
    m_stopLoad = false;
    try {
      m_loader = std::thread([this] { RunLoad(); });
    } catch (const std::system_error&) {
      VD_LOG_ERROR("share cache load thread did not start");
      RunLoad();
    }
  }

  void StopLoad() {
    std::lock_guard<std::mutex> loader(m_loaderLock);
    m_stopLoad = true;
    if (m_loader.joinable()) m_loader.join();
    std::lock_guard<std::mutex> records(m_recordLock);
    m_loading = false;
    m_resident.clear();
    m_loadDone.notify_all();
  }

  using NodeMap = std::map<std::string, std::vector<ShareEntry>>;

  static void AddRows(std::vector<ShareCatalogRow>& catalogs, std::vector<ShareContentRow>& contents,
                      NodeMap& nodes) {
    for (ShareCatalogRow& row : catalogs) {
      ShareEntry& e = nodes[row.parentID].emplace_back(NodeOf(row.info));
      e.header.SharerID = std::move(row.sharerID);
    }
    for (ShareContentRow& row : contents) {
      ShareEntry& e = nodes[row.parentID].emplace_back(NodeOf(row.info));
      e.header.SharerID = std::move(row.sharerID);
    }
  }

  void RunLoad() noexcept {
    SetCurrentThreadBelowNormal();
    std::string dbPath;
    {
      std::lock_guard<std::mutex> records(m_recordLock);
      dbPath = m_loadPath;
    }
    NodeMap loaded;
    platform::NoThrow("CVDShareFileCache::LoadCache", [&] {
      SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str());
      if (!connection) return;
      // Parents read on their own while this runs need the indexes.
      RunSchema(connection.get(), kShareParentIndexes, 2);
      std::vector<ShareCatalogRow> catalogs;
      std::vector<ShareContentRow> contents;
      GetAllShareCatalog(connection.get(), catalogs);
      if (!m_stopLoad) GetAllShareContent(connection.get(), contents);
      AddRows(catalogs, contents, loaded);
      if (m_beforePublish) m_beforePublish();
    });
    std::lock_guard<std::mutex> records(m_recordLock);
    if (m_stopLoad) return;
    {
      // Lock order: records, then listed.
      std::lock_guard<std::mutex> listed(m_listedLock);
      for (auto& [parent, nodes] : loaded) {
        if (m_resident.count(parent) != 0) continue;  // written or read meanwhile: that is as new or newer
        m_nodes[parent] = std::move(nodes);
        m_listed.insert(parent);
      }
    }
    m_loading = false;
    m_resident.clear();
    m_loadDone.notify_all();
  }

  // A parent the load has not brought yet, read from the file; what the file
  // holds counts as listed, as it does once loaded.
  void EnsureResident(const std::string& key) {
    std::string dbPath;
    {
      std::lock_guard<std::mutex> records(m_recordLock);
      if (!m_loading || m_resident.count(key) != 0) return;
      dbPath = m_loadPath;
    }
    NodeMap read;
    platform::NoThrow("CVDShareFileCache::EnsureResident", [&] {
      if (SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str())) {
        std::vector<ShareCatalogRow> catalogs;
        std::vector<ShareContentRow> contents;
        GetShareCatalogsOf(connection.get(), key, catalogs);
        GetShareContentsOf(connection.get(), key, contents);
        AddRows(catalogs, contents, read);
      }
    });
    std::lock_guard<std::mutex> records(m_recordLock);
    if (!m_loading || !m_resident.insert(key).second) return;
    auto it = read.find(key);
    if (it == read.end()) return;
    m_nodes[key] = std::move(it->second);
    std::lock_guard<std::mutex> listed(m_listedLock);
    m_listed.insert(key);
  }

  // With m_recordLock held: the load must not put the file's rows back here.
  void MarkWritten(const std::string& key) {
    if (m_loading) m_resident.insert(key);
  }

  bool WaitLoaded(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> records(m_recordLock);
    return m_loadDone.wait_for(records, std::chrono::milliseconds(timeoutMs), [&] { return !m_loading; });
  }

  bool IsListed(const std::string& key) {
    {
      std::lock_guard<std::mutex> lock(m_listedLock);
      if (m_listed.count(key) != 0) return true;
    }
    EnsureResident(key);
    std::lock_guard<std::mutex> lock(m_listedLock);
    return m_listed.count(key) != 0;
  }
  void AddListed(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_listedLock);
    m_listed.insert(key);
  }
  void RemovePending(const std::string& key) { m_pending.Remove(key); }

  void Notify(bool page, const std::string& id) {
    std::set<CacheReceiver> copy;
    {
      std::lock_guard<std::mutex> lock(m_receiverLock);
      copy = page ? m_pageReceivers : m_cacheReceivers;
    }
    // One receiver that throws neither stops the others nor the listing.
    for (CacheReceiver r : copy) platform::NoThrow("CacheReceiver", [&] { r(id); });
  }

  // ---- store

  std::vector<ShareEntry> Nodes(const std::string& key) {
    EnsureResident(key);
    std::lock_guard<std::mutex> records(m_recordLock);
    auto it = m_nodes.find(key);
    return it == m_nodes.end() ? std::vector<ShareEntry>{} : it->second;
  }

  bool Compare(const std::string& key, const std::vector<ShareEntry>& listed) {
    EnsureResident(key);
    std::lock_guard<std::mutex> records(m_recordLock);
    auto it = m_nodes.find(key);
    static const std::vector<ShareEntry> kNone;
    return CompareShareCache(it == m_nodes.end() ? kNone : it->second, listed);
  }

  void WriteNodes(SQLConnection* connection, const std::string& key, const std::vector<ShareEntry>& nodes,
                  const std::string& sharee) {
    for (const ShareEntry& e : nodes) {
      if (e.HasCatalog()) AddShareCatalog(connection, key, e.header.SharerID, sharee, e.catalog);
      if (e.HasContent()) AddShareContent(connection, key, e.header.SharerID, sharee, e.content);
    }
  }

  void Replace(const std::string& key, std::vector<ShareEntry> nodes, bool append) {
    const CacheSettings settings = GetSettings();
    {
      std::lock_guard<std::mutex> write(m_writeLock);
      if (settings.useDatabase) {
        if (SQLConnectionPtr connection = OpenSQLConnection(settings.dbPath.c_str())) {
          connection->beginTransaction();
          if (!append) {
            DeleteShareRecordByParentID(connection.get(), key, true);
            DeleteShareRecordByParentID(connection.get(), key, false);
          }
          WriteNodes(connection.get(), key, nodes, settings.account);
          connection->commit();
        }
      }
      std::lock_guard<std::mutex> records(m_recordLock);
      MarkWritten(key);
      auto& stored = m_nodes[key];
      if (append)
        stored.insert(stored.end(), std::make_move_iterator(nodes.begin()), std::make_move_iterator(nodes.end()));
      else
        stored.swap(nodes);
    }
    if (!append) AddListed(key);
  }

  static std::vector<ShareEntry> NodesOf(const ListResult& r, const std::string& sharer) {
    std::vector<ShareEntry> nodes;
    nodes.reserve(r.catalogs.size() + r.contents.size());
    for (const CatalogInfo& c : r.catalogs) {
      nodes.push_back(NodeOf(c));
      nodes.back().catalog.parentCatalogID = r.request.catalogID;
      nodes.back().header.SharerID = sharer;
    }
    for (const ContentInfo& c : r.contents) {
      nodes.push_back(NodeOf(c));
      nodes.back().header.SharerID = sharer;
    }
    return nodes;
  }

  // Rows below a shared catalog carry the sharer of the share entry they came from.
  std::string SharerOf(const std::string& catalogID) {
    WaitLoaded(kWholeMapWaitMs);
    std::lock_guard<std::mutex> records(m_recordLock);
    for (const auto& [key, nodes] : m_nodes)
      for (const ShareEntry& e : nodes)
        if (e.catalog.catalogID == catalogID) return e.header.SharerID;
    return {};
  }

  // ---- share list

  ShareListRequest MakeShareRequest(const ShareListRequest& templ) {
    ShareListRequest r = templ;
    r.sortType = "0";
    r.sortOrder = "0";
    r.startNumber = "1";
    r.endNumber = std::to_string(kPageSize);
    return r;
  }

  uint32_t ShareRemain(ShareListRequest request, ShareListResult* result) {
    PageWalk walk(result->totalCount);
    walk.TakeNew(result->shares);
    ICloudSdk* sdk = Sdk();
    while (walk.WantsMore()) {
      NextPage(walk, request.startNumber, request.endNumber);
      ShareListResult page;
      if (!sdk || sdk->GetShareList(request, &page, nullptr, nullptr) != 0) return kCacheListFailed;
      walk.Lower(page.totalCount);
      if (!walk.TakeNew(page.shares)) return kCacheOk;  // nothing new: the service is repeating itself
      result->shares.insert(result->shares.end(), page.shares.begin(), page.shares.end());
    }
    return kCacheOk;
  }

  uint32_t StartShareListing(const std::string& key, const ShareListRequest& templ, SdkCallback<ShareListResult> cb) {
    std::unique_ptr<ShareListing> listing(new (std::nothrow) ShareListing{this, key, MakeShareRequest(templ), nullptr});
    ICloudSdk* sdk = Sdk();
    return StartBackgroundListing(m_pending, m_listings, key, std::move(listing), [&](ShareListing* l) {
      return sdk ? sdk->GetShareList(l->request, nullptr, cb, l) : -1;
    });
  }

  void EndShare(ShareListing* l) noexcept {
    delete l;
    m_listings.End();
  }

  // A callback that threw: the key is no longer pending, a first listing
  // counts as done (the next look refreshes it whole), and the listing ends.
  template <class L>
  void Abandon(L* l, const std::string& key, bool first) noexcept {
    platform::NoThrow("CVDShareFileCache::Abandon", [&] {
      RemovePending(key);
      if (first) AddListed(key);
    });
    delete l;
    m_listings.End();
  }

  static void GetDiskCb(int code, ShareListResult* result, void* user) noexcept {
    auto* l = static_cast<ShareListing*>(user);
    CVDShareFileCacheImpl* self = l->cache;
    bool first = false;
    if (!platform::NoThrow("CVDShareFileCache::GetDiskCb", [&] {
          first = !self->IsListed(l->key);
          if (first) {
            self->OnFirstSharePage(code, result, l);
          } else {
            self->OnSharesRefreshed(code, result, l);
          }
        })) {
      self->Abandon(l, l->key, first);
    }
  }

  void OnSharesRefreshed(int code, ShareListResult* result, ShareListing* l) {
    VD_TRACE("CVDShareFileCache::GetDiskCb");
    const std::string key = l->key;
    if (code != 0 || result == nullptr) {
      Notify(false, key);
    } else {
      ShareListResult whole = *result;
      ShareRemain(l->request, &whole);
      if (Compare(key, whole.shares)) {
        Replace(key, std::move(whole.shares), false);
        Notify(false, key);
      } else if (whole.shares.empty()) {
        Notify(false, key);
      }
    }
    RemovePending(key);
    EndShare(l);
  }

  static void FirstGetCacheCb(int code, ShareListResult* result, void* user) noexcept {
    auto* l = static_cast<ShareListing*>(user);
    if (!platform::NoThrow("CVDShareFileCache::FirstGetCacheCb",
                           [&] { l->cache->OnFirstSharePage(code, result, l); })) {
      l->cache->Abandon(l, l->key, true);
    }
  }

  void OnFirstSharePage(int code, ShareListResult* result, ShareListing* l) {
    const std::string key = l->key;
    std::vector<ShareEntry> page;
    bool fresh = false;
    if (code == 0 && result != nullptr) {
      page = result->shares;
      if (!l->pages) l->pages = std::make_unique<PageWalk>(result->totalCount);
      l->pages->Lower(result->totalCount);
      fresh = l->pages->TakeNew(page);
    }
    if (fresh) Replace(key, std::move(page), true);
    Notify(true, key);
    if (fresh && l->pages->WantsMore()) {
      if (uint32_t pause = m_pagePauseMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
      NextPage(*l->pages, l->request.startNumber, l->request.endNumber);
      ICloudSdk* sdk = Sdk();
      if (sdk && sdk->GetShareList(l->request, nullptr, &FirstGetCacheCb, l) == 0) return;
    }
    RemovePending(key);
    AddListed(key);
    EndShare(l);
  }

  static void FetchShareCatalogCb(int code, ShareListResult* result, void* user) noexcept {
    auto* l = static_cast<ShareListing*>(user);
    if (!platform::NoThrow("CVDShareFileCache::FetchShareCatalogCb",
                           [&] { l->cache->OnShareCatalogFetched(code, result, l); })) {
      l->cache->Abandon(l, l->key, false);
    }
  }

  void OnShareCatalogFetched(int code, ShareListResult* result, ShareListing* l) {
    VD_TRACE("CVDShareFileCache::FetchShareCatalogCb");
    ShareListResult whole;
    const bool ok = code == 0 && result != nullptr;
    if (ok) {
      whole = *result;
      ShareRemain(l->request, &whole);
      if (Compare(l->key, whole.shares)) Replace(l->key, whole.shares, false);
      if (IThumbnailPrefetch* thumbnails = GetSettings().thumbnails) {
        ListResult contents;
        contents.request.catalogID = l->key;
        for (const ShareEntry& e : whole.shares)
          if (e.HasContent()) contents.contents.push_back(e.content);
        thumbnails->QueueCatalog(l->key, contents);
      }
    }
    RemovePending(l->key);
    // One walk over every shared tree: a catalog shared twice, or nested in
    // itself by a broken service, is listed once.
    auto walk = std::make_shared<TreeWalk>();
    for (const ShareEntry& e : whole.shares)
      if (e.HasCatalog() && walk->Visit(e.catalog.catalogID, 0)) {
        AddLocalCatalogInfo(e.catalog.catalogID, {e.catalog.catalogName, ""});
        StartSub(e.catalog.catalogID, e.catalog.path, &PrefetchAllCatalogCb, walk, 0);
      }
    EndShare(l);
  }

  uint32_t FetchShareCatalog(const std::string&, const ShareListRequest& templ) {
    SetRootKey(kShareRootKey);
    if (!m_settings.Loaded()) return kCacheNotLoaded;
    return StartShareListing(kShareRootKey, templ, &FetchShareCatalogCb);
  }

  // The share list, cache first; a window ("-1" for all) shapes the store read.
  uint32_t GetDisk(const std::string& key, const ShareListRequest& templ, const std::string& startNumber,
                   const std::string& endNumber, ShareListResult* result, bool synchronous) {
    VD_TRACE("CVDShareFileCache::GetDisk");
    SetRootKey(key);
    const CacheSettings settings = GetSettings();
    if (!settings.loaded) return kCacheNotLoaded;
    if (settings.mode != 0 && !synchronous) {
      GetDiskFromCacheEx(key, startNumber, endNumber, result);
      return StartShareListing(key, templ, &GetDiskCb);
    }
    ShareListRequest request = MakeShareRequest(templ);
    ICloudSdk* sdk = Sdk();
    if (!sdk || sdk->GetShareList(request, result, nullptr, nullptr) != 0) return kCacheListFailed;
    const uint32_t rc = ShareRemain(request, result);
    Replace(key, result->shares, false);
    if (settings.mode == 2) {
      for (const ShareEntry& e : result->shares)
        if (e.HasCatalog()) PrefetchSubCatalog(e.catalog.path, e.catalog.catalogID);
    }
    return rc;
  }

  uint32_t GetDiskFromCache(const std::string& key, ShareListResult* result) {
    if (!m_settings.Loaded()) return kCacheNotLoaded;
    std::vector<ShareEntry> nodes = Nodes(key);
    result->totalCount = std::to_string(nodes.size());
    result->shares.insert(result->shares.end(), nodes.begin(), nodes.end());
    return kCacheOk;
  }

  uint32_t GetDiskFromCacheEx(const std::string& key, const std::string& startText, const std::string& endText,
                              ShareListResult* result) {
    if (!m_settings.Loaded()) return kCacheNotLoaded;
    const int64_t start = ParseInt64(startText), end = ParseInt64(endText);
    if (start == -1 || end == -1) return GetDiskFromCache(key, result);
    EnsureResident(key);
    {
      std::lock_guard<std::mutex> records(m_recordLock);
      if (auto it = m_nodes.find(key); it != m_nodes.end())
        for (int64_t i = 0; i < static_cast<int64_t>(it->second.size()) && i < end; ++i)
          if (i >= start) result->shares.push_back(it->second[static_cast<size_t>(i)]);
    }
    result->totalCount = std::to_string(end - start);
    return kCacheOk;
  }

  // ---- children of shared catalogs

  ListRequest MakeRequest(const std::string& catalogID, const std::string& path) {
    ListRequest r;
    r.account = m_settings.Account();
    r.catalogID = catalogID;
    r.startNumber = "1";
    r.endNumber = std::to_string(kPageSize);
    r.filterType = "-1";
    r.path = path;
    return r;
  }

  uint32_t SubRemain(ListRequest& request, ListResult* result) {
    PageWalk walk(result->totalCount);
    walk.TakeNew(*result);
    ICloudSdk* sdk = Sdk();
    while (walk.WantsMore()) {
      NextPage(walk, request.startNumber, request.endNumber);
      ListResult page;
      if (!sdk || sdk->SyncLs(request, &page) != 0) return kCacheListFailed;
      walk.Lower(page.totalCount);
      if (!walk.TakeNew(page)) break;
      result->catalogs.insert(result->catalogs.end(), page.catalogs.begin(), page.catalogs.end());
      result->contents.insert(result->contents.end(), page.contents.begin(), page.contents.end());
    }
    return kCacheOk;
  }

  uint32_t StartSub(const std::string& catalogID, const std::string& path, SdkCallback<ListResult> cb,
                    std::shared_ptr<TreeWalk> walk = nullptr, int depth = 0) {
    std::unique_ptr<SubListing> listing(new (std::nothrow) SubListing{this, MakeRequest(catalogID, path), nullptr, nullptr, depth});
    if (listing) listing->tree = std::move(walk);
    ICloudSdk* sdk = Sdk();
    return StartBackgroundListing(m_pending, m_listings, catalogID, std::move(listing),
                                  [&](SubListing* l) { return sdk ? sdk->ls(l->request, cb, l) : -1; });
  }

  void EndSub(SubListing* l) noexcept {
    delete l;
    m_listings.End();
  }

  // Refresh, or first listing of a catalog never listed; `notify` false for
  // prefetch walks, which carry their TreeWalk.
  static void SubCb(const char* where, int code, ListResult* result, SubListing* l, bool notify) noexcept {
    CVDShareFileCacheImpl* self = l->cache;
    bool first = false;
    if (!platform::NoThrow(where, [&] {
          first = notify && !self->IsListed(l->request.catalogID);
          if (first) {
            self->OnFirstSubPage(code, result, l);
          } else {
            self->OnSubListed(code, result, l, notify);
          }
        })) {
      self->Abandon(l, l->request.catalogID, first);
    }
  }

  void OnFirstSubPage(int code, ListResult* result, SubListing* l) {
    const std::string id = l->request.catalogID;
    ListResult page;
    const bool fresh = TakeListingPage(code, result, l->request, l->pages, page);
    if (fresh) Replace(id, NodesOf(page, SharerOf(id)), true);
    Notify(true, id);
    if (fresh && l->pages->WantsMore()) {
      if (uint32_t pause = m_pagePauseMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
      NextPage(*l->pages, l->request.startNumber, l->request.endNumber);
      ICloudSdk* sdk = Sdk();
      if (sdk && sdk->ls(l->request, &GetSubCatalogCb, l) == 0) return;
    }
    RemovePending(id);
    AddListed(id);
    EndSub(l);
  }

  void OnSubListed(int code, ListResult* result, SubListing* l, bool notify) {
    const std::string id = l->request.catalogID;
    const bool ok = code == 0 && result != nullptr;
    ListResult whole;
    if (!ok) {
      if (notify) Notify(false, id);
    } else {
      whole = *result;
      SubRemain(l->request, &whole);
      whole.request = l->request;
      std::vector<ShareEntry> nodes = NodesOf(whole, SharerOf(id));
      const bool empty = nodes.empty();
      if (Compare(id, nodes)) {
        Replace(id, std::move(nodes), false);
        if (notify) Notify(false, id);
      } else if (notify && empty) {
        Notify(false, id);
      }
      if (l->tree) {
        if (IThumbnailPrefetch* thumbnails = GetSettings().thumbnails) thumbnails->QueueCatalog(id, whole);
      }
    }
    RemovePending(id);
    if (ok && notify && GetSettings().mode == 2) DoPrefetchSubCatalog(whole, l->request.path);
    if (ok && l->tree)
      for (const CatalogInfo& c : whole.catalogs) {
        if (!l->tree->Visit(c.catalogID, l->depth + 1)) continue;  // seen before, too deep, or the walk is full
        AddLocalCatalogInfo(c.catalogID, {c.catalogName, id});
        StartSub(c.catalogID, c.path, &PrefetchAllCatalogCb, l->tree, l->depth + 1);
      }
    EndSub(l);
  }

  static void GetSubCatalogCb(int code, ListResult* result, void* user) noexcept {
    SubCb("CVDShareFileCache::GetSubCatalogCb", code, result, static_cast<SubListing*>(user), true);
  }
  static void PrefetchAllCatalogCb(int code, ListResult* result, void* user) noexcept {
    SubCb("CVDShareFileCache::PrefetchAllCatalogCb", code, result, static_cast<SubListing*>(user), false);
  }

  uint32_t PrefetchAllCatalog(const std::string& path, const std::string& catalogID) {
    if (!m_settings.Loaded()) return kCacheNotLoaded;
    auto walk = std::make_shared<TreeWalk>();
    walk->Visit(catalogID, 0);
    return StartSub(catalogID, path, &PrefetchAllCatalogCb, std::move(walk), 0);
  }

  uint32_t GetSubCatalogFromCache(const ListRequest& request, ListResult* result) {
    if (!m_settings.Loaded()) return kCacheNotLoaded;
    const int64_t start = ParseInt64(request.startNumber), end = ParseInt64(request.endNumber);
    const bool whole = start == -1 || end == -1;
    std::vector<ShareEntry> nodes = Nodes(request.catalogID);
    int64_t i = 0;
    for (const ShareEntry& e : nodes)
      if (e.HasCatalog() && (whole || i++ < end))
        if (whole || i - 1 >= start) result->catalogs.push_back(e.catalog);
    for (const ShareEntry& e : nodes)
      if (e.HasContent() && (whole || i++ < end))
        if (whole || i - 1 >= start) result->contents.push_back(e.content);
    result->totalCount = whole ? std::to_string(result->catalogs.size() + result->contents.size())
                               : std::to_string(end - start);
    return kCacheOk;
  }

  uint32_t GetSubCatalogList(const ListRequest& request, ListResult* result, bool synchronous) {
    const CacheSettings settings = GetSettings();
    if (!settings.loaded) return kCacheNotLoaded;
    if (settings.mode != 0 && !synchronous) {
      if (IsListed(request.catalogID)) GetSubCatalogFromCache(request, result);
      return StartSub(request.catalogID, request.path, &GetSubCatalogCb);
    }
    ListRequest own = MakeRequest(request.catalogID, request.path);
    ICloudSdk* sdk = Sdk();
    if (!sdk || sdk->SyncLs(own, result) != 0) return kCacheListFailed;
    const uint32_t rc = SubRemain(own, result);
    result->request = own;
    Replace(request.catalogID, NodesOf(*result, SharerOf(request.catalogID)), false);
    if (settings.mode == 2) DoPrefetchSubCatalog(*result, request.path);
    return rc;
  }

  // Mode 2: the catalogs one level below a listed one are listed too, in the
  // background and without notices.
  uint32_t PrefetchSubCatalog(const std::string& path, const std::string& catalogID) {
    if (!m_settings.Loaded()) return kCacheNotLoaded;
    return StartSub(catalogID, path, &PrefetchSubCatalogCb);
  }
  void DoPrefetchSubCatalog(const ListResult& listing, const std::string& path) {
    for (const CatalogInfo& c : listing.catalogs) {
      if (c.catalogID == listing.request.catalogID) continue;  // listed as its own child
      PrefetchSubCatalog(!c.path.empty() ? c.path : path + "/" + c.catalogID, c.catalogID);
    }
  }
  static void PrefetchSubCatalogCb(int code, ListResult* result, void* user) noexcept {
    SubCb("CVDShareFileCache::PrefetchSubCatalogCb", code, result, static_cast<SubListing*>(user), false);
  }

  uint32_t DeleteRecordById(const std::string& parentID, const std::vector<std::string>& ids) {
    const CacheSettings settings = GetSettings();
    WaitLoaded(kWholeMapWaitMs);  // the rows below a deleted catalog are found in memory
    std::lock_guard<std::mutex> write(m_writeLock);
    for (const std::string& id : ids) {
      std::set<std::string> purge;
      bool found = false;
      {
        std::lock_guard<std::mutex> records(m_recordLock);
        auto it = m_nodes.find(parentID);
        if (it != m_nodes.end())
          for (const ShareEntry& e : it->second) {
            if (e.catalog.catalogID == id) {
              found = true;
              Collect(id, purge);
            }
            if (e.content.contentID == id) found = true;
          }
      }
      if (!found) continue;
      if (settings.useDatabase)
        if (SQLConnectionPtr connection = OpenSQLConnection(settings.dbPath.c_str())) {
          connection->beginTransaction();
          DeleteShareRecordByID(connection.get(), parentID, id, true);
          DeleteShareRecordByID(connection.get(), parentID, id, false);
          for (const std::string& gone : purge) {
            DeleteShareRecordByParentID(connection.get(), gone, true);
            DeleteShareRecordByParentID(connection.get(), gone, false);
          }
          connection->commit();
        }
      std::lock_guard<std::mutex> records(m_recordLock);
      MarkWritten(parentID);
      for (const std::string& gone : purge) MarkWritten(gone);
      if (auto it = m_nodes.find(parentID); it != m_nodes.end())
        std::erase_if(it->second,
                      [&](const ShareEntry& e) { return e.catalog.catalogID == id || e.content.contentID == id; });
      for (const std::string& gone : purge) m_nodes.erase(gone);
      std::lock_guard<std::mutex> listed(m_listedLock);
      for (const std::string& gone : purge) m_listed.erase(gone);
    }
    return kCacheOk;
  }

  void Collect(const std::string& id, std::set<std::string>& purge) {
    if (!purge.insert(id).second) return;
    auto it = m_nodes.find(id);
    if (it == m_nodes.end()) return;
    for (const ShareEntry& e : it->second)
      if (e.HasCatalog()) Collect(e.catalog.catalogID, purge);
  }

  void AddLocalCatalogInfo(const std::string& id, const LocalCatalogInfo& info) {
    std::lock_guard<std::mutex> lock(m_pathLock);
    m_paths[id] = info;
  }
  std::string GetCatalogPath(const std::string& id) {
    std::string path = WalkCatalogPath(id);
    std::lock_guard<std::mutex> lock(m_diskNameLock);
    return m_diskName + "\\" + path;
  }
  std::string WalkCatalogPath(const std::string& id) {
    std::lock_guard<std::mutex> lock(m_pathLock);
    return CatalogNamesPath(m_paths, id);
  }

  ICloudSdk* m_sdk;
  GuardedSettings m_settings;
  std::mutex m_writeLock;
  std::mutex m_recordLock;
  NodeMap m_nodes;
  // The load: m_loading, m_resident and m_loadPath are guarded by m_recordLock.
  bool m_loading = false;
  std::set<std::string> m_resident;  // parents the load must leave as they are
  std::string m_loadPath;
  std::condition_variable m_loadDone;  // with m_recordLock
  std::mutex m_loaderLock;             // the thread object
  std::thread m_loader;
  std::atomic<bool> m_stopLoad{false};
  std::function<void()> m_beforePublish;  // tests hold the load here
  // Answers that walk every stored parent wait for the load this long at most.
  static constexpr uint32_t kWholeMapWaitMs = 30000;
  std::mutex m_listedLock;
  std::set<std::string> m_listed;
  PendingKeys m_pending;
  std::mutex m_receiverLock;
  std::set<CacheReceiver> m_cacheReceivers;
  std::set<CacheReceiver> m_pageReceivers;
  std::mutex m_pathLock;
  std::map<std::string, LocalCatalogInfo> m_paths;
  std::mutex m_diskNameLock;
  std::string m_diskName = DiskDisplayName();
  std::atomic<uint32_t> m_pagePauseMs{100};
  ListingTracker m_listings;
};

CVDShareFileCache* CVDShareFileCache::GetInstance() {
  static CVDShareFileCache* instance = new CVDShareFileCache();  // lives until the module unloads
  return instance;
}

CVDShareFileCache::CVDShareFileCache(ICloudSdk* sdk) : m_impl(new CVDShareFileCacheImpl(sdk)) {}
CVDShareFileCache::~CVDShareFileCache() {
  while (!m_impl->m_listings.WaitIdle(1000)) {
  }
  m_impl->StopLoad();
}

uint32_t CVDShareFileCache::Initialize(uint32_t mode, bool useDatabase, const std::string& dbPath,
                                       const std::string& account) {
  return m_impl->Initialize(mode, useDatabase, dbPath, account);
}
uint32_t CVDShareFileCache::Destroy() { return m_impl->Destroy(); }
uint32_t CVDShareFileCache::FetchShareCatalog(const std::string& key, const ShareListRequest& templ) {
  return m_impl->FetchShareCatalog(key, templ);
}
uint32_t CVDShareFileCache::GetDisk(const std::string& key, const ShareListRequest& templ, ShareListResult* result,
                                    bool synchronous) {
  return m_impl->GetDisk(key, templ, "-1", "-1", result, synchronous);
}
uint32_t CVDShareFileCache::GetDiskEx(const std::string& key, const ShareListRequest& templ,
                                      const std::string& startNumber, const std::string& endNumber,
                                      ShareListResult* result, bool synchronous) {
  return m_impl->GetDisk(key, templ, startNumber, endNumber, result, synchronous);
}
uint32_t CVDShareFileCache::PrefetchSubCatalog(const std::string& path, const std::string& catalogID) {
  return m_impl->PrefetchSubCatalog(path, catalogID);
}
uint32_t CVDShareFileCache::GetDiskFromCache(const std::string& key, ShareListResult* result) {
  return m_impl->GetDiskFromCache(key, result);
}
uint32_t CVDShareFileCache::GetDiskFromCacheEx(const std::string& key, const std::string& startNumber,
                                               const std::string& endNumber, ShareListResult* result) {
  return m_impl->GetDiskFromCacheEx(key, startNumber, endNumber, result);
}
std::string CVDShareFileCache::ShareRootKey() { return RootKey(); }
uint32_t CVDShareFileCache::GetSubCatalogList(const ListRequest& request, ListResult* result, bool synchronous) {
  return m_impl->GetSubCatalogList(request, result, synchronous);
}
uint32_t CVDShareFileCache::GetSubCatalogFromCache(const ListRequest& request, ListResult* result) {
  return m_impl->GetSubCatalogFromCache(request, result);
}
uint32_t CVDShareFileCache::PrefetchAllCatalog(const std::string& path, const std::string& catalogID) {
  return m_impl->PrefetchAllCatalog(path, catalogID);
}
uint32_t CVDShareFileCache::DeleteRecordById(const std::string& parentID, const std::vector<std::string>& ids) {
  return m_impl->DeleteRecordById(parentID, ids);
}
bool CVDShareFileCache::IsListed(const std::string& key) { return m_impl->IsListed(key); }
int CVDShareFileCache::AddEventReceiver(CacheReceiver receiver) {
  std::lock_guard<std::mutex> lock(m_impl->m_receiverLock);
  m_impl->m_cacheReceivers.insert(receiver);
  return 0;
}
int CVDShareFileCache::AddUpdatePageEventReceiver(CacheReceiver receiver) {
  std::lock_guard<std::mutex> lock(m_impl->m_receiverLock);
  m_impl->m_pageReceivers.insert(receiver);
  return 0;
}
std::string CVDShareFileCache::GetCatalogPath(const std::string& catalogID) {
  return m_impl->GetCatalogPath(catalogID);
}
void CVDShareFileCache::AddLocalCatalogInfo(const std::string& catalogID, const LocalCatalogInfo& info) {
  m_impl->AddLocalCatalogInfo(catalogID, info);
}
void CVDShareFileCache::SetThumbnailPrefetch(IThumbnailPrefetch* prefetch) {
  m_impl->m_settings.SetThumbnails(prefetch);
}
void CVDShareFileCache::SetPagePauseMs(uint32_t ms) { m_impl->m_pagePauseMs = ms; }
void CVDShareFileCache::SetDiskDisplayName(const std::string& name) {
  std::lock_guard<std::mutex> lock(m_impl->m_diskNameLock);
  m_impl->m_diskName = name;
}
bool CVDShareFileCache::WaitIdle(uint32_t timeoutMs) { return m_impl->m_listings.WaitIdle(timeoutMs); }
bool CVDShareFileCache::WaitLoaded(uint32_t timeoutMs) { return m_impl->WaitLoaded(timeoutMs); }
void CVDShareFileCache::SetBeforeLoadPublish(std::function<void()> hold) {
  m_impl->m_beforePublish = std::move(hold);
}

}  // namespace vdcache
