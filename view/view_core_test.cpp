#include "view_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "nimbra_messages.h"

namespace {

using namespace vdview;
using vd::VDPidlMgr;

TEST(CompareLogical, DigitsCompareAsNumbersAndLettersWithoutCase) {
    struct Case {
        std::u16string a, b;
        int expected;
    };
    const Case cases[] = {
        {u"a2", u"a10", -1},     {u"a10", u"a2", 1},       {u"A10", u"a10", 0},   {u"file", u"FILE", 0},
        {u"x007", u"x7", 0},     {u"x007", u"x8", -1},     {u"abc", u"abd", -1},  {u"ab", u"abc", -1},
        {u"", u"a", -1},         {u"9", u"10", -1},        {u"v1.10", u"v1.9", 1}, {u"图片2", u"图片10", -1},
        {u"00", u"0", 0},        {u"12345678901234567890", u"12345678901234567891", -1},
    };
    for (const Case& c : cases) {
        const int got = CompareLogical(c.a, c.b);
        EXPECT_EQ((got > 0) - (got < 0), c.expected) << std::string(c.a.begin(), c.a.end());
        const int back = CompareLogical(c.b, c.a);
        EXPECT_EQ((back > 0) - (back < 0), -c.expected) << "antisymmetric";
    }
}

TEST(SortState, ASecondClickTogglesANewColumnStartsDescending) {
    SortState sort;
    struct Step {
        int click, column, direction;
    };
    // The first click on column 2 of a new view toggles to ascending.
    const Step steps[] = {{2, 2, 1}, {2, 2, 0}, {0, 0, 0}, {0, 0, 1}, {1, 1, 0}, {1, 1, 1}, {1, 1, 0}, {2, 2, 0}};
    for (const Step& s : steps) {
        sort.Click(s.click);
        EXPECT_EQ(sort.column, s.column);
        EXPECT_EQ(sort.direction, s.direction) << "after a click on " << s.click;
    }
}

class ViewOrder : public ::testing::Test {
protected:
    vd::UniquePidl Make(std::uint32_t kind, std::u16string_view name, std::uint64_t size, std::int64_t time,
                        std::u16string_view sharer = u"") {
        return mgr.Own(mgr.Create(kind, name, u"id-" + std::u16string(name), 0, size, time, sharer, 0));
    }
    std::vector<std::u16string> Sorted(std::vector<vd::PcPidl> items, const SortState& sort, bool shareView) {
        std::stable_sort(items.begin(), items.end(), [&](vd::PcPidl a, vd::PcPidl b) {
            return CompareViewItems(a, b, sort, shareView) < 0;
        });
        std::vector<std::u16string> names;
        for (vd::PcPidl p : items) names.push_back(VDPidlMgr::GetName(p));
        return names;
    }
    VDPidlMgr mgr;
};

TEST_F(ViewOrder, FoldersStayAboveFilesInBothDirectionsOnEveryColumn) {
    auto f1 = Make(vd::kKindCatalog, u"b目录", 0, 300);
    auto f2 = Make(vd::kKindCatalog, u"a目录", 0, 100);
    auto c1 = Make(vd::kKindContent, u"file10.txt", 1024, 200);
    auto c2 = Make(vd::kKindContent, u"file9.txt", 1025, 100);
    auto c3 = Make(vd::kKindContent, u"File1.txt", 5, 400);
    const std::vector<vd::PcPidl> all = {c1.get(), f1.get(), c2.get(), f2.get(), c3.get()};
    struct Case {
        int column, direction;
        std::vector<std::u16string> expected;
    };
    const Case cases[] = {
        {0, 1, {u"a目录", u"b目录", u"File1.txt", u"file9.txt", u"file10.txt"}},
        {0, 0, {u"b目录", u"a目录", u"file10.txt", u"file9.txt", u"File1.txt"}},
        {1, 1, {u"b目录", u"a目录", u"File1.txt", u"file10.txt", u"file9.txt"}},  // folders tie on size
        {1, 0, {u"b目录", u"a目录", u"file9.txt", u"file10.txt", u"File1.txt"}},
        {2, 1, {u"a目录", u"b目录", u"file9.txt", u"file10.txt", u"File1.txt"}},
        {2, 0, {u"b目录", u"a目录", u"File1.txt", u"file10.txt", u"file9.txt"}},
    };
    for (const Case& c : cases) {
        SortState sort{c.column, c.direction};
        EXPECT_EQ(Sorted(all, sort, false), c.expected) << "column " << c.column << " direction " << c.direction;
    }
}

TEST_F(ViewOrder, TheShareViewSortsBySharerWithoutCaseAndMovesSizeAndTimeOneColumnRight) {
    auto a = Make(vd::kKindContent, u"a", 30, 1, u"Bob");
    auto b = Make(vd::kKindContent, u"b", 10, 3, u"alice");
    auto c = Make(vd::kKindContent, u"c", 20, 2, u"carol");
    const std::vector<vd::PcPidl> all = {a.get(), b.get(), c.get()};
    EXPECT_EQ(Sorted(all, SortState{1, 1}, true), (std::vector<std::u16string>{u"b", u"a", u"c"}));
    EXPECT_EQ(Sorted(all, SortState{2, 1}, true), (std::vector<std::u16string>{u"b", u"c", u"a"}));
    EXPECT_EQ(Sorted(all, SortState{3, 1}, true), (std::vector<std::u16string>{u"a", u"c", u"b"}));
    EXPECT_EQ(Sorted(all, SortState{1, 1}, false), (std::vector<std::u16string>{u"b", u"c", u"a"})) << "size";
    EXPECT_EQ(CompareViewItems(a.get(), b.get(), SortState{4, 1}, true), 0) << "no fifth column";
}

TEST_F(ViewOrder, NodesCompareEqualAndAnEmptyItemSortsFirst) {
    auto node = mgr.Own(mgr.CreateNode(vd::kNodeReceivedShares, u"收到的分享"));
    auto file = Make(vd::kKindContent, u"a", 1, 1);
    const std::uint8_t empty[2] = {0, 0};
    for (int direction : {0, 1}) {
        SortState sort{0, direction};
        EXPECT_EQ(CompareViewItems(node.get(), file.get(), sort, false), 0);
        EXPECT_EQ(CompareViewItems(file.get(), node.get(), sort, false), 0);
        EXPECT_LT(CompareViewItems(empty, file.get(), sort, false), 0);
        EXPECT_GT(CompareViewItems(file.get(), empty, sort, false), 0);
        EXPECT_EQ(CompareViewItems(empty, empty, sort, false), 0);
    }
}

TEST(Overlay, SyncStateCombinesWithTheShareKindAndPicksItsIcon) {
    struct Case {
        std::uint32_t share;
        int synced;
        std::uint32_t expected;
        std::u16string_view icon;
    };
    const Case cases[] = {
        {0, 2, 5, u"\\state\\VDSyncDirOk.ico"},       {0, 1, 6, u"\\state\\VDSyncDirSyning.ico"},
        {1, 2, 7, u"\\state\\SynOkAndOther.ico"},     {2, 2, 8, u"\\state\\SynOkAndOther.ico"},
        {3, 2, 9, u"\\state\\SynOkAndOther.ico"},     {1, 0, 10, u"\\state\\SyningAndOther.ico"},
        {2, 7, 11, u"\\state\\SyningAndOther.ico"},   {3, -1, 12, u"\\state\\SyningAndOther.ico"},
        {7, 1, 10, u"\\state\\SyningAndOther.ico"},   {11, 2, 8, u"\\state\\SynOkAndOther.ico"},
        {0x80000009u, 0, 12, u"\\state\\SyningAndOther.ico"}, {4, 2, 5, u"\\state\\VDSyncDirOk.ico"},
        {13, 1, 6, u"\\state\\VDSyncDirSyning.ico"},
    };
    for (const Case& c : cases) {
        const std::uint32_t got = ComposeSyncOverlay(c.share, c.synced);
        EXPECT_EQ(got, c.expected | 0x80000000u) << c.share << "/" << c.synced;
        EXPECT_EQ(OverlayIconFile(got), c.icon);
    }
    EXPECT_EQ(OverlayIconFile(0), u"");
    EXPECT_EQ(OverlayIconFile(1), u"\\state\\SharedFlag.ico");
    EXPECT_EQ(OverlayIconFile(2), u"\\state\\SharedLinkFlag.ico");
    EXPECT_EQ(OverlayIconFile(4), u"\\state\\NewFlag.ico");
    EXPECT_EQ(OverlayIconFile(13), u"") << "outside 0 to 12 draws nothing";
    EXPECT_EQ(OverlayIconFile(0x7FFFFFFFu), u"");
}

TEST(FillPlan, PagesOfTwoHundredUntilAShortPageAndPageModeGoesOnFromTheListsEnd) {
    struct Case {
        FillMode mode;
        bool pageMode;
        int lastEnd;
        bool clears;
        std::vector<bool> atEnd;  // what each page reports
        std::vector<std::pair<int, int>> pages;
    };
    const Case cases[] = {
        {FillMode::First, false, 0, false, {false, false, true}, {{0, 200}, {200, 400}, {400, 600}}},
        {FillMode::Refresh, false, 900, true, {true}, {{0, 200}}},
        {FillMode::RefreshCatalog, false, 0, true, {false, true}, {{0, 200}, {200, 400}}},
        {FillMode::NextPage, true, 400, false, {false, true}, {{400, 600}, {600, 800}}},
        {FillMode::NextPage, true, 0, true, {true}, {{0, 200}}},
        {FillMode::NextPage, true, -5, true, {true}, {{0, 200}}},
    };
    for (const Case& c : cases) {
        FillPlan plan(c.mode, c.pageMode, c.lastEnd);
        EXPECT_EQ(plan.ClearsList(), c.clears) << static_cast<int>(c.mode) << " from " << c.lastEnd;
        std::vector<std::pair<int, int>> pages;
        for (bool end : c.atEnd) {
            pages.emplace_back(plan.First(), plan.Last());
            if (!plan.Advance(end)) break;
        }
        EXPECT_EQ(pages, c.pages) << static_cast<int>(c.mode) << " from " << c.lastEnd;
    }
}

TEST(FillPlan, APendingRequestIsNeverReplacedByOneThatShowsLess) {
    using M = FillMode;
    struct Case {
        M pending, wanted, merged;
    };
    const Case cases[] = {
        {M::NextPage, M::NextPage, M::NextPage},       {M::NextPage, M::RefreshCatalog, M::RefreshCatalog},
        {M::RefreshCatalog, M::NextPage, M::RefreshCatalog}, {M::Refresh, M::NextPage, M::Refresh},
        {M::Refresh, M::RefreshCatalog, M::Refresh},   {M::RefreshCatalog, M::Refresh, M::Refresh},
        {M::First, M::Refresh, M::First},              {M::NextPage, M::First, M::First},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MergeFillRequests(c.pending, c.wanted), c.merged)
            << static_cast<int>(c.pending) << " then " << static_cast<int>(c.wanted);
    }
}

TEST(DecideViewAction, RecordsActOnlyOnTheFolderTheyConcern) {
    ViewFacts plain;
    plain.catalogId = "cat-1";
    ViewFacts editing = plain;
    editing.editingLabel = true;
    ViewFacts shares;
    shares.catalogId = "share-root";
    shares.isReceivedShares = true;
    shares.inReceivedShares = true;
    struct Case {
        std::uint64_t code;
        std::string id;
        const ViewFacts* facts;
        ViewAction expected;
    };
    const Case cases[] = {
        {vd::SHELL_CATALOG_CHANGED, "cat-1", &plain, ViewAction::Refill},
        {vd::SHELL_CATALOG_CHANGED, "cat-2", &plain, ViewAction::None},
        {vd::SHELL_CATALOG_CHANGED, "", &plain, ViewAction::None},
        {vd::SHELL_CATALOG_CHANGED, "cat-1", &editing, ViewAction::DeferRefill},
        {vd::SHELL_PAGE_CHANGED, "cat-1", &editing, ViewAction::NextPage},
        {vd::SHELL_PAGE_CHANGED, "cat-10", &plain, ViewAction::None},
        {vd::SHELL_SHARES_ACCEPTED, "x", &plain, ViewAction::None},
        {vd::SHELL_SHARES_ACCEPTED, "x", &shares, ViewAction::Reload},
        {vd::SHELL_SHARE_USERS_LOADED, "", &plain, ViewAction::None},
        {vd::SHELL_SHARE_USERS_LOADED, "", &shares, ViewAction::Refill},
        {vd::SHELL_SYNC_STATES, "", &plain, ViewAction::RedrawOverlays},
        {vd::SHELL_SIGNED_OUT, "", &plain, ViewAction::SignOut},
        {vd::SHELL_REFRESH_TOKEN, "", &plain, ViewAction::ReadLogin},
        {vd::REFRESH_NIMBRA_OP_TOKEN, "", &plain, ViewAction::RenewTokens},
        {vd::SHELL_PRXOY_CHANGE, "", &plain, ViewAction::SetProxy},
        {9999, "cat-1", &plain, ViewAction::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecideViewAction(c.code, c.id, *c.facts), c.expected) << c.code << " " << c.id;
    }
}

}  // namespace
