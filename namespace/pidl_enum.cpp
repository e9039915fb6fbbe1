#include "pidl_enum.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <mutex>
#include <new>

#include "cache_result.h"
#include "cloud_sdk_records.h"
#include "pidl_records.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "trace.h"
#include "share_file_cache.h"
#include "string_table.h"
#include "vd_cache.h"

namespace vd {

namespace {

constexpr std::string_view kRootId = "00019700101000000001";
constexpr std::string_view kPicturesFixedPart = "00019700101000000043";
constexpr std::string_view kVideosFixedPart = "00019700101000000044";
constexpr std::size_t kKeyCompareChars = 32;

// Rows with parent key 0 are only looked up by index; rows under 4 are what
// the cloud disk root lists, in this order.
constexpr std::array<SymbolLink, 8> kSymbolLinks = {{
    {kNodeCloudRoot, 0, u"Veyra云盘", "00019700101000000001", kKindNode},
    {kNodeMessages, 0, u"短彩信", std::nullopt, kKindNode},
    {kNodeContacts, 0, u"Tallybook", std::nullopt, kKindNode},
    {kNodeCalendar, 0, u"日历", std::nullopt, kKindNode},
    {kNodeNotes, 0, u"Quillpad", std::nullopt, kKindNode},
    {kNodeReceivedShares, kNodeCloudRoot, u"收到的分享", "", kKindNode},
    {kNodePhoneVideos, kNodeCloudRoot, u"手机视频", "00019700101000000044", kKindNode},
    {kNodePhonePictures, kNodeCloudRoot, u"手机图片", "00019700101000000043", kKindNode},
}};

struct SharePathMap {
    std::mutex lock;
    std::map<std::string, std::string> paths;
};

SharePathMap& SharePaths() {
    static SharePathMap map;  // lives as long as the process
    return map;
}

std::string Decimal(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    return buf;
}

}  // namespace

CIVDPidlEnumEx::CIVDPidlEnumEx(PidlEnumEnv env, const VDPidlMgr& mgr) : m_env(std::move(env)), m_mgr(mgr) {}

std::span<const SymbolLink> CIVDPidlEnumEx::SymbolLinks() noexcept { return kSymbolLinks; }

const SymbolLink* CIVDPidlEnumEx::FindSymbolLink(std::int32_t index) noexcept {
    for (const SymbolLink& row : kSymbolLinks) {
        if (row.index == index) {
            return &row;
        }
    }
    return nullptr;
}

bool CIVDPidlEnumEx::IsCatalogEqual(const CatalogKey& a, const CatalogKey& b) noexcept {
    if (a.IsNode() != b.IsNode()) {
        return false;
    }
    if (a.IsNode()) {
        return a.NodeIndex() == b.NodeIndex();
    }
    return a.CatalogId().substr(0, kKeyCompareChars) == b.CatalogId().substr(0, kKeyCompareChars);
}

std::u16string CIVDPidlEnumEx::Widen(std::string_view text) const {
    return m_env.toWide ? m_env.toWide(text) : platform::AnsiToWide(text);
}

CIVDPidlEnumEx::Folder CIVDPidlEnumEx::ResolveFolder(PcPidl folder) const {
    Folder out;
    out.catalogId = std::string(kRootId);
    const PcPidl last = folder != nullptr ? VDPidlMgr::GetLastItem(folder) : nullptr;
    if (last == nullptr) {
        return out;
    }
    out.isRoot = false;
    if (VDPidlMgr::GetItemType(folder) == kKindNode) {
        const int index = VDPidlMgr::GetNodeIndex(folder);
        out.key = CatalogKey::Node(index);
        const SymbolLink* row = FindSymbolLink(index);
        out.catalogId = row != nullptr && row->catalogId ? std::string(*row->catalogId) : std::string();
        return out;
    }
    std::u16string id = VDPidlMgr::GetIdString(folder);
    out.catalogId = platform::WideToAnsi(id);
    out.key = CatalogKey::Catalog(std::move(id));
    return out;
}

std::uint32_t CIVDPidlEnumEx::SymbolLinkState(const SymbolLink& row) const {
    if (!m_env.isFolderLocalSynFolder) {
        return kStatePlain;
    }
    if (row.index == kNodePhonePictures) {
        return m_env.isFolderLocalSynFolder(m_env.userId + std::string(kPicturesFixedPart)) > 0 ? kStateSynced
                                                                                                : kStatePlain;
    }
    if (row.index == kNodePhoneVideos) {
        return m_env.isFolderLocalSynFolder(m_env.userId + std::string(kVideosFixedPart)) > 0 ? kStateSynced
                                                                                              : kStatePlain;
    }
    const std::string id = row.catalogId ? std::string(*row.catalogId) : std::string();
    return m_env.isFolderLocalSynFolder(id) == 1 ? kStateSynced : kStatePlain;
}

void CIVDPidlEnumEx::InitSymbolLinks(const CatalogKey& key) noexcept {
    try {
        for (const SymbolLink& row : kSymbolLinks) {
            if (IsCatalogEqual(CatalogKey::Node(row.parentKey), key)) {
                Append(m_mgr.CreateNode(row.index, row.name, SymbolLinkState(row)));
            }
        }
    } catch (...) {
        // The sync check or a string copy failed; the nodes made so far stay.
        VD_LOG_WARN("fixed nodes incomplete");
    }
}

void CIVDPidlEnumEx::AddRecords(const ListResult& result, std::uint32_t flags) noexcept {
    try {
        if ((flags & kShcontfFolders) != 0) {
            for (const CatalogInfo& c : result.catalogs) {
                const std::u16string id = Widen(c.catalogID);
                const std::u16string name = Widen(c.catalogName);
                Append(CreateCatalogPidl(m_mgr, {id, name, c.updatetime, c.catalogType, c.shareType}));
            }
        }
        if ((flags & kShcontfNonFolders) != 0) {
            for (const ContentInfo& c : result.contents) {
                const std::u16string id = Widen(c.contentID);
                const std::u16string name = Widen(c.contentName);
                Append(CreateContentPidl(m_mgr, {id, name, c.updateTime, c.contentSize, c.shareType}));
            }
        }
    } catch (...) {
        VD_LOG_WARN("entries incomplete");
    }
}

void CIVDPidlEnumEx::Append(PidlPtr item) const noexcept {
    if (item == nullptr) {
        return;  // hidden catalog or allocator failure
    }
    UniquePidl owned = m_mgr.Own(item);
    try {
        m_items.push_back(std::move(owned));
    } catch (const std::bad_alloc&) {
        // `owned` frees the element on the way out.
    }
}

bool CIVDPidlEnumEx::Init(PcPidl folder, std::uint32_t flags, bool cacheOnly, int shareMode) noexcept {
    VD_TRACE("CIVDPidlEnumEx::Init");
    if (m_env.cache == nullptr) {
        return false;
    }
    try {
        const Folder f = ResolveFolder(folder);
        if (shareMode != 0) {
            InitSymbolLinks(f.key);
            AddShareFilePidls(folder, shareMode, flags, cacheOnly, -1, -1, nullptr);
            return true;
        }
        ListRequest request;
        request.account = m_env.account;
        request.catalogID = f.catalogId;
        // An empty window: the call starts the refresh and checks the store;
        // the rows come from one snapshot below, made into identifiers only
        // as they are asked for.
        request.startNumber = "0";
        request.endNumber = "0";
        ListResult result;
        const std::uint32_t code = cacheOnly && !f.isRoot ? m_env.cache->GetDiskFromCacheEx(request, &result)
                                                          : m_env.cache->GetDisk(request, &result, false, false);
        if (code != vdcache::kCacheOk) {
            VD_LOG_ERROR("GetDisk from cache failed! ErrorCode: %d", static_cast<int>(code));
            return false;
        }
        InitSymbolLinks(f.key);
        m_pending.rows = m_env.cache->OpenRows(f.catalogId);
        m_pending.flags = flags;
        m_pending.catalogsDone = false;
        return true;
    } catch (...) {
        VD_LOG_ERROR("enumeration failed");
        return false;
    }
}

bool CIVDPidlEnumEx::InitEx(PcPidl folder, std::uint32_t flags, bool cacheOnly, bool* atEnd, bool* secondFlag,
                            int first, int last, int shareMode) noexcept {
    VD_TRACE("CIVDPidlEnumEx::InitEx");
    if (secondFlag != nullptr) {
        *secondFlag = false;
    }
    if (m_env.cache == nullptr) {
        return false;
    }
    try {
        const Folder f = ResolveFolder(folder);
        if (shareMode != 0) {
            if (first == 0) {
                InitSymbolLinks(f.key);
            }
            AddShareFilePidls(folder, shareMode, flags, cacheOnly, first, last, atEnd);
            return true;
        }
        ListRequest request;
        request.account = m_env.account;
        request.catalogID = f.catalogId;
        request.startNumber = Decimal(first);
        request.endNumber = Decimal(last);
        ListResult result;
        const std::uint32_t code = cacheOnly ? m_env.cache->GetDiskFromCacheEx(request, &result)
                                             : m_env.cache->GetDiskEx(request, &result, false);
        if (code != vdcache::kCacheOk) {
            VD_LOG_ERROR("GetDisk from cache failed! ErrorCode: %d", static_cast<int>(code));
            return false;
        }
        if (first == 0) {
            InitSymbolLinks(f.key);
        }
        AddRecords(result, flags);
        if (secondFlag != nullptr) {
            *secondFlag = !m_env.cache->IsListed(f.catalogId);  // its first listing has not ended
        }
        if (atEnd != nullptr) {
            const long long got = static_cast<long long>(result.catalogs.size() + result.contents.size());
            *atEnd = got == 0 || got < static_cast<long long>(last) - first;
        }
        return true;
    } catch (...) {
        VD_LOG_ERROR("enumeration failed");
        return false;
    }
}

std::string CIVDPidlEnumEx::SharePathOf(PcPidl folder, const std::string& id) const {
    std::string path = GetAllPaths(id);
    if (!path.empty()) {
        return path;
    }
    // Not listed in this process yet: the catalogs after the received-shares
    // node are the path from the share root down.
    path = std::string(kRootId);
    bool inside = false;
    for (PcPidl item = folder; item != nullptr && VDPidlMgr::GetByteSize(item) > 0;
         item = VDPidlMgr::GetNextItem(item)) {
        if (VDPidlMgr::GetItemType(item) == kKindNode) {
            inside = VDPidlMgr::GetNodeIndex(item) == kNodeReceivedShares;
            continue;
        }
        if (inside && VDPidlMgr::GetItemType(item) == kKindCatalog) {
            std::u16string element(VDPidlMgr::GetIdString(item));
            path += "/" + platform::WideToAnsi(element);
        }
    }
    return path;
}

bool CIVDPidlEnumEx::GetShareFile(std::uint32_t flags, bool cacheOnly, int first, int last, bool* atEnd) {
    vdcache::CVDShareFileCache* shares = m_env.shareCache;
    if (shares == nullptr) {
        return false;
    }
    const std::string key = shares->ShareRootKey();
    const bool whole = first < 0 || last < 0;
    ShareListResult result;
    std::uint32_t code = 0;
    if (cacheOnly) {
        code = whole ? shares->GetDiskFromCache(key, &result)
                     : shares->GetDiskFromCacheEx(key, Decimal(first), Decimal(last), &result);
    } else {
        ShareListRequest request;
        request.account = m_env.account;
        code = whole ? shares->GetDisk(key, request, &result, false)
                     : shares->GetDiskEx(key, request, Decimal(first), Decimal(last), &result, false);
    }
    if (code != vdcache::kCacheOk) {
        VD_LOG_ERROR("GetShareList failed! ErrorCode: %d", static_cast<int>(code));
        if (m_env.reportShareFailure && code == vdcache::kCacheListFailed) {
            m_env.reportShareFailure(resources::IDS_NETWORK_UNAVAILABLE);
        }
        return false;
    }
    if (atEnd != nullptr && !whole) {
        const long long got = static_cast<long long>(result.shares.size());
        *atEnd = got == 0 || got < static_cast<long long>(last) - first;
    }
    CreateVDShareFileRootPidlItem(result, flags);
    return true;
}

void CIVDPidlEnumEx::CreateVDShareFileRootPidlItem(const ShareListResult& result, std::uint32_t flags) {
    for (const ShareEntry& e : result.shares) {
        const std::u16string sharer = Widen(e.header.sharerName);
        if (e.HasCatalog() && (flags & kShcontfFolders) != 0) {
            AddAllPaths(e.catalog.catalogID, std::string(kRootId) + "/" + e.catalog.catalogID);
            const std::u16string id = Widen(e.catalog.catalogID);
            const std::u16string name = Widen(e.catalog.catalogName);
            const std::uint8_t flag = e.header.shareKind == "5" ? 1 : 0;
            Append(CreateCatalogPidl(m_mgr, {id, name, e.catalog.updatetime, {}, {}}, flag, sharer));
        }
        if (e.HasContent() && (flags & kShcontfNonFolders) != 0) {
            const std::u16string id = Widen(e.content.contentID);
            const std::u16string name = Widen(e.content.contentName);
            const std::uint8_t flag = !e.header.sharers.empty() && e.header.sharers.front().kind == "2" ? 1 : 0;
            Append(CreateContentPidl(m_mgr, {id, name, e.content.updateTime, e.content.contentSize, {}}, flag, sharer));
        }
    }
}

void CIVDPidlEnumEx::CreateVDShareFilePidlItem(const ListResult& result, std::uint32_t flags, const std::string& path,
                                               std::uint8_t flag) {
    if ((flags & kShcontfFolders) != 0) {
        for (const CatalogInfo& c : result.catalogs) {
            AddAllPaths(c.catalogID, !c.path.empty() ? c.path : path + "/" + c.catalogID);
            const std::u16string id = Widen(c.catalogID);
            const std::u16string name = Widen(c.catalogName);
            Append(CreateCatalogPidl(m_mgr, {id, name, c.updatetime, {}, {}}, flag, std::u16string_view()));
        }
    }
    if ((flags & kShcontfNonFolders) != 0) {
        for (const ContentInfo& c : result.contents) {
            const std::u16string id = Widen(c.contentID);
            const std::u16string name = Widen(c.contentName);
            Append(CreateContentPidl(m_mgr, {id, name, c.updateTime, c.contentSize, {}}, flag, std::u16string_view()));
        }
    }
}

void CIVDPidlEnumEx::AddShareFilePidls(PcPidl folder, int shareMode, std::uint32_t flags, bool cacheOnly, int first,
                                       int last, bool* atEnd) noexcept {
    VD_TRACE("CIVDPidlEnumEx::AddShareFilePidls");
    try {
        if (shareMode == 1) {
            VD_LOG_DEBUG("GetShareList函数开始时间：%d毫秒", static_cast<int>(platform::TickCountMs()));
            GetShareFile(flags, cacheOnly, first, last, atEnd);
            VD_LOG_DEBUG("GetShareList函数结束时间：%d毫秒", static_cast<int>(platform::TickCountMs()));
            // Only a load that could not start is a failure: one in flight
            // brings the names with its notice.
            if (m_env.cache->LoadShareUser() == vdcache::ShareUserLoad::Failed) {
                VD_LOG_WARN("Another Get List");
                if (m_env.reportShareFailure) {
                    m_env.reportShareFailure(resources::IDS_SHARE_USERS_FAILED);
                }
            }
            return;
        }
        const PcPidl last1 = folder != nullptr ? VDPidlMgr::GetLastItem(folder) : nullptr;
        if (shareMode != 2 || last1 == nullptr || VDPidlMgr::GetItemType(last1) != kKindCatalog ||
            m_env.shareCache == nullptr) {
            return;
        }
        const std::string id = platform::WideToAnsi(VDPidlMgr::GetIdString(last1));
        const std::string path = SharePathOf(folder, id);
        ListRequest request;
        request.account = m_env.account;
        request.catalogID = id;
        request.path = path;
        const bool whole = first < 0 || last < 0;
        request.startNumber = whole ? "-1" : Decimal(first);
        request.endNumber = whole ? "-1" : Decimal(last);
        ListResult result;
        const std::uint32_t code = cacheOnly ? m_env.shareCache->GetSubCatalogFromCache(request, &result)
                                             : m_env.shareCache->GetSubCatalogList(request, &result, false);
        if (code != vdcache::kCacheOk) {
            VD_LOG_ERROR("GetSubCatalogList failed! ErrorCode: %d", static_cast<int>(code));
            if (m_env.reportShareFailure) {
                m_env.reportShareFailure(code == vdcache::kCacheListFailed ? resources::IDS_NETWORK_UNAVAILABLE
                                                                           : resources::IDS_SHARE_LIST_FAILED);
            }
            return;
        }
        if (!whole && !cacheOnly) {
            // The refresh read answers with the whole catalog; keep the page.
            ListResult page;
            page.request = result.request;
            std::size_t i = 0;
            for (const CatalogInfo& c : result.catalogs) {
                if (i >= static_cast<std::size_t>(first) && i < static_cast<std::size_t>(last)) page.catalogs.push_back(c);
                ++i;
            }
            for (const ContentInfo& c : result.contents) {
                if (i >= static_cast<std::size_t>(first) && i < static_cast<std::size_t>(last)) page.contents.push_back(c);
                ++i;
            }
            result = std::move(page);
        }
        if (atEnd != nullptr && !whole) {
            const long long got = static_cast<long long>(result.catalogs.size() + result.contents.size());
            *atEnd = got == 0 || got < static_cast<long long>(last) - first;
        }
        CreateVDShareFilePidlItem(result, flags, path, VDPidlMgr::GetFlag(last1));
    } catch (...) {
        VD_LOG_WARN("share entries incomplete");
    }
}

namespace {

// One identifier per row of a page; `make` builds it from the row's ID, name,
// update time, fifth field (type or size) and share type.
template <class Record, class Make>
void MakeRows(const vdcache::RowPage<Record>& page, std::size_t fifth,
              const std::function<std::u16string(std::string_view)>& widen, Make&& make) {
    using Rows = vdcache::RowLayout<Record>;
    for (std::size_t r = 0; r < page.Count(); ++r) {
        make(widen(page.Field(r, Rows::kId)), widen(page.Field(r, Rows::kName)), page.Field(r, Rows::kUpdateTime),
             page.Field(r, fifth), page.Field(r, Rows::kShareType));
    }
}

}  // namespace

bool CIVDPidlEnumEx::MakeUpTo(std::size_t index) const noexcept {
    const std::function<std::u16string(std::string_view)> widen = [this](std::string_view t) { return Widen(t); };
    while (index >= m_items.size() && m_pending.rows) {
        try {
            if (!m_pending.catalogsDone) {
                const auto page = m_pending.rows->NextCatalogs();
                m_pending.catalogsDone = page == nullptr;
                if (page && (m_pending.flags & kShcontfFolders) != 0) {
                    MakeRows(*page, vdcache::RowLayout<CatalogInfo>::kType, widen, [&](const std::u16string& id, const std::u16string& name, std::string_view time,
                                               std::string_view type, std::string_view share) {
                        Append(CreateCatalogPidl(m_mgr, {id, name, time, type, share}));
                    });
                }
                continue;
            }
            const auto page = (m_pending.flags & kShcontfNonFolders) != 0 ? m_pending.rows->NextContents() : nullptr;
            if (!page) {
                m_pending.rows.reset();  // all made: the cursor (and its file or snapshot) goes
                break;
            }
            MakeRows(*page, vdcache::RowLayout<ContentInfo>::kSize, widen, [&](const std::u16string& id, const std::u16string& name, std::string_view time,
                                       std::string_view size, std::string_view share) {
                Append(CreateContentPidl(m_mgr, {id, name, time, size, share}));
            });
        } catch (...) {
            VD_LOG_WARN("entries incomplete");
            m_pending.rows.reset();
        }
    }
    return index < m_items.size();
}

std::size_t CIVDPidlEnumEx::Count() const noexcept {
    MakeUpTo(SIZE_MAX - 1);
    return m_items.size();
}

PcPidl CIVDPidlEnumEx::At(std::size_t i) const noexcept { return MakeUpTo(i) ? m_items[i].get() : nullptr; }

int CIVDPidlEnumEx::Next(std::uint32_t count, PidlPtr* out, std::uint32_t* fetched) noexcept {
    std::uint32_t n = 0;
    if (out != nullptr) {
        while (n < count && MakeUpTo(m_cursor)) {
            PidlPtr copy = m_mgr.Copy(m_items[m_cursor].get());
            if (copy == nullptr) {
                break;  // allocator failure: hand out what was copied
            }
            out[n++] = copy;
            ++m_cursor;
        }
    }
    if (fetched != nullptr) {
        *fetched = n;
    }
    return n == count ? kEnumOk : kEnumFalse;
}

int CIVDPidlEnumEx::Skip(std::uint32_t count) noexcept {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!MakeUpTo(m_cursor)) {
            return kEnumFalse;
        }
        ++m_cursor;
    }
    return kEnumOk;
}

void CIVDPidlEnumEx::AddAllPaths(const std::string& id, const std::string& path) {
    SharePathMap& map = SharePaths();
    std::lock_guard<std::mutex> guard(map.lock);
    map.paths[id] = path;
}

std::string CIVDPidlEnumEx::GetAllPaths(const std::string& id) {
    SharePathMap& map = SharePaths();
    std::lock_guard<std::mutex> guard(map.lock);
    const auto it = map.paths.find(id);
    return it != map.paths.end() ? it->second : std::string();
}

}  // namespace vd
