#include "pidl.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/text.h"
#include "string_table.h"

namespace vd {

static_assert(std::endian::native == std::endian::little, "identifier fields are stored little-endian");

using namespace pidl_layout;

namespace {

class MallocAllocator final : public PidlAllocator {
public:
    void* Alloc(std::size_t bytes) noexcept override { return std::malloc(bytes == 0 ? 1 : bytes); }
    void Free(void* p) noexcept override { std::free(p); }
};

std::uint16_t ReadCb(PcPidl e) noexcept {
    std::uint16_t cb;
    std::memcpy(&cb, e + kOffCb, sizeof cb);
    return cb;
}

// A field is read only when the element's own size covers it.
template <class T>
T ReadAt(PcPidl e, std::size_t off) noexcept {
    T v{};
    if (ReadCb(e) >= off + sizeof(T)) {
        std::memcpy(&v, e + off, sizeof(T));
    }
    return v;
}

template <class T>
void WriteAt(PidlPtr e, std::size_t off, T v) noexcept {
    std::memcpy(e + off, &v, sizeof(T));
}

char16_t CharAt(PcPidl p, std::size_t off) noexcept {
    char16_t c;
    std::memcpy(&c, p + off, sizeof c);
    return c;
}

struct FieldString {
    std::size_t chars = 0;
    bool terminated = false;
};

// Length of the zero-terminated string at `off`, looking no further than the
// field's width nor the element's size.
FieldString MeasureString(PcPidl e, std::size_t off, std::size_t fieldBytes) noexcept {
    FieldString s;
    const std::size_t cb = ReadCb(e);
    if (cb <= off) {
        return s;
    }
    const std::size_t end = std::min(off + fieldBytes, cb);
    for (std::size_t p = off; p + 2 <= end; p += 2) {
        if (CharAt(e, p) == 0) {
            s.terminated = true;
            return s;
        }
        ++s.chars;
    }
    return s;
}

FieldString MeasureText(PcPidl e) noexcept { return MeasureString(e, kOffText, kTextBytes); }
FieldString MeasureName(PcPidl e) noexcept { return MeasureString(e, kOffName, SIZE_MAX - kOffName); }

void CopyChars(PcPidl e, std::size_t off, std::size_t chars, char16_t* out) noexcept {
    std::memcpy(out, e + off, chars * sizeof(char16_t));
}

std::u16string ReadString(PcPidl e, std::size_t off, std::size_t chars) {
    std::u16string s(chars, u'\0');
    CopyChars(e, off, chars, s.data());
    return s;
}

bool IsEnd(PcPidl e) noexcept { return ReadCb(e) == 0; }

PcPidl FirstItem(PcPidl list) noexcept { return (list == nullptr || IsEnd(list)) ? nullptr : list; }

PcPidl LastItem(PcPidl list) noexcept {
    if (FirstItem(list) == nullptr) {
        return nullptr;
    }
    PcPidl e = list;
    for (;;) {
        PcPidl next = e + ReadCb(e);
        if (IsEnd(next)) {
            return e;
        }
        e = next;
    }
}

// Element `index` of the list, or null when the list is shorter.
PcPidl ItemAt(PcPidl list, std::size_t index) noexcept {
    PcPidl e = FirstItem(list);
    for (std::size_t i = 0; e != nullptr && i < index; ++i) {
        e = FirstItem(e + ReadCb(e));
    }
    return e;
}

std::size_t ElementBytes(PcPidl list) noexcept {
    std::size_t total = 0;
    for (PcPidl e = FirstItem(list); e != nullptr; e = FirstItem(e + ReadCb(e))) {
        total += ReadCb(e);
    }
    return total;
}

// The name and path readers accept an element only with room for its fixed
// fields and with text and name ending inside it, both under 260 characters.
bool IsValidElement(PcPidl e) noexcept {
    if (e == nullptr || ReadCb(e) < kMinValidCb) {
        return false;
    }
    const FieldString text = MeasureText(e);
    const FieldString name = MeasureName(e);
    return text.terminated && text.chars <= kMaxValidChars && name.terminated && name.chars <= kMaxValidChars;
}

std::uint32_t KindOf(PcPidl e) noexcept { return ReadAt<std::uint32_t>(e, kOffKind); }

// ID of one element into `out` (at most `cap` characters, no terminator).
std::size_t CopyElementId(PcPidl e, char16_t* out, std::size_t cap) noexcept {
    const std::uint32_t kind = KindOf(e);
    if (kind == kKindNode) {
        const std::u16string_view id = FixedNodeCatalogId(ReadAt<std::int32_t>(e, kOffId));
        const std::size_t n = std::min(cap, id.size());
        std::copy_n(id.data(), n, out);
        return n;
    }
    if (kind != kKindCatalog && kind != kKindContent) {
        return 0;
    }
    // A 33-character ID fills the field without a terminator.
    const std::size_t n = std::min(cap, MeasureString(e, kOffId, kIdBytes).chars);
    CopyChars(e, kOffId, n, out);
    return n;
}

bool FirstNameIsRoot(PcPidl e) noexcept {
    const FieldString name = MeasureName(e);
    const std::u16string_view root = CloudRootName();
    if (name.chars != root.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.chars; ++i) {
        if (CharAt(e, kOffName + 2 * i) != root[i]) {
            return false;
        }
    }
    return true;
}

char16_t FoldAscii(char16_t c) noexcept { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool IdContainsRoot(PcPidl e) noexcept {
    char16_t id[kIdChars];
    const std::u16string_view view(id, CopyElementId(e, id, kIdChars));
    return view.find(kRootCatalogId) != std::u16string_view::npos;
}

bool IsNode(PcPidl e, std::int32_t index) noexcept {
    return e != nullptr && KindOf(e) == kKindNode && ReadAt<std::int32_t>(e, kOffId) == index;
}

void CopyOut(std::u16string_view text, char16_t* buffer, std::size_t length) noexcept {
    const std::size_t n = std::min(text.size(), length - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
}

}  // namespace

std::u16string_view CloudRootName() noexcept {
    static const std::u16string name = platform::Utf8ToUtf16(resources::LoadText(resources::IDS_VD_ROOT_NAME));
    return name;
}

PidlAllocator& MallocPidlAllocator() noexcept {
    static MallocAllocator alloc;
    return alloc;
}

std::u16string_view FixedNodeCatalogId(std::int32_t index) noexcept {
    switch (index) {
    case kNodeCloudRoot:
        return kRootCatalogId;
    case kNodePhonePictures:
        return u"00019700101000000043";
    case kNodeUnused6:
        return u"00019700101000000041";
    case kNodePhoneVideos:
        return u"00019700101000000044";
    case kNodeReceivedShares:
        return u"00019700101000000067";
    default:
        return {};
    }
}

PidlCheck ValidateList(const void* data, std::size_t available) noexcept {
    PidlCheck check;
    if (data == nullptr) {
        return check;
    }
    const auto* bytes = static_cast<PcPidl>(data);
    std::size_t pos = 0;
    std::size_t count = 0;
    for (;;) {
        if (available - pos < sizeof(std::uint16_t)) {
            return check;  // no room for the next size or the terminator
        }
        PcPidl e = bytes + pos;
        const std::size_t cb = ReadCb(e);
        if (cb == 0) {
            break;
        }
        if (cb < kMinValidCb || cb > available - pos) {
            return check;
        }
        const std::uint32_t kind = KindOf(e);
        if (kind < kKindCatalog || kind > kKindNode) {
            return check;
        }
        if (!MeasureText(e).terminated || !MeasureName(e).terminated) {
            return check;
        }
        pos += cb;
        ++count;
    }
    check.ok = true;
    check.count = count;
    check.bytes = pos + sizeof(std::uint16_t);
    return check;
}

PidlPtr VDPidlMgr::Alloc(std::size_t bytes) const noexcept {
    auto* p = static_cast<PidlPtr>(m_alloc->Alloc(bytes));
    if (p != nullptr) {
        std::memset(p, 0, bytes);
    }
    return p;
}

namespace {

std::u16string_view UpToZero(std::u16string_view s) noexcept { return s.substr(0, s.find(u'\0')); }

// An empty view may carry a null pointer, which memcpy must not see.
void WriteChars(PidlPtr p, std::size_t off, std::u16string_view s) noexcept {
    if (!s.empty()) {
        std::memcpy(p + off, s.data(), s.size() * sizeof(char16_t));
    }
}

}  // namespace

PidlPtr VDPidlMgr::Create(std::uint32_t kind, std::u16string_view name, std::u16string_view id, std::uint32_t state,
                          std::uint64_t size, std::int64_t time, std::optional<std::u16string_view> text,
                          std::uint8_t flag) const noexcept {
    if (kind != kKindCatalog && kind != kKindContent) {
        return nullptr;
    }
    name = UpToZero(name);
    if (kFixedBytes + 2 * name.size() > UINT16_MAX) {
        return nullptr;
    }
    const std::size_t cb = kFixedBytes + 2 * name.size();
    PidlPtr p = Alloc(cb + kListTail);
    if (p == nullptr) {
        return nullptr;
    }
    WriteAt<std::uint16_t>(p, kOffCb, static_cast<std::uint16_t>(cb));
    WriteAt<std::uint32_t>(p, kOffKind, kind);
    WriteAt<std::uint32_t>(p, kOffState, state);
    WriteChars(p, kOffName, name);
    WriteAt<std::uint64_t>(p, kOffSize, size);
    WriteAt<std::int64_t>(p, kOffTime, time);
    WriteAt<std::uint8_t>(p, kOffFlag, flag);
    if (text) {
        const std::u16string_view t = UpToZero(*text).substr(0, kTextLimit - 1);
        WriteChars(p, kOffText, t);
    }
    const std::u16string_view i = UpToZero(id).substr(0, kIdChars);
    WriteChars(p, kOffId, i);
    return p;
}

PidlPtr VDPidlMgr::CreateNode(std::int32_t index, std::u16string_view name, std::uint32_t state,
                              std::optional<std::u16string_view> text, std::uint8_t flag) const noexcept {
    PidlPtr p = Create(kKindCatalog, name, {}, state, 0, 0, text, flag);
    if (p != nullptr) {
        WriteAt<std::uint32_t>(p, kOffKind, kKindNode);
        WriteAt<std::int32_t>(p, kOffId, index);
    }
    return p;
}

void VDPidlMgr::Delete(PidlPtr list) const noexcept {
    if (list != nullptr) {
        m_alloc->Free(list);
    }
}

// Copies write their own terminator: a list from the shell carries only the
// 16-bit zero, so the extra byte is never read from the source.
PidlPtr VDPidlMgr::Copy(PcPidl list) const noexcept {
    if (list == nullptr) {
        return nullptr;
    }
    const std::size_t s = ElementBytes(list);
    PidlPtr p = Alloc(s + kListTail);
    if (p != nullptr) {
        std::memcpy(p, list, s);
    }
    return p;
}

PidlPtr VDPidlMgr::CopyAllButLast(PcPidl list) const noexcept {
    if (list == nullptr) {
        return nullptr;
    }
    PcPidl last = LastItem(list);
    const std::size_t s = last == nullptr ? 0 : static_cast<std::size_t>(last - list);
    PidlPtr p = Alloc(s + kListTail);
    if (p != nullptr) {
        std::memcpy(p, list, s);
    }
    return p;
}

PidlPtr VDPidlMgr::Concatenate(PcPidl list1, PcPidl list2) const noexcept {
    if (list1 == nullptr && list2 == nullptr) {
        return nullptr;
    }
    if (list1 == nullptr) {
        return Copy(list2);
    }
    if (list2 == nullptr) {
        return Copy(list1);
    }
    const std::size_t s1 = ElementBytes(list1);
    const std::size_t s2 = ElementBytes(list2);
    PidlPtr p = Alloc(s1 + s2 + kListTail);
    if (p != nullptr) {
        std::memcpy(p, list1, s1);
        std::memcpy(p + s1, list2, s2);
    }
    return p;
}

PcPidl VDPidlMgr::GetNextItem(PcPidl list) noexcept {
    PcPidl e = FirstItem(list);
    return e == nullptr ? nullptr : e + ReadCb(e);
}

PcPidl VDPidlMgr::GetLastItem(PcPidl list) noexcept { return LastItem(list); }

int VDPidlMgr::GetByteSize(PcPidl list) noexcept {
    return list == nullptr ? 0 : static_cast<int>(ElementBytes(list) + kListTail);
}

int VDPidlMgr::GetItemType(PcPidl list) noexcept {
    PcPidl e = LastItem(list);
    return e == nullptr ? 0 : static_cast<int>(KindOf(e));
}

std::uint32_t VDPidlMgr::GetFirstState(PcPidl list) noexcept {
    PcPidl e = FirstItem(list);
    return e == nullptr ? 0 : ReadAt<std::uint32_t>(e, kOffState);
}

std::uint32_t VDPidlMgr::GetState(PcPidl list) noexcept {
    PcPidl e = LastItem(list);
    return e == nullptr ? 0 : ReadAt<std::uint32_t>(e, kOffState);
}

std::uint32_t VDPidlMgr::SetState(PidlPtr list, std::uint32_t value) noexcept {
    PcPidl last = LastItem(list);
    if (last == nullptr || ReadCb(last) < kOffState + sizeof(value)) {
        return 0;
    }
    PidlPtr e = list + (last - list);
    const std::uint32_t old = ReadAt<std::uint32_t>(e, kOffState);
    WriteAt<std::uint32_t>(e, kOffState, value);
    return old;
}

int VDPidlMgr::GetNodeIndex(PcPidl list) noexcept {
    PcPidl e = LastItem(list);
    return (e != nullptr && KindOf(e) == kKindNode) ? ReadAt<std::int32_t>(e, kOffId) : -1;
}

int VDPidlMgr::GetFirstNodeIndex(PcPidl list) noexcept {
    PcPidl e = FirstItem(list);
    return (e != nullptr && KindOf(e) == kKindNode) ? ReadAt<std::int32_t>(e, kOffId) : -1;
}

int VDPidlMgr::GetName(PcPidl list, char16_t* buffer, std::size_t length) noexcept {
    if (buffer == nullptr || length == 0) {
        return 1;
    }
    buffer[0] = 0;
    PcPidl e = FirstItem(list);
    if (!IsValidElement(e)) {
        return 1;
    }
    const std::size_t n = std::min(MeasureName(e).chars, length - 1);
    CopyChars(e, kOffName, n, buffer);
    buffer[n] = 0;
    return 0;
}

std::u16string VDPidlMgr::GetName(PcPidl list) {
    PcPidl e = FirstItem(list);
    return IsValidElement(e) ? ReadString(e, kOffName, MeasureName(e).chars) : std::u16string();
}

namespace {

bool IdOf(PcPidl e, char16_t* buffer, std::size_t& length) noexcept {
    if (buffer == nullptr || length == 0) {
        length = 0;
        return false;
    }
    if (e == nullptr) {
        buffer[0] = 0;
        length = 0;
        return false;
    }
    const std::size_t n = CopyElementId(e, buffer, length - 1);
    buffer[n] = 0;
    length = n;
    return true;
}

}  // namespace

bool VDPidlMgr::GetId(PcPidl list, char16_t* buffer, std::size_t& length) noexcept {
    return IdOf(LastItem(list), buffer, length);
}

bool VDPidlMgr::GetFirstId(PcPidl list, char16_t* buffer, std::size_t& length) noexcept {
    return IdOf(FirstItem(list), buffer, length);
}

std::u16string VDPidlMgr::GetIdString(PcPidl list) {
    char16_t buf[50];
    std::size_t len = sizeof buf / sizeof buf[0];
    GetId(list, buf, len);
    return std::u16string(buf, len);
}

bool VDPidlMgr::IsSameId(PcPidl list1, PcPidl list2) noexcept {
    PcPidl a = LastItem(list1);
    PcPidl b = LastItem(list2);
    if (a == nullptr || b == nullptr) {
        return false;
    }
    char16_t ida[128];
    char16_t idb[128];
    const std::size_t na = CopyElementId(a, ida, 128);
    const std::size_t nb = CopyElementId(b, idb, 128);
    if (na != nb) {
        return false;
    }
    for (std::size_t i = 0; i < na; ++i) {
        if (FoldAscii(ida[i]) != FoldAscii(idb[i])) {
            return false;
        }
    }
    return true;
}

std::uint64_t VDPidlMgr::GetSize(PcPidl list) noexcept {
    PcPidl e = LastItem(list);
    return e == nullptr ? 0 : ReadAt<std::uint64_t>(e, kOffSize);
}

std::int64_t VDPidlMgr::GetTime(PcPidl list) noexcept {
    PcPidl e = LastItem(list);
    return e == nullptr ? 0 : ReadAt<std::int64_t>(e, kOffTime);
}

std::uint8_t VDPidlMgr::GetFlag(PcPidl list) noexcept {
    PcPidl e = LastItem(list);
    return e == nullptr ? 0 : ReadAt<std::uint8_t>(e, kOffFlag);
}

std::u16string VDPidlMgr::GetText(PcPidl list) {
    PcPidl e = LastItem(list);
    return e == nullptr ? std::u16string() : ReadString(e, kOffText, MeasureText(e).chars);
}

HResult VDPidlMgr::GetFullName(PcPidl list, char16_t* buffer, std::size_t& length) noexcept {
    if (buffer == nullptr || length == 0) {
        length = 0;
        return kEFail;
    }
    const std::size_t cap = length - 1;
    std::size_t len = 0;
    // A part that does not fit drops everything built so far.
    auto append = [&](std::u16string_view prefix, PcPidl e, std::size_t nameChars) {
        if (len + prefix.size() + nameChars > cap) {
            len = 0;
            return;
        }
        std::copy_n(prefix.data(), prefix.size(), buffer + len);
        len += prefix.size();
        if (e != nullptr) {
            CopyChars(e, kOffName, nameChars, buffer + len);
            len += nameChars;
        }
    };
    PcPidl e = list;
    if (!IsValidElement(e)) {
        buffer[0] = 0;
        length = 0;
        return kEFail;
    }
    for (bool first = true; !IsEnd(e); e += ReadCb(e), first = false) {
        if (!IsValidElement(e)) {
            buffer[0] = 0;
            length = 0;
            return kEFail;
        }
        const std::size_t nameChars = MeasureName(e).chars;
        if (first) {
            if (!FirstNameIsRoot(e)) {
                append(u"Veyra云盘\\", nullptr, 0);
            }
            append(u"", e, nameChars);
        } else {
            append(u"\\", e, nameChars);
        }
    }
    buffer[len] = 0;
    length = len;
    return kSOk;
}

std::optional<std::u16string> VDPidlMgr::GetDetailText(PcPidl list, int column, const TypeNameFn& typeName) {
    PcPidl e = LastItem(list);
    if (e == nullptr || column < 0 || column > 3) {
        return std::nullopt;
    }
    const std::uint32_t kind = KindOf(e);
    switch (column) {
    case 0: {
        if (kind == kKindCatalog) {
            return u"Folder";
        }
        std::optional<std::u16string> type;
        if (typeName) {
            type = typeName(ReadString(e, kOffName, MeasureName(e).chars));
        }
        return type ? *type : u"File";
    }
    case 1:
        return ReadString(e, kOffText, MeasureText(e).chars);
    case 2:
        return kind == kKindContent ? FormatSizeText(ReadAt<std::uint64_t>(e, kOffSize)) : std::u16string();
    default:
        return (kind == kKindCatalog || kind == kKindContent) ? FormatTimeText(ReadAt<std::int64_t>(e, kOffTime))
                                                              : std::u16string();
    }
}

HResult VDPidlMgr::GetDetailText(PcPidl list, int column, char16_t* buffer, std::size_t length,
                                 const TypeNameFn& typeName) noexcept {
    if (column < 0 || column > 3) {
        return kEInvalidArg;
    }
    if (buffer == nullptr || length == 0) {
        return 1;
    }
    buffer[0] = 0;
    try {
        const std::optional<std::u16string> text = GetDetailText(list, column, typeName);
        if (!text) {
            return 1;
        }
        CopyOut(*text, buffer, length);
        return 0;
    } catch (...) {
        // The shell's thread must not see an exception; the column stays empty.
        buffer[0] = 0;
        return 1;
    }
}

std::u16string VDPidlMgr::GetPathForLog(PcPidl list) {
    std::u16string path(CloudRootName());
    bool first = true;
    for (PcPidl e = FirstItem(list); e != nullptr && ReadCb(e) >= kMinValidCb; e = FirstItem(e + ReadCb(e))) {
        const bool skip = first && FirstNameIsRoot(e);
        first = false;
        if (!skip) {
            path += u'/';
            path += ReadString(e, kOffName, MeasureName(e).chars);
        }
    }
    return path;
}

namespace Util {

bool IsCurRevShareDir(PcPidl list) noexcept {
    return IsNode(ItemAt(list, 0), kNodeCloudRoot) && IsNode(ItemAt(list, 1), kNodeReceivedShares) &&
           ItemAt(list, 2) == nullptr;
}

bool ParIsRevShareDir(PcPidl list) noexcept {
    return IsNode(ItemAt(list, 0), kNodeCloudRoot) && IsNode(ItemAt(list, 1), kNodeReceivedShares) &&
           ItemAt(list, 2) != nullptr && ItemAt(list, 3) == nullptr;
}

bool IsCurVDsysFolder(std::span<const PcPidl> lists) noexcept {
    for (PcPidl list : lists) {
        PcPidl e = FirstItem(list);
        if (e == nullptr || !IdContainsRoot(e)) {
            continue;
        }
        PcPidl second = FirstItem(e + ReadCb(e));
        if (second == nullptr || KindOf(second) == kKindNode) {
            return true;
        }
    }
    return false;
}

PidlPtr AddMyFilePidl(const VDPidlMgr& mgr, PcPidl list) noexcept {
    PcPidl e = FirstItem(list);
    if (e != nullptr && IdContainsRoot(e)) {
        return mgr.Copy(list);
    }
    UniquePidl root = mgr.Own(mgr.CreateNode(kNodeCloudRoot, CloudRootName()));
    if (!root) {
        return nullptr;
    }
    return mgr.Concatenate(root.get(), list);
}

}  // namespace Util

}  // namespace vd
