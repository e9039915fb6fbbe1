#include "pidl_records.h"

namespace vd {

namespace {

template <class Ch>
bool Matches(std::basic_string_view<Ch> s, std::size_t at, std::string_view pattern) noexcept {
    for (std::size_t j = 0; j < pattern.size(); ++j) {
        if (s[at + j] != static_cast<Ch>(pattern[j])) {
            return false;
        }
    }
    return true;
}

template <class Ch>
bool Contains(std::basic_string_view<Ch> s, std::string_view pattern) noexcept {
    for (std::size_t i = 0; i + pattern.size() <= s.size(); ++i) {
        if (Matches(s, i, pattern)) {
            return true;
        }
    }
    return false;
}

template <class Ch>
bool HideCatalog(std::basic_string_view<Ch> id) noexcept {
    if (Contains(id, "00019700101000000500") || Contains(id, "00019700101000000502")) {
        return true;
    }
    // A cloud catalog ID is the 12-character user id and a 20-character fixed part.
    constexpr std::size_t kUserIdChars = 12;
    if (id.size() != 32) {
        return false;
    }
    return Matches(id, kUserIdChars, "00019700101000000043") || Matches(id, kUserIdChars, "00019700101000000044") ||
           Matches(id, kUserIdChars, "00019700101000000067");
}

}  // namespace

bool IsHideCatalog(std::u16string_view id) noexcept { return HideCatalog(id); }
bool IsHideCatalog(std::string_view id) noexcept { return HideCatalog(id); }

std::uint32_t ContentState(std::string_view shareType) noexcept {
    if (shareType == "1") {
        return kStateSharedLink;
    }
    if (shareType == "2") {
        return kStateShared;
    }
    if (shareType == "3") {
        return kStateShared3;
    }
    return kStatePlain;
}

std::uint32_t CatalogState(std::string_view type, std::string_view shareType) noexcept {
    if (type != "7") {
        return ContentState(shareType);
    }
    if (shareType == "1") {
        return kStateSyncedSharedLink;
    }
    if (shareType == "2") {
        return kStateSyncedShared;
    }
    if (shareType == "3") {
        return kStateSyncedShared3;
    }
    return kStateSynced;
}

PidlPtr CreateCatalogPidl(const VDPidlMgr& mgr, const CatalogRecordView& record, std::uint8_t flag,
                          std::optional<std::u16string_view> text) noexcept {
    if (IsHideCatalog(record.id)) {
        return nullptr;
    }
    return mgr.Create(kKindCatalog, record.name, record.id, CatalogState(record.type, record.shareType), 0,
                      ParseUpdateTime(record.updateTime), text, flag);
}

PidlPtr CreateContentPidl(const VDPidlMgr& mgr, const ContentRecordView& record, std::uint8_t flag,
                          std::optional<std::u16string_view> text) noexcept {
    return mgr.Create(kKindContent, record.name, record.id, ContentState(record.shareType),
                      ParseSizeText(record.size), ParseUpdateTime(record.updateTime), text, flag);
}

}  // namespace vd
