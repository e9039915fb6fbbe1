#include "view_core.h"

#include <algorithm>

#include "nimbra_messages.h"

namespace vdview {

using vd::VDPidlMgr;

namespace {

bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

char16_t Fold(char16_t c) noexcept { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

int Sign(long long v) noexcept { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

template <typename T>
int Compare3(T a, T b) noexcept {
    return a < b ? -1 : (a > b ? 1 : 0);
}

int CaseInsensitive(std::u16string_view a, std::u16string_view b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (const int c = Compare3(Fold(a[i]), Fold(b[i])); c != 0) return c;
    }
    return Compare3(a.size(), b.size());
}

}  // namespace

int CompareLogical(std::u16string_view a, std::u16string_view b) noexcept {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Runs of digits compare by value: without leading zeros the
            // longer run is the larger number.
            std::size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(a[ei])) ++ei;
            while (ej < b.size() && IsDigit(b[ej])) ++ej;
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == u'0') ++si;
            while (sj + 1 < ej && b[sj] == u'0') ++sj;
            if (const int c = Compare3(ei - si, ej - sj); c != 0) return c;
            if (const int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj)); c != 0) return Sign(c);
            i = ei;
            j = ej;
            continue;
        }
        if (const int c = Compare3(Fold(a[i]), Fold(b[j])); c != 0) return c;
        ++i;
        ++j;
    }
    return Compare3(a.size() - i, b.size() - j);
}

void SortState::Click(int clicked) noexcept {
    direction = clicked == column ? !direction : 0;
    column = clicked;
}

int CompareViewItems(vd::PcPidl a, vd::PcPidl b, const SortState& sort, bool shareView,
                     const NameCompare& names) noexcept {
    const bool emptyA = IsEmptyList(a);
    const bool emptyB = IsEmptyList(b);
    if (emptyA || emptyB) return emptyA == emptyB ? 0 : (emptyA ? -1 : 1);
    const int kindA = VDPidlMgr::GetItemType(a);
    const int kindB = VDPidlMgr::GetItemType(b);
    if (kindA == vd::kKindNode || kindB == vd::kKindNode) return 0;
    // Folders first whatever the direction.
    if (kindA != kindB) return kindA == vd::kKindCatalog ? -1 : 1;
    int c = 0;
    const int column = sort.column;
    if (column == 0) {
        c = Sign(names(VDPidlMgr::GetName(a), VDPidlMgr::GetName(b)));
    } else if (shareView && column == 1) {
        c = CaseInsensitive(VDPidlMgr::GetText(a), VDPidlMgr::GetText(b));
    } else if (column == (shareView ? 2 : 1)) {
        c = Compare3(VDPidlMgr::GetSize(a), VDPidlMgr::GetSize(b));
    } else if (column == (shareView ? 3 : 2)) {
        c = Compare3(VDPidlMgr::GetTime(a), VDPidlMgr::GetTime(b));
    }
    return sort.direction == 0 ? -c : c;
}

std::uint32_t ComposeSyncOverlay(std::uint32_t shareState, int synced) noexcept {
    const std::uint32_t s = shareState & 0x7FFFFFFFu;
    std::uint32_t kind = 0;  // 1, 2 or 3: the share kind the state carries
    if (s == 1 || s == 7 || s == 10) kind = 1;
    if (s == 2 || s == 8 || s == 11) kind = 2;
    if (s == 3 || s == 9 || s == 12) kind = 3;
    std::uint32_t result;
    if (synced == 2) {
        result = kind == 0 ? 5 : 6 + kind;
    } else {
        result = kind == 0 ? 6 : 9 + kind;
    }
    return result | 0x80000000u;
}

std::u16string_view OverlayIconFile(std::uint32_t state) noexcept {
    switch (state & 0x7FFFFFFFu) {
        case 1:
        case 3: return u"\\state\\SharedFlag.ico";
        case 2: return u"\\state\\SharedLinkFlag.ico";
        case 4: return u"\\state\\NewFlag.ico";
        case 5: return u"\\state\\VDSyncDirOk.ico";
        case 6: return u"\\state\\VDSyncDirSyning.ico";
        case 7:
        case 8:
        case 9: return u"\\state\\SynOkAndOther.ico";
        case 10:
        case 11:
        case 12: return u"\\state\\SyningAndOther.ico";
        default: return {};
    }
}

FillMode MergeFillRequests(FillMode pending, FillMode wanted) noexcept {
    return static_cast<int>(wanted) < static_cast<int>(pending) ? wanted : pending;
}

FillPlan::FillPlan(FillMode mode, bool pageMode, int lastEnd) noexcept {
    m_clears = mode == FillMode::Refresh || mode == FillMode::RefreshCatalog;
    if (pageMode) {
        m_first = std::max(0, lastEnd);
        m_last = m_first + kPageItems;
        m_clears = m_clears || m_first == 0;
    }
}

bool FillPlan::Advance(bool atEnd) noexcept {
    m_first += kPageItems;
    m_last += kPageItems;
    return !atEnd;
}

ViewAction DecideViewAction(std::uint64_t code, std::string_view catalogId, const ViewFacts& facts) noexcept {
    using namespace vd;
    switch (code) {
        case SHELL_CATALOG_CHANGED:
            if (catalogId.empty() || catalogId != facts.catalogId) return ViewAction::None;
            return facts.editingLabel ? ViewAction::DeferRefill : ViewAction::Refill;
        case SHELL_PAGE_CHANGED:
            if (catalogId.empty() || catalogId != facts.catalogId) return ViewAction::None;
            return ViewAction::NextPage;
        case SHELL_SHARES_ACCEPTED:
            return facts.inReceivedShares ? ViewAction::Reload : ViewAction::None;
        case SHELL_SHARE_USERS_LOADED:
            return facts.isReceivedShares ? ViewAction::Refill : ViewAction::None;
        case SHELL_SYNC_STATES: return ViewAction::RedrawOverlays;
        case SHELL_SIGNED_OUT: return ViewAction::SignOut;
        case SHELL_REFRESH_TOKEN: return ViewAction::ReadLogin;
        case REFRESH_NIMBRA_OP_TOKEN: return ViewAction::RenewTokens;
        case SHELL_PRXOY_CHANGE: return ViewAction::SetProxy;
        default: return ViewAction::None;
    }
}

}  // namespace vdview
