#include "vd_cache.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

#include "cache_sql.h"
#include "cache_text.h"
#include "compare_cache.h"
#include "contact_file.h"
#include "page_walk.h"
#include "platform/fault.h"
#include "platform/text.h"
#include "string_table.h"
#include "service/sql_ptr.h"
#include "trace.h"

namespace vdcache {

struct CVDCache::Listing {
  CVDCache* cache;
  ListRequest request;
  std::unique_ptr<PageWalk> pages;  // a first listing's walk over its pages
  std::shared_ptr<TreeWalk> tree;   // a whole-tree prefetch's catalogs
  int depth;                        // below the prefetch's start
};

std::string DiskDisplayName() {
  return platform::WideToOem(platform::Utf8ToUtf16(vd::resources::LoadText(vd::resources::IDS_DISK_DISPLAY_NAME)));
}

CVDCache* CVDCache::GetInstance() {
  static CVDCache* instance = new CVDCache();  // lives until the module unloads
  return instance;
}

CVDCache::CVDCache(ICloudSdk* sdk) : m_sdk(sdk), m_diskName(DiskDisplayName()) {}

CVDCache::~CVDCache() {
  // A callback still running would touch this object; wait for the last one.
  while (!m_listings.WaitIdle(1000)) {
  }
  // The load's last step writes the listed set, which dies before the store.
  m_store.Clear();
}

ICloudSdk* CVDCache::Sdk() const { return m_sdk ? m_sdk : CurrentCloudSdk(); }

CacheSettings CVDCache::GetSettings() { return m_settings.Get(); }

bool CVDCache::IsLoaded() { return m_settings.Loaded(); }

// ------------------------------------------------------------------ store

namespace {

// Catalogs whose first listing began and has not ended (their rows are a
// start, not the catalog). Kept beside the cache's tables, which stay as
// they are.
const char* const kFirstListingsSchema = "create table if not exists firstListings(catalogID char(32) primary key)";

std::set<std::string> ReadUnfinished(SQLConnection* connection) {
  std::set<std::string> unfinished;
  SQLPreparedStatementPtr st(connection->prepareStatement("select catalogID from firstListings"));
  if (!st) return unfinished;
  SQLResultSetPtr rs(st->executeQuery());
  if (!rs) return unfinished;
  char id[64];
  while (rs->next()) {
    id[0] = '\0';
    rs->getString(0, id, sizeof id);
    unfinished.insert(id);
  }
  return unfinished;
}

void MarkFirstListing(SQLConnection* connection, const std::string& catalogID, bool begun) {
  SQLPreparedStatementPtr st(connection->prepareStatement(
      begun ? "insert or ignore into firstListings values(?)" : "delete from firstListings where catalogID = ?"));
  if (st && st->bindText(1, catalogID.c_str(), -1) == 0) st->execute();
}

// A window [start, end) over the children as one sequence, catalogs first.
void AppendWindow(const CatalogChildren& children, const std::string& parentID, std::size_t start, std::size_t end,
                  ListResult* result) {
  const std::size_t catalogs = children.catalogs.Count();
  children.catalogs.ForEach(start, std::min(end, catalogs), [&](const auto& page, std::size_t row) {
    result->catalogs.push_back(page.Read(row));
    result->catalogs.back().parentCatalogID = parentID;
    return true;
  });
  if (end > catalogs) {
    children.contents.ForEach(start > catalogs ? start - catalogs : 0, end - catalogs,
                              [&](const auto& page, std::size_t row) {
                                result->contents.push_back(page.Read(row));
                                return true;
                              });
  }
}

}  // namespace

uint32_t CVDCache::Initialize(uint32_t mode, bool useDatabase, const std::string& dbPath,
                              const std::string& account) {
  VD_TRACE("CVDCache::Initialize");
  m_store.Clear();
  m_settings.Open(mode, useDatabase, dbPath, account);
  if (!useDatabase) return kCacheOk;
  std::set<std::string> unfinished;
  {
    std::lock_guard<std::mutex> write(m_writeLock);
    SQLConnectionPtr connection = OpenSQLConnection(dbPath.c_str());
    if (!connection) return kCacheDbFailure;
    if (!RunSchema(connection.get(), kCatalogCacheSchema, 4)) return kCacheDbFailure;
    RunSchema(connection.get(), &kFirstListingsSchema, 1);
    unfinished = ReadUnfinished(connection.get());
  }
  {
    std::lock_guard<std::mutex> listed(m_listedLock);
    m_unfinished = std::move(unfinished);
  }
  // The rows load on a thread of their own; until they are in, a catalog
  // asked for is read from the file by itself.
  m_store.StartLoad(dbPath, [this](const CatalogStore::Loaded& found) {
    std::lock_guard<std::mutex> listed(m_listedLock);
    // A catalog deleted while the load ran had rows when the file was read:
    // only a parent that still has children is listed. A delete after this
    // check erases under the same lock.
    for (const std::string& parent : found.parents)
      if (m_unfinished.count(parent) == 0 && m_store.Children(parent) != nullptr) m_listed.insert(parent);
  });
  m_settings.SetLoaded();
  return kCacheOk;
}

uint32_t CVDCache::Destroy() {
  VD_TRACE("CVDCache::Destroy");
  m_pending.Clear();
  m_store.Clear();
  return m_settings.Close() ? kCacheOk : kCacheNotLoaded;
}

ChildrenPtr CVDCache::GetChildren(const std::string& catalogID) {
  if (!IsLoaded()) return nullptr;
  return m_store.Children(catalogID);
}

std::unique_ptr<RowCursor> CVDCache::OpenRows(const std::string& catalogID) {
  if (!IsLoaded()) return nullptr;
  if (!m_store.IsResident(catalogID)) {
    // Still loading and not read yet: step the file as far as the reader goes.
    if (auto file = FileCursor(m_store.DbPath(), catalogID, m_store.FileReaderNote())) return file;
  }
  return SnapshotCursor(m_store.Children(catalogID));
}

uint32_t CVDCache::GetDiskFromCache(const ListRequest& request, ListResult* result) {
  if (!IsLoaded()) return kCacheNotLoaded;
  std::size_t appended = 0;
  if (ChildrenPtr children = m_store.Children(request.catalogID)) {
    appended = children->Count();
    AppendWindow(*children, request.catalogID, 0, appended, result);
  }
  result->totalCount = std::to_string(appended);
  return kCacheOk;
}

uint32_t CVDCache::GetDiskFromCacheEx(const ListRequest& request, ListResult* result) {
  if (!IsLoaded()) return kCacheNotLoaded;
  const int64_t start = ParseInt64(request.startNumber);
  const int64_t end = ParseInt64(request.endNumber);
  if (start == -1 || end == -1) return GetDiskFromCache(request, result);
  // One snapshot for the whole window: a page never mixes the catalogs of
  // one listing with the contents of the next. An empty window reads nothing.
  if (ChildrenPtr children = end > start && end > 0 ? m_store.Children(request.catalogID) : nullptr) {
    AppendWindow(*children, request.catalogID, static_cast<std::size_t>(std::max<int64_t>(start, 0)),
                 static_cast<std::size_t>(end), result);
  }
  result->totalCount = std::to_string(end - start);
  return kCacheOk;
}

bool CVDCache::HasSubCatalog(const std::string& catalogID) {
  if (!IsLoaded()) return false;
  ChildrenPtr children = m_store.Children(catalogID);
  return children && children->catalogs.Count() > 0;
}

bool CVDCache::IsListed(const std::string& catalogID) {
  {
    std::lock_guard<std::mutex> lock(m_listedLock);
    if (m_listed.count(catalogID) != 0) return true;
    if (m_unfinished.count(catalogID) != 0) return false;
  }
  // While the file loads, a catalog with rows in it was listed before.
  if (!m_store.Loading()) return false;
  if (m_store.IsResident(catalogID)) return m_store.Children(catalogID) != nullptr;
  return m_store.HasRowsInFile(catalogID);
}

bool CVDCache::IsUnfinished(const std::string& catalogID) {
  std::lock_guard<std::mutex> lock(m_listedLock);
  return m_unfinished.count(catalogID) != 0;
}

bool CVDCache::IsPending(const std::string& catalogID) { return m_pending.Contains(catalogID); }

void CVDCache::AddListed(const std::string& catalogID) {
  std::lock_guard<std::mutex> lock(m_listedLock);
  m_listed.insert(catalogID);
  m_unfinished.erase(catalogID);
}

void CVDCache::AddUnfinished(const std::string& catalogID) {
  std::lock_guard<std::mutex> lock(m_listedLock);
  if (m_listed.count(catalogID) == 0) m_unfinished.insert(catalogID);
}

// Every catalog below catalogID, catalogID included.
void CVDCache::CollectDescendants(const std::string& catalogID, std::set<std::string>& purge) {
  std::vector<std::string> todo{catalogID};
  while (!todo.empty()) {
    std::string id = std::move(todo.back());
    todo.pop_back();
    if (!purge.insert(id).second) continue;  // a cycle in bad data ends here
    if (ChildrenPtr children = m_store.Children(id)) {
      children->catalogs.ForEach(0, children->catalogs.Count(), [&](const auto& page, std::size_t row) {
        todo.emplace_back(page.Field(row, RowLayout<CatalogInfo>::kId));
        return true;
      });
    }
  }
}

uint32_t CVDCache::DeleteRecordById(const std::string& parentID, const std::vector<std::string>& ids) {
  VD_TRACE("CVDCache::DeleteRecordById");
  const CacheSettings settings = GetSettings();
  std::lock_guard<std::mutex> write(m_writeLock);
  for (const std::string& id : ids) {
    // What goes: the entries under the parent, and for a catalog its subtree.
    ListResult kept;
    kept.request.catalogID = parentID;
    bool isCatalog = false, isContent = false;
    if (ChildrenPtr children = m_store.Children(parentID)) {
      AppendWindow(*children, parentID, 0, children->Count(), &kept);
    }
    isCatalog = std::erase_if(kept.catalogs, [&](const CatalogInfo& c) { return c.catalogID == id; }) > 0;
    isContent = std::erase_if(kept.contents, [&](const ContentInfo& c) { return c.contentID == id; }) > 0;
    if (!isCatalog && !isContent) continue;
    std::set<std::string> purge;
    if (isCatalog) CollectDescendants(id, purge);
    if (settings.useDatabase) {
      SQLConnectionPtr connection = OpenSQLConnection(settings.dbPath.c_str());
      if (connection) {
        connection->beginTransaction();
        if (isCatalog) DeleteRecordByID(connection.get(), parentID, id, true);
        for (const std::string& gone : purge) {
          DeleteRecordByParentID(connection.get(), gone, true);
          DeleteRecordByParentID(connection.get(), gone, false);
        }
        if (isContent) DeleteRecordByID(connection.get(), parentID, id, false);
        connection->commit();
      }
    }
    m_store.Put(parentID, CatalogStore::Pack(kept));
    for (const std::string& gone : purge) m_store.Put(gone, nullptr);
    std::lock_guard<std::mutex> listed(m_listedLock);
    for (const std::string& gone : purge) {
      m_listed.erase(gone);
      m_unfinished.erase(gone);
    }
  }
  return kCacheOk;
}

std::string CatalogNamesPath(const std::map<std::string, LocalCatalogInfo>& index, const std::string& catalogID) {
  std::string path;
  auto it = index.find(catalogID);
  if (it == index.end()) return path;
  path = it->second.catalogName;
  std::set<std::string> seen{catalogID};
  std::string parent = it->second.parentCatalogID;
  while (!parent.empty() && seen.insert(parent).second) {
    auto p = index.find(parent);
    if (p == index.end()) break;
    if (!p->second.catalogName.empty()) path = p->second.catalogName + "\\" + path;
    parent = p->second.parentCatalogID;
  }
  return path;
}

std::string CVDCache::GetCatalogPath(const std::string& catalogID) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(m_pathLock);
    path = CatalogNamesPath(m_catalogPaths, catalogID);
  }
  std::lock_guard<std::mutex> lock(m_diskNameLock);
  return m_diskName + "\\" + path;
}

void CVDCache::AddLocalCatalogInfo(const std::string& catalogID, const LocalCatalogInfo& info) {
  std::lock_guard<std::mutex> lock(m_pathLock);
  m_catalogPaths[catalogID] = info;
}

void CVDCache::SetDiskDisplayName(const std::string& name) {
  std::lock_guard<std::mutex> lock(m_diskNameLock);
  m_diskName = name;
}

int CVDCache::AddEventReceiver(CacheReceiver receiver) {
  std::lock_guard<std::mutex> lock(m_receiverLock);
  m_cacheReceivers.insert(receiver);
  return 0;
}

int CVDCache::AddUpdatePageEventReceiver(CacheReceiver receiver) {
  std::lock_guard<std::mutex> lock(m_receiverLock);
  m_pageReceivers.insert(receiver);
  return 0;
}

// Receivers run with no cache lock held: they read the cache and post to
// windows, and a lock held here would order them against every reader.
void CVDCache::NotifyReceivers(const std::set<CacheReceiver>& which, const std::string& catalogID) {
  std::set<CacheReceiver> copy;
  {
    std::lock_guard<std::mutex> lock(m_receiverLock);
    copy = which;
  }
  // One receiver that throws neither stops the others nor the listing.
  for (CacheReceiver receiver : copy) platform::NoThrow("CacheReceiver", [&] { receiver(catalogID); });
}

void CVDCache::NotifyCacheReceivers(const std::string& catalogID) { NotifyReceivers(m_cacheReceivers, catalogID); }
void CVDCache::NotifyPageReceivers(const std::string& catalogID) { NotifyReceivers(m_pageReceivers, catalogID); }

void CVDCache::SetThumbnailPrefetch(IThumbnailPrefetch* prefetch) {
  m_settings.SetThumbnails(prefetch);
}

// ------------------------------------------------------------------ writes

bool CVDCache::CompareCache(const ListResult& listing) {
  ChildrenPtr stored = m_store.Children(listing.request.catalogID);
  return vdcache::CompareCache(stored.get(), listing.catalogs, listing.contents);
}

void CVDCache::UpdateCache(const ListResult& listing) {
  VD_TRACE("CVDCache::UpdateCache");
  const std::string& parent = listing.request.catalogID;
  const CacheSettings settings = GetSettings();
  {
    std::lock_guard<std::mutex> write(m_writeLock);
    if (settings.useDatabase) {
      if (SQLConnectionPtr connection = OpenSQLConnection(settings.dbPath.c_str())) {
        connection->beginTransaction();
        DeleteRecordByParentID(connection.get(), parent, true);
        for (const CatalogInfo& c : listing.catalogs) AddCatalog(connection.get(), parent, c);
        DeleteRecordByParentID(connection.get(), parent, false);
        for (const ContentInfo& c : listing.contents) AddContent(connection.get(), parent, c);
        MarkFirstListing(connection.get(), parent, false);  // whole now
        connection->commit();
      }
    }
    m_store.Put(parent, CatalogStore::Pack(listing));
  }
  AddListed(parent);
}

void CVDCache::PushbackCache(const ListResult& page) {
  VD_TRACE("CVDCache::PushbackCache");
  const std::string& parent = page.request.catalogID;
  const CacheSettings settings = GetSettings();
  std::lock_guard<std::mutex> write(m_writeLock);
  // The rows the file already holds come first, before the page joins them.
  m_store.EnsureResident(parent);
  if (settings.useDatabase) {
    if (SQLConnectionPtr connection = OpenSQLConnection(settings.dbPath.c_str())) {
      connection->beginTransaction();
      MarkFirstListing(connection.get(), parent, true);
      for (const CatalogInfo& c : page.catalogs) AddCatalog(connection.get(), parent, c);
      for (const ContentInfo& c : page.contents) AddContent(connection.get(), parent, c);
      connection->commit();
    }
  }
  m_store.Append(parent, page);
}

void CVDCache::EndFirstListing(const std::string& catalogID, bool whole) {
  if (!whole) {
    AddUnfinished(catalogID);
    return;
  }
  const CacheSettings settings = GetSettings();
  if (settings.useDatabase) {
    std::lock_guard<std::mutex> write(m_writeLock);
    if (SQLConnectionPtr connection = OpenSQLConnection(settings.dbPath.c_str())) {
      MarkFirstListing(connection.get(), catalogID, false);
    }
  }
  AddListed(catalogID);
}

std::size_t CVDCache::MemoryBytes() { return m_store.RowBytes(); }
bool CVDCache::WaitLoaded(uint32_t timeoutMs) { return m_store.WaitLoaded(timeoutMs); }

// ------------------------------------------------------------------ listings

ListRequest CVDCache::MakeRequest(const std::string& catalogID, const std::string& path, bool alwaysUpdate) const {
  ListRequest request;
  request.account = m_settings.Account();
  request.catalogID = catalogID;
  request.catalogSortType = "0";
  request.contentSortType = "0";
  request.startNumber = "1";
  request.endNumber = std::to_string(kPageSize);
  request.filterType = "-1";
  request.path = path;
  request.alwaysUpdate = alwaysUpdate;
  return request;
}

void CVDCache::RemovePending(const std::string& catalogID) { m_pending.Remove(catalogID); }

uint32_t CVDCache::StartListing(const std::string& catalogID, const std::string& path, bool alwaysUpdate,
                                SdkCallback<ListResult> callback, std::shared_ptr<TreeWalk> walk, int depth) {
  std::unique_ptr<Listing> listing(new (std::nothrow) Listing{this, MakeRequest(catalogID, path, alwaysUpdate), nullptr, nullptr, depth});
  if (listing) listing->tree = std::move(walk);
  ICloudSdk* sdk = Sdk();
  return StartBackgroundListing(m_pending, m_listings, catalogID, std::move(listing),
                                [&](Listing* l) { return sdk ? sdk->ls(l->request, callback, l) : -1; });
}

void CVDCache::EndListing(Listing* listing) noexcept {
  delete listing;
  m_listings.End();
}

// A callback that threw: the catalog is no longer pending, a first listing
// counts as unfinished (the next look refreshes it whole), and the listing ends.
void CVDCache::AbandonListing(Listing* listing, bool first) noexcept {
  platform::NoThrow("CVDCache::AbandonListing", [&] {
    RemovePending(listing->request.catalogID);
    if (first) AddUnfinished(listing->request.catalogID);
  });
  EndListing(listing);
}

uint32_t CVDCache::GetDiskRemain(ListRequest& request, ListResult* result) {
  PageWalk walk(result->totalCount);
  walk.TakeNew(*result);
  ICloudSdk* sdk = Sdk();
  while (walk.WantsMore()) {
    NextPage(walk, request.startNumber, request.endNumber);
    ListResult page;
    if (!sdk || sdk->SyncLs(request, &page) != 0) return kCacheListFailed;
    walk.Lower(page.totalCount);
    if (!walk.TakeNew(page)) break;  // nothing new: the service is repeating itself
    result->catalogs.insert(result->catalogs.end(), page.catalogs.begin(), page.catalogs.end());
    result->contents.insert(result->contents.end(), page.contents.begin(), page.contents.end());
  }
  return kCacheOk;
}

uint32_t CVDCache::GetDisk(const ListRequest& request, ListResult* result, bool synchronous, bool alwaysUpdate) {
  VD_TRACE("CVDCache::GetDisk");
  const CacheSettings settings = GetSettings();
  if (!settings.loaded) return kCacheNotLoaded;
  if (settings.mode != 0 && !synchronous) {
    // An unfinished catalog shows the rows it has while it is listed whole.
    if (IsListed(request.catalogID) || IsUnfinished(request.catalogID)) GetDiskFromCacheEx(request, result);
    return StartListing(request.catalogID, request.path, alwaysUpdate, &CVDCache::GetDiskCb);
  }
  ListRequest own = MakeRequest(request.catalogID, request.path, alwaysUpdate);
  ICloudSdk* sdk = Sdk();
  if (!sdk || sdk->SyncLs(own, result) != 0) return kCacheListFailed;
  result->request = own;
  const uint32_t rc = GetDiskRemain(own, result);
  ListResult listing = *result;
  listing.request.catalogID = request.catalogID;
  UpdateCache(listing);
  if (settings.mode == 2) DoPrefetchSubCatalog(listing, request.path);
  return rc;
}

uint32_t CVDCache::GetDiskEx(const ListRequest& request, ListResult* result, bool synchronous) {
  // The service is always asked for the first page; the window only shapes the store read.
  return GetDisk(request, result, synchronous, false);
}

void CVDCache::GetDiskCb(int code, ListResult* result, void* user) noexcept {
  auto* listing = static_cast<Listing*>(user);
  CVDCache* self = listing->cache;
  bool first = false;
  if (!platform::NoThrow("CVDCache::GetDiskCb", [&] {
        first = !self->IsListed(listing->request.catalogID) && !self->IsUnfinished(listing->request.catalogID);
        if (first) {
          self->OnFirstPage(code, result, listing);
        } else {
          self->OnRefreshed(code, result, listing);
        }
      })) {
    self->AbandonListing(listing, first);
  }
}

void CVDCache::OnRefreshed(int code, ListResult* result, Listing* listing) {
  VD_TRACE("CVDCache::GetDiskCb");
  const std::string catalogID = listing->request.catalogID;
  ListResult whole;
  const bool ok = code == 0 && result != nullptr;
  if (!ok) {
    VD_LOG_WARN("listing of %s failed: %d", catalogID.c_str(), code);
    NotifyCacheReceivers(catalogID);
  } else {
    whole = *result;
    GetDiskRemain(listing->request, &whole);
    whole.request = listing->request;
    const bool changed = listing->request.alwaysUpdate || IsUnfinished(catalogID) || CompareCache(whole);
    if (changed) {
      UpdateCache(whole);
      NotifyCacheReceivers(catalogID);
    } else if (whole.catalogs.empty() && whole.contents.empty()) {
      NotifyCacheReceivers(catalogID);
    }
  }
  RemovePending(catalogID);
  if (ok && GetSettings().mode == 2) DoPrefetchSubCatalog(whole, listing->request.path);
  EndListing(listing);
}

void CVDCache::FirstGetCacheCb(int code, ListResult* result, void* user) noexcept {
  auto* listing = static_cast<Listing*>(user);
  if (!platform::NoThrow("CVDCache::FirstGetCacheCb",
                         [&] { listing->cache->OnFirstPage(code, result, listing); })) {
    listing->cache->AbandonListing(listing, true);
  }
}

// One page of a catalog's first listing: stored and announced at once, so a
// large catalog fills its view page by page; the next page is asked for
// while the walk wants more.
void CVDCache::OnFirstPage(int code, ListResult* result, Listing* listing) {
  VD_TRACE("CVDCache::FirstGetCacheCb");
  const std::string catalogID = listing->request.catalogID;
  if (code != 0) VD_LOG_WARN("first listing of %s failed: %d", catalogID.c_str(), code);
  ListResult page;
  const bool fresh = TakeListingPage(code, result, listing->request, listing->pages, page);
  if (fresh) PushbackCache(page);
  NotifyPageReceivers(catalogID);
  // A listing cut short after some of its pages is unfinished, not whole: its
  // rows are shown and the next look lists it again.
  bool cut = code != 0 && listing->pages && listing->pages->Have() > 0;
  if (fresh && listing->pages->WantsMore()) {
    const uint32_t pause = m_pagePauseMs.load();
    if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    NextPage(*listing->pages, listing->request.startNumber, listing->request.endNumber);
    ICloudSdk* sdk = Sdk();
    if (sdk && sdk->ls(listing->request, &CVDCache::FirstGetCacheCb, listing) == 0) return;
    cut = true;
  }
  RemovePending(catalogID);
  EndFirstListing(catalogID, !cut);
  EndListing(listing);
}

// ------------------------------------------------------------------ prefetch

uint32_t CVDCache::PrefetchAllCatalog(const std::string& path, const std::string& catalogID, bool) {
  if (!IsLoaded()) return kCacheNotLoaded;
  auto walk = std::make_shared<TreeWalk>();
  walk->Visit(catalogID, 0);
  return StartListing(catalogID, path, false, &CVDCache::PrefetchAllCatalogCb, std::move(walk), 0);
}

void CVDCache::PrefetchAllCatalogCb(int code, ListResult* result, void* user) noexcept {
  auto* listing = static_cast<Listing*>(user);
  CVDCache* self = listing->cache;
  if (!platform::NoThrow("CVDCache::PrefetchAllCatalogCb", [&] { self->OnPrefetched(code, result, listing); })) {
    self->AbandonListing(listing, false);
  }
}

void CVDCache::OnPrefetched(int code, ListResult* result, Listing* listing) {
  VD_TRACE("CVDCache::PrefetchAllCatalogCb");
  const std::string catalogID = listing->request.catalogID;
  const bool ok = code == 0 && result != nullptr;
  ListResult whole;
  if (ok) {
    whole = *result;
    GetDiskRemain(listing->request, &whole);
    whole.request = listing->request;
    if (CompareCache(whole)) UpdateCache(whole);
    if (IThumbnailPrefetch* thumbnails = GetSettings().thumbnails) thumbnails->QueueCatalog(catalogID, whole);
  }
  RemovePending(catalogID);
  if (ok) DoPrefetchAllCatalog(whole, listing->request.path, listing->tree, listing->depth + 1);
  EndListing(listing);
}

void CVDCache::DoPrefetchAllCatalog(const ListResult& listing, const std::string& path,
                                    const std::shared_ptr<TreeWalk>& walk, int depth) {
  for (const CatalogInfo& c : listing.catalogs) {
    if (walk && !walk->Visit(c.catalogID, depth)) continue;  // seen before, too deep, or the walk is full
    AddLocalCatalogInfo(c.catalogID, {c.catalogName, listing.request.catalogID});
    StartListing(c.catalogID, path + "/" + c.catalogID, false, &CVDCache::PrefetchAllCatalogCb, walk, depth);
  }
}

uint32_t CVDCache::PrefetchSubCatalog(const std::string& path, const std::string& catalogID) {
  if (!IsLoaded()) return kCacheNotLoaded;
  return StartListing(catalogID, path, false, &CVDCache::PrefetchSubCatalogCb);
}

void CVDCache::DoPrefetchSubCatalog(const ListResult& listing, const std::string& path) {
  for (const CatalogInfo& c : listing.catalogs) {
    if (c.catalogID == listing.request.catalogID) continue;  // listed as its own child
    PrefetchSubCatalog(path + "/" + c.catalogID, c.catalogID);
  }
}

void CVDCache::PrefetchSubCatalogCb(int code, ListResult* result, void* user) noexcept {
  auto* listing = static_cast<Listing*>(user);
  CVDCache* self = listing->cache;
  if (!platform::NoThrow("CVDCache::PrefetchSubCatalogCb", [&] {
        if (code == 0 && result != nullptr) {
          ListResult whole = *result;
          self->GetDiskRemain(listing->request, &whole);
          whole.request = listing->request;
          if (self->CompareCache(whole)) self->UpdateCache(whole);
        }
        self->RemovePending(listing->request.catalogID);
        self->EndListing(listing);
      })) {
    self->AbandonListing(listing, false);
  }
}

// ------------------------------------------------------------------ sharers

void CVDCache::SetShareUserHooks(ShareUserHooks hooks) {
  std::lock_guard<std::mutex> lock(m_shareUserLock);
  m_shareHooks = std::move(hooks);
}

void CVDCache::SetShareUser(const std::string& account, const std::string& name) {
  std::lock_guard<std::mutex> lock(m_shareUserLock);
  m_shareUsers[account] = name;
}

bool CVDCache::GetShareUser(std::map<std::string, std::string>& out) {
  std::lock_guard<std::mutex> lock(m_shareUserLock);
  if (m_shareUsers.empty()) return false;
  out = m_shareUsers;
  return true;
}

void CVDCache::SetShareNull() {
  std::lock_guard<std::mutex> lock(m_shareUserLock);
  m_shareUsers.clear();
}

bool CVDCache::HasInitShareUser() {
  std::lock_guard<std::mutex> lock(m_shareUserLock);
  return m_shareUsersLoaded;
}

void CVDCache::SetGetShareUserSuccess(int loaded) {
  std::lock_guard<std::mutex> lock(m_shareUserLock);
  m_shareUsersLoaded = loaded != 0;
}

bool CVDCache::InitShareUser() { return StartShareUserLoad(true) == ShareUserLoad::Started; }

ShareUserLoad CVDCache::LoadShareUser() { return StartShareUserLoad(false); }

ShareUserLoad CVDCache::StartShareUserLoad(bool evenIfLoaded) {
  VD_TRACE("CVDCache::InitShareUser");
  {
    std::lock_guard<std::mutex> lock(m_shareUserLock);
    if (m_shareUsersRunning) return ShareUserLoad::Running;
    if (m_shareUsersLoaded && !evenIfLoaded) return ShareUserLoad::Loaded;
    m_shareUsersRunning = true;
  }
  ItemGetListRequest request;
  request.account = GetSettings().account;
  request.itemType = "1";
  request.flag = "1";
  ICloudSdk* sdk = Sdk();
  m_listings.Begin();
  if (!sdk || sdk->itemGetList(request, nullptr, &CVDCache::ItemGetListCallback, this) != 0) {
    m_listings.End();
    std::lock_guard<std::mutex> lock(m_shareUserLock);
    m_shareUsersRunning = false;
    return ShareUserLoad::Failed;
  }
  return ShareUserLoad::Started;
}

void CVDCache::ItemGetListCallback(int code, ItemGetListResult* result, void* user) noexcept {
  auto* self = static_cast<CVDCache*>(user);
  if (!platform::NoThrow("CVDCache::ItemGetListCallback", [&] { self->OnShareUsers(code, result); })) {
    self->SetGetShareUserSuccess(0);
  }
  {
    std::lock_guard<std::mutex> lock(self->m_shareUserLock);
    self->m_shareUsersRunning = false;
  }
  self->m_listings.End();
}

void CVDCache::OnShareUsers(int code, ItemGetListResult* result) {
  VD_TRACE("CVDCache::ItemGetListCallback");
  ShareUserHooks hooks;
  {
    std::lock_guard<std::mutex> lock(m_shareUserLock);
    hooks = m_shareHooks;
  }
  if (code == 0 && result != nullptr) {
    SetShareNull();
    for (const ItemInfo& item : result->items)
      for (const std::string& account : item.accountList)
        SetShareUser(account, item.itemName.empty() || account.empty() ? account : item.itemName);
    SetGetShareUserSuccess(1);
    if (hooks.contactFolder) {
      const std::string folder = hooks.contactFolder();
      if (!folder.empty()) WriteItemInfoToFile(folder, result->items);
    }
    {
      // Views that hear of the names below may ask again at once: the load
      // must not look running to them.
      std::lock_guard<std::mutex> lock(m_shareUserLock);
      m_shareUsersRunning = false;
    }
    if (hooks.broadcastLoaded) hooks.broadcastLoaded();
  } else {
    SetGetShareUserSuccess(0);
    VD_LOG_WARN("Get List Fail! iRet = %d", code);
    if (code == kSdkTokenInvalid) {
      VD_LOG_WARN("Send SHELL_NIMBRA_TOKEN_INVALID To Nimbra");
      if (hooks.tokenInvalid) hooks.tokenInvalid();
    }
  }
}

}  // namespace vdcache
