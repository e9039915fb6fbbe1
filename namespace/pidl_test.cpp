#include "pidl.h"

#include <gtest/gtest.h>

#include <array>
#include <ctime>
#include <vector>

#include "pidl_records.h"

namespace {

using vd::PcPidl;
using vd::UniquePidl;
using vd::VDPidlMgr;
using Bytes = std::vector<std::uint8_t>;

// Expected bytes built from the documented offsets with shifts, independent
// of the code under test.
void Put(Bytes& b, std::size_t off, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) {
        b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

struct Fields {
    std::uint32_t kind;
    std::u16string name;
    std::u16string id;
    std::int32_t node;
    std::uint32_t state;
    std::uint64_t size;
    std::int64_t time;
    std::uint8_t flag;
    std::u16string text;
};

Bytes Hand(const Fields& s) {
    const std::size_t cb = 235 + 2 * s.name.size();
    Bytes b(cb + 3, 0);
    Put(b, 0, cb, 2);
    Put(b, 2, s.kind, 4);
    if (s.kind == 3) {
        Put(b, 6, static_cast<std::uint32_t>(s.node), 4);
    } else {
        for (std::size_t i = 0; i < s.id.size() && i < 33; ++i) {
            Put(b, 6 + 2 * i, s.id[i], 2);
        }
    }
    Put(b, 74, s.state, 4);
    Put(b, 82, s.size, 8);
    Put(b, 90, static_cast<std::uint64_t>(s.time), 8);
    b[98] = s.flag;
    for (std::size_t i = 0; i < s.text.size() && i < 64; ++i) {
        Put(b, 100 + 2 * i, s.text[i], 2);
    }
    for (std::size_t i = 0; i < s.name.size(); ++i) {
        Put(b, 230 + 2 * i, s.name[i], 2);
    }
    return b;
}

// Joins hand-built elements into a list as the shell passes it: elements and
// the 16-bit terminator only, no slack after it.
Bytes ShellList(std::initializer_list<Bytes> elements) {
    Bytes out;
    for (const Bytes& e : elements) {
        out.insert(out.end(), e.begin(), e.end() - 3);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes ToBytes(PcPidl p, std::size_t n) { return Bytes(p, p + n); }

const VDPidlMgr kMgr;

UniquePidl Own(vd::PidlPtr p) { return kMgr.Own(p); }

UniquePidl Node(std::int32_t index, std::u16string_view name) { return Own(kMgr.CreateNode(index, name)); }
UniquePidl Cat(std::u16string_view name, std::u16string_view id = u"abcdefghijkl00019700101000000777") {
    return Own(kMgr.Create(vd::kKindCatalog, name, id, 0, 0, 0, std::nullopt, 0));
}
UniquePidl File(std::u16string_view name, std::uint64_t size = 0) {
    return Own(kMgr.Create(vd::kKindContent, name, u"content-1", 0, size, 0, std::nullopt, 0));
}
UniquePidl Join(std::initializer_list<PcPidl> parts) {
    UniquePidl acc;
    for (PcPidl p : parts) {
        acc = Own(kMgr.Concatenate(acc.get(), p));
    }
    return acc;
}

TEST(Pidl, CreateMatchesHandBuiltBytes) {
    const std::u16string id40 = u"0123456789abcdefghijklmnopqrstuvwxyzABCD";
    const std::u16string text70(70, u'人');
    struct Case {
        const char* what;
        Fields fields;
        bool withText;
    };
    const Case cases[] = {
        {"empty name", {1, u"", u"id", 0, 0, 0, 0, 0, u""}, false},
        {"ten chars", {2, u"0123456789", u"c1", 0, 0, 0x0102030405060708ull, 0x1122334455667788ll, 0, u""}, false},
        {"long id cut", {1, u"docs", id40, 0, 0x80000009u, 0, 1700000000, 0, u""}, false},
        {"33-char id", {2, u"x", id40.substr(0, 33), 0, 1, 5, -1, 7, u"sharer"}, true},
        {"text cut to 64", {1, u"Veyra云盘", u"i", 0, 0x80000005u, 0, 0, 0xff, text70}, true},
        {"empty text", {2, u"a.txt", u"i", 0, 2, 1024, 42, 0, u""}, true},
    };
    for (const Case& c : cases) {
        const Fields& s = c.fields;
        UniquePidl p = Own(kMgr.Create(s.kind, s.name, s.id, s.state, s.size, s.time,
                                       c.withText ? std::optional<std::u16string_view>(s.text) : std::nullopt, s.flag));
        ASSERT_TRUE(p) << c.what;
        const Bytes want = Hand(s);
        EXPECT_EQ(ToBytes(p.get(), want.size()), want) << c.what;
        EXPECT_EQ(VDPidlMgr::GetByteSize(p.get()), static_cast<int>(want.size())) << c.what;
    }
    const Fields node{3, u"日历", u"", 2, 0, 0, 0, 0, u""};
    UniquePidl p = Node(2, u"日历");
    EXPECT_EQ(ToBytes(p.get(), 242), Hand(node));
}

TEST(Pidl, NodeBytesLiteral) {
    UniquePidl p = Node(10, u"");
    Bytes want(238, 0);
    want[0] = 235;  // cb
    want[2] = 3;    // kind
    want[6] = 10;   // node index
    EXPECT_EQ(ToBytes(p.get(), 238), want);
}

class CountingAllocator : public vd::PidlAllocator {
public:
    void* Alloc(std::size_t bytes) noexcept override {
        if (failNext) {
            return nullptr;
        }
        ++live;
        lastSize = bytes;
        return std::malloc(bytes);
    }
    void Free(void* p) noexcept override {
        --live;
        std::free(p);
    }
    bool failNext = false;
    int live = 0;
    std::size_t lastSize = 0;
};

TEST(Pidl, AllocatorAndCreateLimits) {
    CountingAllocator alloc;
    const VDPidlMgr mgr(alloc);
    {
        UniquePidl a = mgr.Own(mgr.Create(1, u"0123456789", u"id", 0, 0, 0, std::nullopt, 0));
        EXPECT_EQ(alloc.lastSize, 258u);
        UniquePidl b = mgr.Own(mgr.Concatenate(a.get(), a.get()));
        EXPECT_EQ(alloc.lastSize, 513u);
        UniquePidl c = mgr.Own(mgr.CopyAllButLast(b.get()));
        EXPECT_EQ(alloc.lastSize, 258u);
        EXPECT_EQ(alloc.live, 3);
        mgr.Delete(nullptr);
    }
    EXPECT_EQ(alloc.live, 0);

    alloc.failNext = true;
    EXPECT_EQ(mgr.Create(2, u"a", u"id", 0, 0, 0, std::nullopt, 0), nullptr);
    EXPECT_EQ(mgr.CreateNode(4, u"a"), nullptr);
    alloc.failNext = false;

    for (std::uint32_t kind : {0u, 3u, 4u}) {
        EXPECT_EQ(mgr.Create(kind, u"a", u"id", 0, 0, 0, std::nullopt, 0), nullptr) << kind;
    }
    // The element size is 16 bits: 32650 characters is the longest name.
    UniquePidl longest = mgr.Own(mgr.Create(2, std::u16string(32650, u'n'), u"id", 0, 0, 0, std::nullopt, 0));
    ASSERT_TRUE(longest);
    EXPECT_EQ(VDPidlMgr::GetByteSize(longest.get()), 65535 + 3);
    EXPECT_EQ(mgr.Create(2, std::u16string(32651, u'n'), u"id", 0, 0, 0, std::nullopt, 0), nullptr);
    // A name is taken up to its first zero.
    UniquePidl cut = mgr.Own(mgr.Create(2, std::u16string(u"ab\0cd", 5), u"id", 0, 0, 0, std::nullopt, 0));
    EXPECT_EQ(VDPidlMgr::GetByteSize(cut.get()), 235 + 4 + 3);
}

TEST(Pidl, ListOperations) {
    UniquePidl root = Node(4, vd::CloudRootName());
    UniquePidl docs = Cat(u"docs");
    UniquePidl file = File(u"a.txt", 77);
    UniquePidl list = Join({root.get(), docs.get(), file.get()});
    const int s = (235 + 14) + (235 + 8) + (235 + 10);
    ASSERT_EQ(VDPidlMgr::GetByteSize(list.get()), s + 3);
    EXPECT_EQ(vd::ValidateList(list.get(), s + 3).count, 3u);

    EXPECT_EQ(VDPidlMgr::GetByteSize(nullptr), 0);
    UniquePidl empty = Own(kMgr.CopyAllButLast(root.get()));
    EXPECT_EQ(ToBytes(empty.get(), 3), Bytes(3, 0));
    EXPECT_EQ(VDPidlMgr::GetByteSize(empty.get()), 3);
    EXPECT_EQ(VDPidlMgr::GetLastItem(empty.get()), nullptr);
    EXPECT_EQ(VDPidlMgr::GetNextItem(empty.get()), nullptr);
    EXPECT_EQ(VDPidlMgr::GetItemType(empty.get()), 0);

    EXPECT_EQ(VDPidlMgr::GetNextItem(list.get()), list.get() + 235 + 14);
    EXPECT_EQ(VDPidlMgr::GetLastItem(list.get()), list.get() + 235 + 14 + 235 + 8);
    EXPECT_EQ(VDPidlMgr::GetItemType(list.get()), 2);
    EXPECT_EQ(VDPidlMgr::GetSize(list.get()), 77u);
    EXPECT_EQ(VDPidlMgr::GetFirstNodeIndex(list.get()), 4);
    EXPECT_EQ(VDPidlMgr::GetNodeIndex(list.get()), -1);
    EXPECT_EQ(VDPidlMgr::GetNodeIndex(root.get()), 4);

    UniquePidl copy = Own(kMgr.Copy(list.get()));
    EXPECT_EQ(ToBytes(copy.get(), s + 3), ToBytes(list.get(), s + 3));
    UniquePidl parent = Own(kMgr.CopyAllButLast(list.get()));
    EXPECT_EQ(VDPidlMgr::GetByteSize(parent.get()), s - 245 + 3);
    EXPECT_EQ(VDPidlMgr::GetItemType(parent.get()), 1);

    EXPECT_EQ(kMgr.Copy(nullptr), nullptr);
    EXPECT_EQ(kMgr.CopyAllButLast(nullptr), nullptr);
    EXPECT_EQ(kMgr.Concatenate(nullptr, nullptr), nullptr);
    UniquePidl left = Own(kMgr.Concatenate(docs.get(), nullptr));
    UniquePidl right = Own(kMgr.Concatenate(nullptr, docs.get()));
    EXPECT_EQ(ToBytes(left.get(), 246), ToBytes(docs.get(), 246));
    EXPECT_EQ(ToBytes(right.get(), 246), ToBytes(docs.get(), 246));

    // State: first and last element; SetState hands back the old value.
    EXPECT_EQ(VDPidlMgr::SetState(list.get(), 0x80000008u), 0u);
    EXPECT_EQ(VDPidlMgr::SetState(list.get(), 6), 0x80000008u);
    EXPECT_EQ(VDPidlMgr::GetState(list.get()), 6u);
    EXPECT_EQ(VDPidlMgr::GetFirstState(list.get()), 0u);
    EXPECT_EQ(list.get()[235 + 14 + 235 + 8 + 74], 6);
    EXPECT_EQ(VDPidlMgr::SetState(nullptr, 1), 0u);
}

// A list from the shell ends right after its 16-bit terminator; copies must
// not read the third byte that our own lists carry.
TEST(Pidl, CopiesOfShellListsStayInBounds) {
    const Bytes shell = ShellList({Hand({1, u"a", u"x", 0, 0, 0, 0, 0, u""}), Hand({2, u"b", u"y", 0, 9, 0, 0, 0, u""})});
    auto heap = std::make_unique<std::uint8_t[]>(shell.size());
    std::copy(shell.begin(), shell.end(), heap.get());
    ASSERT_TRUE(vd::ValidateList(heap.get(), shell.size()).ok);
    UniquePidl copy = Own(kMgr.Copy(heap.get()));
    UniquePidl both = Own(kMgr.Concatenate(heap.get(), heap.get()));
    UniquePidl parent = Own(kMgr.CopyAllButLast(heap.get()));
    Bytes want = shell;
    want.push_back(0);
    EXPECT_EQ(ToBytes(copy.get(), want.size()), want);
    EXPECT_EQ(VDPidlMgr::GetByteSize(both.get()), 2 * 474 + 3);
    EXPECT_EQ(VDPidlMgr::GetByteSize(parent.get()), 237 + 3);
}

TEST(Pidl, NameAndId) {
    const std::u16string id33 = u"0123456789abcdefghijklmnopqrstuvw";
    UniquePidl cat = Own(kMgr.Create(1, u"docs", id33 + u"XYZ", 0, 0, 0, std::nullopt, 0));
    UniquePidl n2 = Node(2, u"短彩信");
    UniquePidl n4 = Node(4, vd::CloudRootName());
    UniquePidl n10 = Node(10, u"收到的分享");
    UniquePidl n99 = Node(99, u"?");
    UniquePidl list = Join({n4.get(), cat.get()});
    struct IdCase {
        PcPidl list;
        bool first;
        std::size_t length;
        std::u16string want;
    };
    const IdCase ids[] = {
        {cat.get(), false, 64, id33},  // 33 characters fill the field without a zero
        {cat.get(), false, 5, u"0123"},
        {n2.get(), false, 64, u""},
        {n4.get(), false, 64, u"00019700101000000001"},
        {n10.get(), false, 64, u"00019700101000000067"},
        {n99.get(), false, 64, u""},
        {list.get(), false, 64, id33},
        {list.get(), true, 64, u"00019700101000000001"},
    };
    for (const IdCase& c : ids) {
        std::array<char16_t, 64> buf;
        buf.fill(u'#');
        std::size_t len = c.length;
        const bool ok = c.first ? VDPidlMgr::GetFirstId(c.list, buf.data(), len) : VDPidlMgr::GetId(c.list, buf.data(), len);
        EXPECT_TRUE(ok);
        EXPECT_EQ(std::u16string(buf.data()), c.want);
        EXPECT_EQ(len, c.want.size());
    }
    std::size_t zero = 0;
    EXPECT_FALSE(VDPidlMgr::GetId(cat.get(), nullptr, zero));
    EXPECT_EQ(VDPidlMgr::GetIdString(list.get()), id33);

    UniquePidl upper = Own(kMgr.Create(2, u"f", u"ABCdef", 0, 0, 0, std::nullopt, 0));
    UniquePidl lower = Own(kMgr.Create(2, u"g", u"abcDEF", 0, 0, 0, std::nullopt, 0));
    UniquePidl rootCat = Own(kMgr.Create(1, u"r", vd::kRootCatalogId, 0, 0, 0, std::nullopt, 0));
    EXPECT_TRUE(VDPidlMgr::IsSameId(upper.get(), lower.get()));
    EXPECT_TRUE(VDPidlMgr::IsSameId(n4.get(), rootCat.get()));
    EXPECT_FALSE(VDPidlMgr::IsSameId(upper.get(), cat.get()));
    EXPECT_FALSE(VDPidlMgr::IsSameId(upper.get(), nullptr));

    // GetName: first element, cut to length - 1; 1 and empty when invalid.
    std::array<char16_t, 300> buf;
    EXPECT_EQ(VDPidlMgr::GetName(list.get(), buf.data(), buf.size()), 0);
    EXPECT_EQ(std::u16string(buf.data()), vd::CloudRootName());
    EXPECT_EQ(VDPidlMgr::GetName(cat.get(), buf.data(), 3), 0);
    EXPECT_EQ(std::u16string(buf.data()), u"do");
    UniquePidl name259 = File(std::u16string(259, u'n'));
    UniquePidl name260 = File(std::u16string(260, u'n'));
    EXPECT_EQ(VDPidlMgr::GetName(name259.get(), buf.data(), buf.size()), 0);
    EXPECT_EQ(std::u16string(buf.data()).size(), 259u);
    buf[0] = u'#';
    EXPECT_EQ(VDPidlMgr::GetName(name260.get(), buf.data(), buf.size()), 1);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(VDPidlMgr::GetName(nullptr, buf.data(), buf.size()), 1);
    EXPECT_EQ(VDPidlMgr::GetName(cat.get(), buf.data(), 0), 1);
    Bytes shortElem = ShellList({Hand({2, u"abc", u"x", 0, 0, 0, 0, 0, u""})});
    Put(shortElem, 0, 231, 2);  // claims less than the header
    EXPECT_EQ(VDPidlMgr::GetName(shortElem.data(), buf.data(), buf.size()), 1);
    EXPECT_EQ(VDPidlMgr::GetName(cat.get()), u"docs");
}

TEST(Pidl, FullNameAndLogPath) {
    UniquePidl root = Node(4, vd::CloudRootName());
    UniquePidl docs = Cat(u"docs");
    UniquePidl file = File(u"a.txt");
    UniquePidl bad = File(std::u16string(260, u'z'));
    UniquePidl withRoot = Join({root.get(), docs.get(), file.get()});
    UniquePidl noRoot = Join({docs.get(), file.get()});
    UniquePidl badMiddle = Join({docs.get(), bad.get(), file.get()});
    UniquePidl empty = Own(kMgr.CopyAllButLast(file.get()));
    struct Case {
        PcPidl list;
        std::size_t length;
        vd::HResult hr;
        std::u16string want;
    };
    // Parts: "Veyra云盘\" (8), "docs" (4), "\a.txt" (6).
    const Case cases[] = {
        {withRoot.get(), 64, vd::kSOk, u"Veyra云盘\\docs\\a.txt"},
        {noRoot.get(), 64, vd::kSOk, u"Veyra云盘\\docs\\a.txt"},
        {noRoot.get(), 19, vd::kSOk, u"Veyra云盘\\docs\\a.txt"},
        {noRoot.get(), 18, vd::kSOk, u""},         // last part overflows: all dropped
        {noRoot.get(), 10, vd::kSOk, u"\\a.txt"},  // dropped, then the walk goes on
        {root.get(), 64, vd::kSOk, u"Veyra云盘"},
        {docs.get(), 64, vd::kSOk, u"Veyra云盘\\docs"},
        {badMiddle.get(), 64, vd::kEFail, u""},
        {empty.get(), 64, vd::kEFail, u""},
        {nullptr, 64, vd::kEFail, u""},
    };
    for (const Case& c : cases) {
        std::array<char16_t, 64> buf;
        buf.fill(u'#');
        std::size_t len = c.length;
        EXPECT_EQ(VDPidlMgr::GetFullName(c.list, buf.data(), len), c.hr) << c.length;
        EXPECT_EQ(std::u16string(buf.data()), c.want) << c.length;
        EXPECT_EQ(len, c.want.size());
    }
    std::size_t zero = 0;
    char16_t one[1];
    EXPECT_EQ(VDPidlMgr::GetFullName(withRoot.get(), one, zero), vd::kEFail);

    EXPECT_EQ(VDPidlMgr::GetPathForLog(withRoot.get()), u"Veyra云盘/docs/a.txt");
    EXPECT_EQ(VDPidlMgr::GetPathForLog(noRoot.get()), u"Veyra云盘/docs/a.txt");
    EXPECT_EQ(VDPidlMgr::GetPathForLog(empty.get()), u"Veyra云盘");
}

std::int64_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t));
}

TEST(Pidl, DetailTexts) {
    const std::int64_t when = LocalTime(2024, 3, 5, 8, 5, 9);
    UniquePidl cat = Own(kMgr.Create(1, u"docs", u"c", 0, 999, when, u"张三", 1));
    UniquePidl file = Own(kMgr.Create(2, u"a.txt", u"f", 0, 1536, when, std::nullopt, 0));
    UniquePidl node = Node(5, u"手机图片");
    const vd::TypeNameFn shell = [](std::u16string_view name) -> std::optional<std::u16string> {
        if (name.ends_with(u".txt")) {
            return u"文本文档";
        }
        return std::nullopt;
    };
    UniquePidl unknown = File(u"a.zzz");
    struct Case {
        PcPidl list;
        int column;
        bool withShell;
        std::u16string want;
    };
    const Case cases[] = {
        {cat.get(), 0, true, u"Folder"},
        {file.get(), 0, true, u"文本文档"},
        {file.get(), 0, false, u"File"},
        {unknown.get(), 0, true, u"File"},
        {node.get(), 0, false, u"File"},
        {cat.get(), 1, false, u"张三"},
        {file.get(), 1, false, u""},
        {file.get(), 2, false, u"1.5 KB"},
        {cat.get(), 2, false, u""},
        {node.get(), 2, false, u""},
        {cat.get(), 3, false, u"2024年3月5日 8:05"},
        {file.get(), 3, false, u"2024年3月5日 8:05"},
        {node.get(), 3, false, u""},
    };
    for (const Case& c : cases) {
        std::array<char16_t, 64> buf;
        EXPECT_EQ(VDPidlMgr::GetDetailText(c.list, c.column, buf.data(), buf.size(), c.withShell ? shell : nullptr), 0);
        EXPECT_EQ(std::u16string(buf.data()), c.want) << c.column;
    }
    std::array<char16_t, 4> small;
    EXPECT_EQ(VDPidlMgr::GetDetailText(file.get(), 2, small.data(), small.size()), 0);
    EXPECT_EQ(std::u16string(small.data()), u"1.5");
    EXPECT_EQ(VDPidlMgr::GetDetailText(file.get(), 4, small.data(), small.size()), vd::kEInvalidArg);
    EXPECT_EQ(VDPidlMgr::GetDetailText(file.get(), -1, small.data(), small.size()), vd::kEInvalidArg);
    EXPECT_EQ(VDPidlMgr::GetDetailText(nullptr, 1, small.data(), small.size()), 1);
    const vd::TypeNameFn throwing = [](std::u16string_view) -> std::optional<std::u16string> { throw 1; };
    EXPECT_EQ(VDPidlMgr::GetDetailText(file.get(), 0, small.data(), small.size(), throwing), 1);
}

TEST(Pidl, SizeText) {
    struct Case {
        std::uint64_t bytes;
        std::u16string want;
    };
    const Case cases[] = {
        {0, u"0.0 B"},
        {1023, u"1023.0 B"},
        {1024, u"1024.0 B"},  // 1.0 is not greater than 1.0
        {1025, u"1.0 KB"},
        {1536, u"1.5 KB"},
        {1048576, u"1024.0 KB"},
        {3 * 1048576ull, u"3.0 MB"},
        {1073741824ull, u"1024.0 MB"},
        {5905580032ull, u"5.5 GB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vd::FormatSizeText(c.bytes), c.want) << c.bytes;
    }
}

TEST(Pidl, Predicates) {
    UniquePidl n4 = Node(4, vd::CloudRootName());
    UniquePidl n10 = Node(10, u"收到的分享");
    UniquePidl n5 = Node(5, u"手机图片");
    UniquePidl share = Cat(u"shared");
    UniquePidl userRoot = Own(kMgr.Create(1, u"r", u"abcdefghijkl00019700101000000001", 0, 0, 0, std::nullopt, 0));
    UniquePidl other = Cat(u"docs");
    UniquePidl l4_10 = Join({n4.get(), n10.get()});
    UniquePidl l4_10_s = Join({n4.get(), n10.get(), share.get()});
    UniquePidl l4_10_s_s = Join({n4.get(), n10.get(), share.get(), share.get()});
    UniquePidl l5_10 = Join({n5.get(), n10.get()});
    UniquePidl l4_5 = Join({n4.get(), n5.get()});
    UniquePidl l4_docs = Join({n4.get(), other.get()});
    struct Case {
        const char* what;
        PcPidl list;
        bool cur;
        bool par;
        bool sys;
    };
    const Case cases[] = {
        {"4,10", l4_10.get(), true, false, true},
        {"4,10,share", l4_10_s.get(), false, true, true},
        {"4,10,share,share", l4_10_s_s.get(), false, false, true},
        {"5,10", l5_10.get(), false, false, false},
        {"10", n10.get(), false, false, false},
        {"4", n4.get(), false, false, true},
        {"4,5", l4_5.get(), false, false, true},
        {"4,docs", l4_docs.get(), false, false, false},
        {"user root", userRoot.get(), false, false, true},
        {"docs", other.get(), false, false, false},
        {"null", nullptr, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vd::Util::IsCurRevShareDir(c.list), c.cur) << c.what;
        EXPECT_EQ(vd::Util::ParIsRevShareDir(c.list), c.par) << c.what;
        const PcPidl one[] = {c.list};
        EXPECT_EQ(vd::Util::IsCurVDsysFolder(one), c.sys) << c.what;
    }
    const PcPidl mixed[] = {other.get(), nullptr, l4_5.get()};
    EXPECT_TRUE(vd::Util::IsCurVDsysFolder(mixed));
    EXPECT_FALSE(vd::Util::IsCurVDsysFolder(std::span<const PcPidl>()));

    // AddMyFilePidl: lists from the root are copied, others get the root node.
    UniquePidl same = Own(vd::Util::AddMyFilePidl(kMgr, l4_docs.get()));
    const int size = VDPidlMgr::GetByteSize(l4_docs.get());
    EXPECT_EQ(ToBytes(same.get(), size), ToBytes(l4_docs.get(), size));
    UniquePidl added = Own(vd::Util::AddMyFilePidl(kMgr, other.get()));
    ASSERT_EQ(VDPidlMgr::GetByteSize(added.get()), size);
    EXPECT_EQ(ToBytes(added.get(), size), ToBytes(l4_docs.get(), size));
}

TEST(PidlRecords, HiddenCatalogs) {
    struct Case {
        std::u16string_view id;
        bool hidden;
    };
    const Case cases[] = {
        {u"abcdefghijkl00019700101000000044", true},
        {u"abcdefghijkl00019700101000000043", true},
        {u"abcdefghijkl00019700101000000067", true},
        {u"00019700101000000044", false},
        {u"abcdefghijkl00019700101000000044x", false},
        {u"abcdefghijkl00019700101000000045", false},
        {u"xx00019700101000000502", true},
        {u"00019700101000000500", true},
        {u"abcdefghijkl00019700101000000001", false},
        {u"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vd::IsHideCatalog(c.id), c.hidden);
        const std::string narrow(c.id.begin(), c.id.end());
        EXPECT_EQ(vd::IsHideCatalog(std::string_view(narrow)), c.hidden) << narrow;
    }
}

TEST(PidlRecords, States) {
    struct Case {
        std::string_view type;
        std::string_view share;
        std::uint32_t catalog;
        std::uint32_t content;
    };
    const Case cases[] = {
        {"7", "", 0x80000005u, 0},  {"7", "1", 0x80000008u, 2}, {"7", "2", 0x80000007u, 1},
        {"7", "3", 0x80000009u, 3}, {"7", "4", 0x80000005u, 0}, {"0", "1", 2, 2},
        {"0", "2", 1, 1},           {"1", "3", 3, 3},           {"", "", 0, 0},
        {"77", "2", 1, 1},          {"7", "22", 0x80000005u, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vd::CatalogState(c.type, c.share), c.catalog) << c.type << "/" << c.share;
        EXPECT_EQ(vd::ContentState(c.share), c.content) << c.share;
    }
}

TEST(PidlRecords, ParseFields) {
    EXPECT_EQ(vd::ParseUpdateTime("20240305080509"), LocalTime(2024, 3, 5, 8, 5, 9));
    EXPECT_EQ(vd::ParseUpdateTime("202403050805"), 0);  // only five fields
    EXPECT_EQ(vd::ParseUpdateTime(""), 0);
    EXPECT_EQ(vd::ParseUpdateTime("garbage"), 0);
    EXPECT_EQ(vd::ParseUpdateTime("20240305080509trailing-text-beyond-thirty-two"), LocalTime(2024, 3, 5, 8, 5, 9));

    struct SizeCase {
        std::string_view text;
        std::uint64_t want;
    };
    const SizeCase sizes[] = {
        {"0", 0},
        {"1536", 1536},
        {" 42abc", 42},
        {"+7", 7},
        {"-5", 0},
        {"", 0},
        {"x1", 0},
        {"9223372036854775807", 9223372036854775807ull},
        {"99999999999999999999999", 9223372036854775807ull},
    };
    for (const SizeCase& c : sizes) {
        EXPECT_EQ(vd::ParseSizeText(c.text), c.want) << c.text;
    }
}

TEST(PidlRecords, CreateFromRecords) {
    const vd::CatalogRecordView synced{u"abcdefghijkl00019700101000000777", u"同步", "20240305080509", "7", "1"};
    UniquePidl c = Own(vd::CreateCatalogPidl(kMgr, synced, 3, u"李四"));
    ASSERT_TRUE(c);
    const Bytes want = Hand({1, u"同步", std::u16string(synced.id), 0, 0x80000008u, 0,
                             LocalTime(2024, 3, 5, 8, 5, 9), 3, u"李四"});
    EXPECT_EQ(ToBytes(c.get(), want.size()), want);

    const vd::CatalogRecordView hidden{u"abcdefghijkl00019700101000000043", u"pics", "", "", ""};
    EXPECT_EQ(vd::CreateCatalogPidl(kMgr, hidden), nullptr);

    const vd::ContentRecordView content{u"file-id", u"a.txt", "20240305080509", "5905580032", "3"};
    UniquePidl f = Own(vd::CreateContentPidl(kMgr, content));
    ASSERT_TRUE(f);
    EXPECT_EQ(ToBytes(f.get(), 235 + 10 + 3),
              Hand({2, u"a.txt", u"file-id", 0, 3, 5905580032ull, LocalTime(2024, 3, 5, 8, 5, 9), 0, u""}));
}

TEST(PidlValidate, RejectsMalformedLists) {
    const Bytes a = Hand({1, u"docs", u"id", 0, 0, 0, 0, 0, u""});
    const Bytes b = Hand({2, u"a.txt", u"id", 0, 0, 0, 0, 0, u"t"});
    const Bytes good = ShellList({a, b});  // 243 + 245 + 2
    auto with = [&](auto edit) {
        Bytes x = good;
        edit(x);
        return x;
    };
    struct Case {
        const char* what;
        Bytes bytes;
        std::size_t available;  // 0: the whole vector
        bool ok;
        std::size_t count;
    };
    const Case cases[] = {
        {"two elements", good, 0, true, 2},
        {"our own tail byte", with([](Bytes& x) { x.push_back(0); }), 0, true, 2},
        {"terminator only", Bytes{0, 0}, 0, true, 0},
        {"one byte", Bytes{0}, 0, false, 0},
        {"nothing", Bytes{}, 0, false, 0},
        {"terminator cut", good, good.size() - 1, false, 0},
        {"no terminator", good, good.size() - 2, false, 0},
        {"cb past buffer", with([](Bytes& x) { Put(x, 243, 300, 2); }), 0, false, 0},
        {"cb 231", with([](Bytes& x) { Put(x, 0, 231, 2); }), 0, false, 0},
        {"cb 1", with([](Bytes& x) { Put(x, 0, 1, 2); }), 0, false, 0},
        {"cb 2", with([](Bytes& x) { Put(x, 243, 2, 2); }), 0, false, 0},
        {"kind 0", with([](Bytes& x) { Put(x, 2, 0, 4); }), 0, false, 0},
        {"kind 4", with([](Bytes& x) { Put(x, 243 + 2, 4, 4); }), 0, false, 0},
        {"name without zero", with([](Bytes& x) { Put(x, 238, u'x', 2); Put(x, 240, u'x', 2); }), 0, false, 0},
        {"text without zero",
         with([](Bytes& x) {
             for (int i = 0; i < 65; ++i) Put(x, 100 + 2 * i, u't', 2);
         }),
         0, false, 0},
        {"text of 64 chars",
         with([](Bytes& x) {
             for (int i = 0; i < 64; ++i) Put(x, 100 + 2 * i, u't', 2);
         }),
         0, true, 2},
        // The element ends one byte into the name's zero.
        {"name zero cut", with([](Bytes& x) { x.erase(x.begin() + 239, x.begin() + 243); Put(x, 0, 239, 2); }), 0, false, 0},
    };
    for (const Case& c : cases) {
        const std::size_t avail = c.available ? c.available : c.bytes.size();
        // Exact-size heap copy so that any read past `avail` is caught.
        auto heap = std::make_unique<std::uint8_t[]>(avail);
        std::copy_n(c.bytes.begin(), std::min(avail, c.bytes.size()), heap.get());
        const vd::PidlCheck check = vd::ValidateList(heap.get(), avail);
        EXPECT_EQ(check.ok, c.ok) << c.what;
        EXPECT_EQ(check.count, c.count) << c.what;
        if (check.ok) {
            EXPECT_LE(check.bytes, avail) << c.what;
        }
    }
    EXPECT_FALSE(vd::ValidateList(nullptr, 100).ok);

    // The smallest valid element (cb 232, empty name, no tail) reads cleanly.
    Bytes tiny(234, 0);
    Put(tiny, 0, 232, 2);
    Put(tiny, 2, 2, 4);
    Put(tiny, 82, 2048, 8);
    ASSERT_TRUE(vd::ValidateList(tiny.data(), tiny.size()).ok);
    std::array<char16_t, 16> buf;
    EXPECT_EQ(VDPidlMgr::GetName(tiny.data(), buf.data(), buf.size()), 0);
    EXPECT_EQ(std::u16string(buf.data()), u"");
    EXPECT_EQ(VDPidlMgr::GetDetailText(tiny.data(), 2, buf.data(), buf.size()), 0);
    EXPECT_EQ(std::u16string(buf.data()), u"2.0 KB");
    UniquePidl copy = Own(kMgr.Copy(tiny.data()));
    EXPECT_EQ(VDPidlMgr::GetByteSize(copy.get()), 235);
}

}  // namespace
