#pragma once
// Item identifiers of the cloud folder: the byte layout of one element, the
// operations that build, walk, copy, join and read lists of them, and the
// fixed node table. Lists are plain bytes here; the Windows layer casts its
// ITEMIDLIST pointers to PidlPtr / PcPidl.
//
// Elements start at odd offsets (their sizes are odd), so every field is
// read and written with memcpy, never through a typed pointer.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vd {

using PidlPtr = std::uint8_t*;
using PcPidl = const std::uint8_t*;

// HRESULT values the shell layer hands on unchanged.
using HResult = std::int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);

// Where lists live. The DLL plugs in the shell allocator so that the shell
// can free what we hand it; everything else uses malloc/free.
class PidlAllocator {
public:
    virtual ~PidlAllocator() = default;
    virtual void* Alloc(std::size_t bytes) noexcept = 0;
    virtual void Free(void* p) noexcept = 0;
};

PidlAllocator& MallocPidlAllocator() noexcept;

class PidlDeleter {
public:
    PidlDeleter() noexcept : m_alloc(&MallocPidlAllocator()) {}
    explicit PidlDeleter(PidlAllocator& alloc) noexcept : m_alloc(&alloc) {}
    void operator()(std::uint8_t* p) const noexcept {
        if (p != nullptr) {
            m_alloc->Free(p);
        }
    }

private:
    PidlAllocator* m_alloc;
};

using UniquePidl = std::unique_ptr<std::uint8_t, PidlDeleter>;

namespace pidl_layout {
inline constexpr std::size_t kOffCb = 0;
inline constexpr std::size_t kOffKind = 2;
inline constexpr std::size_t kOffId = 6;
inline constexpr std::size_t kIdBytes = 66;
inline constexpr std::size_t kIdChars = kIdBytes / 2;
inline constexpr std::size_t kOffState = 74;
inline constexpr std::size_t kOffSize = 82;
inline constexpr std::size_t kOffTime = 90;
inline constexpr std::size_t kOffFlag = 98;
inline constexpr std::size_t kOffText = 100;
inline constexpr std::size_t kTextBytes = 130;
inline constexpr std::size_t kTextLimit = 65;  // characters copied, zero included
inline constexpr std::size_t kOffName = 230;
inline constexpr std::size_t kFixedBytes = 235;   // element size for an empty name
inline constexpr std::size_t kMinValidCb = 232;   // room for at least the name's zero
inline constexpr std::size_t kMaxValidChars = 259;  // text and name must be shorter than 260
inline constexpr std::size_t kListTail = 3;        // 16-bit terminator and one more zero
}  // namespace pidl_layout

enum PidlKind : std::uint32_t {
    kKindCatalog = 1,
    kKindContent = 2,
    kKindNode = 3,
};

// Fixed node indexes.
enum NodeIndex : std::int32_t {
    kNodeNone = 0,
    kNodeCalendar = 1,
    kNodeMessages = 2,
    kNodeContacts = 3,
    kNodeCloudRoot = 4,
    kNodePhonePictures = 5,
    kNodeUnused6 = 6,
    kNodeNotes = 7,
    kNodeUnused8 = 8,
    kNodePhoneVideos = 9,
    kNodeReceivedShares = 10,
};

// State values; the low part indexes the state icon table.
inline constexpr std::uint32_t kStatePlain = 0;
inline constexpr std::uint32_t kStateShared = 1;
inline constexpr std::uint32_t kStateSharedLink = 2;
inline constexpr std::uint32_t kStateShared3 = 3;
inline constexpr std::uint32_t kStateSyncedFlag = 0x80000000u;
inline constexpr std::uint32_t kStateSynced = 0x80000005u;
inline constexpr std::uint32_t kStateSyncedShared = 0x80000007u;
inline constexpr std::uint32_t kStateSyncedSharedLink = 0x80000008u;
inline constexpr std::uint32_t kStateSyncedShared3 = 0x80000009u;

inline constexpr std::u16string_view kRootCatalogId = u"00019700101000000001";
// Display name of the cloud disk root node and first part of display paths
// (string 109).
std::u16string_view CloudRootName() noexcept;

// Catalog ID of a fixed node; "" for indexes without one.
std::u16string_view FixedNodeCatalogId(std::int32_t index) noexcept;

// Result of checking bytes that came from outside.
struct PidlCheck {
    bool ok = false;
    std::size_t count = 0;  // elements
    std::size_t bytes = 0;  // elements plus the 16-bit terminator
};

// Checks a list held in `available` bytes: every cb covers the element
// header and stays inside the buffer, kind is 1..3, text and name end with a
// zero inside their fields, and a zero cb ends the list in the buffer. Only
// lists that pass may be given to the readers below.
PidlCheck ValidateList(const void* data, std::size_t available) noexcept;

// Type name of a file name as the shell would give it; nullopt when unknown.
using TypeNameFn = std::function<std::optional<std::u16string>(std::u16string_view name)>;

class VDPidlMgr {
public:
    explicit VDPidlMgr(PidlAllocator& alloc = MallocPidlAllocator()) noexcept : m_alloc(&alloc) {}

    PidlAllocator& Allocator() const noexcept { return *m_alloc; }
    UniquePidl Own(PidlPtr list) const noexcept { return UniquePidl(list, PidlDeleter(*m_alloc)); }

    // One-element list for a catalog or a content (kind 1 or 2): the ID is
    // cut to 33 characters (66 bytes), the text to 64. Null when the kind is
    // not 1 or 2, the name does not fit a 16-bit size, or allocation fails.
    PidlPtr Create(std::uint32_t kind, std::u16string_view name, std::u16string_view id, std::uint32_t state,
                   std::uint64_t size, std::int64_t time, std::optional<std::u16string_view> text,
                   std::uint8_t flag) const noexcept;
    // One-element list for a fixed node (kind 3).
    PidlPtr CreateNode(std::int32_t index, std::u16string_view name, std::uint32_t state = kStatePlain,
                       std::optional<std::u16string_view> text = std::nullopt, std::uint8_t flag = 0) const noexcept;

    void Delete(PidlPtr list) const noexcept;
    PidlPtr Copy(PcPidl list) const noexcept;
    PidlPtr CopyAllButLast(PcPidl list) const noexcept;
    PidlPtr Concatenate(PcPidl list1, PcPidl list2) const noexcept;

    static PcPidl GetNextItem(PcPidl list) noexcept;
    static PcPidl GetLastItem(PcPidl list) noexcept;
    static int GetByteSize(PcPidl list) noexcept;
    static int GetItemType(PcPidl list) noexcept;

    static std::uint32_t GetFirstState(PcPidl list) noexcept;
    static std::uint32_t GetState(PcPidl list) noexcept;
    static std::uint32_t SetState(PidlPtr list, std::uint32_t value) noexcept;

    static int GetNodeIndex(PcPidl list) noexcept;
    static int GetFirstNodeIndex(PcPidl list) noexcept;

    // Name of the first element cut to length - 1 characters: 0, or 1 with
    // an empty buffer when the element is not valid.
    static int GetName(PcPidl list, char16_t* buffer, std::size_t length) noexcept;
    static std::u16string GetName(PcPidl list);

    // ID of the last (GetId) or first (GetFirstId) element cut to length - 1
    // characters; length becomes the characters written. False when there is
    // no such element or no room.
    static bool GetId(PcPidl list, char16_t* buffer, std::size_t& length) noexcept;
    static bool GetFirstId(PcPidl list, char16_t* buffer, std::size_t& length) noexcept;
    static std::u16string GetIdString(PcPidl list);  // at most 49 characters

    static bool IsSameId(PcPidl list1, PcPidl list2) noexcept;

    static std::uint64_t GetSize(PcPidl list) noexcept;
    static std::int64_t GetTime(PcPidl list) noexcept;
    static std::uint8_t GetFlag(PcPidl list) noexcept;
    static std::u16string GetText(PcPidl list);

    // Display path "Veyra云盘\a\b": E_FAIL and empty when an element is not
    // valid or length is 0. A part that does not fit empties what was built
    // so far; length becomes the result's characters.
    static HResult GetFullName(PcPidl list, char16_t* buffer, std::size_t& length) noexcept;

    // Column 0 type name, 1 text, 2 size, 3 time; 0 on success, 1 when there
    // is no element or no room, E_INVALIDARG for other columns.
    static HResult GetDetailText(PcPidl list, int column, char16_t* buffer, std::size_t length,
                                 const TypeNameFn& typeName = {}) noexcept;
    static std::optional<std::u16string> GetDetailText(PcPidl list, int column, const TypeNameFn& typeName = {});

    // "Veyra云盘/a/b" for log lines and messages.
    static std::u16string GetPathForLog(PcPidl list);

private:
    PidlPtr Alloc(std::size_t bytes) const noexcept;

    PidlAllocator* m_alloc;
};

// Texts shown in the size and time columns.
std::u16string FormatSizeText(std::uint64_t bytes);
std::u16string FormatTimeText(std::int64_t time);

namespace Util {
// The received-shares folder itself: cloud root node, then node 10 last.
bool IsCurRevShareDir(PcPidl list) noexcept;
// A share root: the received-shares folder followed by exactly one element.
bool ParIsRevShareDir(PcPidl list) noexcept;
// One of the lists is the cloud root or a fixed node right under it.
bool IsCurVDsysFolder(std::span<const PcPidl> lists) noexcept;
// The list made absolute from the cloud root (copied when it already is).
PidlPtr AddMyFilePidl(const VDPidlMgr& mgr, PcPidl list) noexcept;
}  // namespace Util

}  // namespace vd
