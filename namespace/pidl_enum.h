#pragma once
// Enumerator core of the cloud folder: turns what the catalog cache holds
// for one folder into one-element item lists (fixed nodes, then catalogs,
// then contents) and hands them out through a cursor. The shell's
// IEnumIDList wrapper lives in the Windows layer and forwards to this class.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "catalog_store.h"
#include "row_cursor.h"
#include "pidl.h"

struct ListResult;
struct ShareListResult;
namespace vdcache {
class CVDCache;
class CVDShareFileCache;
}

namespace vd {

// The shell's SHCONTF bits read here.
inline constexpr std::uint32_t kShcontfFolders = 0x20;
inline constexpr std::uint32_t kShcontfNonFolders = 0x40;

// IEnumIDList results as plain integers.
inline constexpr int kEnumOk = 0;     // S_OK
inline constexpr int kEnumFalse = 1;  // S_FALSE

// Key of a folder: a fixed node index or a catalog ID.
class CatalogKey {
public:
    static CatalogKey Node(std::int32_t index) { return CatalogKey(index); }
    static CatalogKey Catalog(std::u16string id) { return CatalogKey(std::move(id)); }

    bool IsNode() const noexcept { return std::holds_alternative<std::int32_t>(m_value); }
    std::int32_t NodeIndex() const noexcept { return IsNode() ? std::get<std::int32_t>(m_value) : -1; }
    std::u16string_view CatalogId() const noexcept {
        return IsNode() ? std::u16string_view() : std::u16string_view(std::get<std::u16string>(m_value));
    }

private:
    explicit CatalogKey(std::int32_t index) : m_value(index) {}
    explicit CatalogKey(std::u16string id) : m_value(std::move(id)) {}

    std::variant<std::int32_t, std::u16string> m_value;
};

// One row of the fixed node table.
struct SymbolLink {
    std::int32_t index;
    std::int32_t parentKey;
    std::u16string_view name;
    std::optional<std::string_view> catalogId;  // 8-bit; nullopt: no catalog behind it
    std::uint32_t kind;
};

// What the enumerator needs from its host besides the cache.
struct PidlEnumEnv {
    vdcache::CVDCache* cache = nullptr;
    vdcache::CVDShareFileCache* shareCache = nullptr;  // share modes 1 and 2
    std::string account;  // signed-in account, first field of every request
    std::string userId;   // 12-character prefix of the user's catalog IDs
    // Sync state of a local folder bound to a catalog: 1 synced, 0 not, other
    // values as the sync folder reports them. Absent: nothing is synced.
    std::function<int(const std::string& catalogId)> isFolderLocalSynFolder;
    // Thread code page to UTF-16; absent: platform::AnsiToWide.
    std::function<std::u16string(std::string_view)> toWide;
    // Tells the user a share read failed: the string-table number to show.
    std::function<void(int stringId)> reportShareFailure;
};


class CIVDPidlEnumEx {
public:
    explicit CIVDPidlEnumEx(PidlEnumEnv env, const VDPidlMgr& mgr = VDPidlMgr());
    ~CIVDPidlEnumEx() = default;
    CIVDPidlEnumEx(const CIVDPidlEnumEx&) = delete;
    CIVDPidlEnumEx& operator=(const CIVDPidlEnumEx&) = delete;

    static std::span<const SymbolLink> SymbolLinks() noexcept;
    static const SymbolLink* FindSymbolLink(std::int32_t index) noexcept;
    // Node keys equal by number, catalog keys by their first 32 characters;
    // a node key never equals a catalog key.
    static bool IsCatalogEqual(const CatalogKey& a, const CatalogKey& b) noexcept;

    // Fills the enumerator for the folder `folder` (a checked list; null or
    // empty is the cloud disk root). Share mode 1: the received-shares folder;
    // 2: a folder inside a received share. False when the catalog could not
    // be read; nothing is added then.
    bool Init(PcPidl folder, std::uint32_t flags, bool cacheOnly, int shareMode) noexcept;
    // One page [first, last) of the folder's entries; fixed nodes come with
    // the first page only. `atEnd` becomes true when the page was short.
    bool InitEx(PcPidl folder, std::uint32_t flags, bool cacheOnly, bool* atEnd, bool* secondFlag, int first,
                int last, int shareMode) noexcept;

    // Copies of the next `count` lists go to `out` (the caller frees them
    // with the enumerator's allocator); kEnumFalse when fewer were left.
    int Next(std::uint32_t count, PidlPtr* out, std::uint32_t* fetched) noexcept;
    int Skip(std::uint32_t count) noexcept;
    void Reset() noexcept { m_cursor = 0; }

    // Count and At make every remaining identifier; Next makes them as it
    // hands them out.
    std::size_t Count() const noexcept;
    PcPidl At(std::size_t i) const noexcept;

    // Process-wide map from a catalog ID to its ID path inside a received share.
    static void AddAllPaths(const std::string& id, const std::string& path);
    static std::string GetAllPaths(const std::string& id);

private:
    struct Folder {
        CatalogKey key = CatalogKey::Node(kNodeCloudRoot);
        std::string catalogId;
        bool isRoot = true;
    };

    Folder ResolveFolder(PcPidl folder) const;
    void InitSymbolLinks(const CatalogKey& key) noexcept;
    void AddRecords(const ListResult& result, std::uint32_t flags) noexcept;
    // Share modes: the received shares (1) or a catalog inside one (2);
    // first/last -1 reads the whole folder.
    void AddShareFilePidls(PcPidl folder, int shareMode, std::uint32_t flags, bool cacheOnly, int first, int last,
                           bool* atEnd) noexcept;
    bool GetShareFile(std::uint32_t flags, bool cacheOnly, int first, int last, bool* atEnd);
    void CreateVDShareFileRootPidlItem(const ShareListResult& result, std::uint32_t flags);
    void CreateVDShareFilePidlItem(const ListResult& result, std::uint32_t flags, const std::string& path,
                                   std::uint8_t flag);
    std::string SharePathOf(PcPidl folder, const std::string& id) const;
    std::uint32_t SymbolLinkState(const SymbolLink& row) const;
    std::u16string Widen(std::string_view text) const;
    void Append(PidlPtr item) const noexcept;
    // Makes identifiers from the stored rows until `index` exists or the rows
    // are used up; false when it does not exist.
    bool MakeUpTo(std::size_t index) const noexcept;

    // The catalog's stored rows, turned into identifiers a page at a time as
    // they are asked for: a 100,000-entry folder hands out its first item at
    // once.
    struct PendingRows {
        std::unique_ptr<vdcache::RowCursor> rows;
        std::uint32_t flags = 0;
        bool catalogsDone = false;
    };

    PidlEnumEnv m_env;
    VDPidlMgr m_mgr;
    mutable std::vector<UniquePidl> m_items;
    mutable PendingRows m_pending;
    std::size_t m_cursor = 0;
};

}  // namespace vd
