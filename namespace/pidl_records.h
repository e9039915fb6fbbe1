#pragma once
// Item identifiers made from the catalog and content records the cloud lists.
// IDs and names arrive already converted to UTF-16 (the conversion from the
// thread's code page is platform work); the other fields are ASCII texts.
#include <cstdint>
#include <optional>
#include <string_view>

#include "pidl.h"

namespace vd {

struct CatalogRecordView {
    std::u16string_view id;
    std::u16string_view name;
    std::string_view updateTime;  // "YYYYMMDDhhmmss"
    std::string_view type;        // "7": synced with a local folder
    std::string_view shareType;   // "1" link, "2" shared, "3" shared
};

struct ContentRecordView {
    std::u16string_view id;
    std::u16string_view name;
    std::string_view updateTime;
    std::string_view size;  // decimal byte count
    std::string_view shareType;
};

// Catalogs that are never listed: message and hidden system folders anywhere
// in the ID, and the three catalogs shown as fixed nodes instead.
bool IsHideCatalog(std::u16string_view id) noexcept;
bool IsHideCatalog(std::string_view id) noexcept;

std::uint32_t CatalogState(std::string_view type, std::string_view shareType) noexcept;
std::uint32_t ContentState(std::string_view shareType) noexcept;

// Local time (mktime) of "%04d%02d%02d%02d%02d%02d"; 0 when the text does not
// hold all six fields or the time cannot be represented.
std::int64_t ParseUpdateTime(std::string_view text) noexcept;

// Leading decimal digits as a byte count; negative texts give 0, overflow
// saturates.
std::uint64_t ParseSizeText(std::string_view text) noexcept;

// Null for a hidden catalog and when allocation fails. `flag` and `text` are
// the share flag and sharer name for entries of the received shares.
PidlPtr CreateCatalogPidl(const VDPidlMgr& mgr, const CatalogRecordView& record, std::uint8_t flag = 0,
                          std::optional<std::u16string_view> text = std::nullopt) noexcept;
PidlPtr CreateContentPidl(const VDPidlMgr& mgr, const ContentRecordView& record, std::uint8_t flag = 0,
                          std::optional<std::u16string_view> text = std::nullopt) noexcept;

}  // namespace vd
