#pragma once
// What the cloud view decides without a window: item order, overlay states,
// the pages of a fill and what a record asks of an open view. The window
// side (win32/) only carries the decisions out.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "pidl.h"

namespace vdview {

// Pages of the list: the view asks the folder for this many at a time.
inline constexpr int kPageItems = 200;
// Pause between two pages of one fill, so the window thread inserts a page
// between two of them.
inline constexpr int kPagePauseMs = 100;

// A null list or one that ends at once.
inline bool IsEmptyList(vd::PcPidl list) noexcept { return list == nullptr || (list[0] == 0 && list[1] == 0); }

// Digits compare as numbers, letters without case: "a2" < "A10".
int CompareLogical(std::u16string_view a, std::u16string_view b) noexcept;
using NameCompare = std::function<int(std::u16string_view, std::u16string_view)>;

// Column and direction of the list's order. Direction 0 is descending: a
// first click on a column sorts Z to A, the next one A to Z.
struct SortState {
    int column = 2;
    int direction = 0;
    // A click with the left button on a column header.
    void Click(int clicked) noexcept;
};

// Negative, zero or positive as `a` sorts before, with or after `b` in the
// view. Folders stay above files in both directions; fixed nodes compare
// equal to everything.
int CompareViewItems(vd::PcPidl a, vd::PcPidl b, const SortState& sort, bool shareView,
                     const NameCompare& names = CompareLogical) noexcept;

// Overlay state of an item whose catalog is synced with a local folder:
// `shareState` the item's state (low 31 bits), `synced` the client's word
// (2 synchronised, anything else synchronising). Bit 31 marks it resolved.
std::uint32_t ComposeSyncOverlay(std::uint32_t shareState, int synced) noexcept;
// File under the images folder for an overlay state; empty for none.
std::u16string_view OverlayIconFile(std::uint32_t state) noexcept;

// One fill of the list: the pages it asks for, from the fill mode and the
// page mode that a one-page record set.
enum class FillMode { First = 0, Refresh = 1, RefreshCatalog = 2, NextPage = 3 };

// A fill asked for while another waits for the list thread: the one that
// shows more wins (a first fill over a refresh over a catalog refill over a
// next page), so a page record never cancels a pending refresh.
FillMode MergeFillRequests(FillMode pending, FillMode wanted) noexcept;

class FillPlan {
public:
    // `pageMode`: a first listing grows; the list keeps its first `lastEnd`
    // items and takes what follows them, every page the store holds by now
    // (records that arrived while a fill ran are not lost).
    FillPlan(FillMode mode, bool pageMode, int lastEnd) noexcept;
    // The list is emptied before the first page goes in.
    bool ClearsList() const noexcept { return m_clears; }
    int First() const noexcept { return m_first; }
    int Last() const noexcept { return m_last; }
    // After a page: false when the fill ends (a short page).
    bool Advance(bool atEnd) noexcept;

private:
    bool m_clears = false;
    int m_first = 0;
    int m_last = kPageItems;
};

// What an open view does with a record from the client, the cache or
// another view.
enum class ViewAction {
    None,
    Refill,            // fill the list again from the cache (refresh of the current catalog)
    DeferRefill,       // the same, once the label being edited is done
    NextPage,          // a page of a first listing arrived: show it
    Reload,            // ask the cloud for the folder again
    MarkSharesWaiting, // the received-shares node gets its "new" overlay
    RedrawOverlays,    // sync states changed
    SignOut,           // stop transfers, empty and close the window
    ReadLogin,         // the client wrote new sign-in values
    RenewTokens,       // the client has new tokens
    SetProxy,
    SaveToMyDisk,      // the client answered a save-to-my-disk request
    SideBar,
};

struct ViewFacts {
    std::string catalogId;         // the folder the view shows
    bool inReceivedShares = false; // inside the received-shares tree
    bool isReceivedShares = false; // the received-shares node itself
    bool editingLabel = false;
};

ViewAction DecideViewAction(std::uint64_t code, std::string_view catalogId, const ViewFacts& facts) noexcept;

}  // namespace vdview
