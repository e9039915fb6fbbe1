#include "pidl_enum.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <map>
#include <thread>

#include "cache_result.h"
#include "folder_refresh.h"
#include "pidl_records.h"
#include "platform/text.h"
#include "test_support.h"
#include "share_file_cache.h"
#include "vd_cache.h"

namespace vd {
namespace {

using vdcache::CVDCache;
using vdcache::test::MakeCatalog;
using vdcache::test::MakeContent;
using vdcache::test::TempDir;

const std::string kUser = "U00000000001";
const std::string kRoot = "00019700101000000001";
const std::string kDocsId = kUser + "00019700101000000101";
const std::string kPhotosId = kUser + "00019700101000000102";

ListResult Listing(const std::string& parent, std::vector<CatalogInfo> catalogs, std::vector<ContentInfo> contents) {
    ListResult r;
    r.request.catalogID = parent;
    r.catalogs = std::move(catalogs);
    r.contents = std::move(contents);
    r.totalCount = std::to_string(r.catalogs.size() + r.contents.size());
    return r;
}

ListResult RootListing() {
    CatalogInfo docs = MakeCatalog(kDocsId, "docs", "20240305101520");
    docs.catalogType = "7";
    CatalogInfo photos = MakeCatalog(kPhotosId, "photos");
    photos.shareType = "2";
    ContentInfo file = MakeContent(kUser + "F1", "a.txt", "20231231235959");
    file.contentSize = "1536";
    file.shareType = "1";
    return Listing(kRoot,
                   {docs, MakeCatalog(kUser + "00019700101000000043", "pics"),
                    MakeCatalog(kUser + "00019700101000000044", "vids"), photos,
                    MakeCatalog(kUser + "00019700101000000067", "shares")},
                   {file, MakeContent(kUser + "F2", "b.jpg")});
}

// Test-readable form of one element: N<index>, C:<name> or F:<name>.
std::string Describe(PcPidl item) {
    switch (VDPidlMgr::GetItemType(item)) {
        case kKindNode:
            return "N" + std::to_string(VDPidlMgr::GetNodeIndex(item));
        case kKindCatalog:
            return "C:" + platform::Utf16ToUtf8(VDPidlMgr::GetName(item));
        case kKindContent:
            return "F:" + platform::Utf16ToUtf8(VDPidlMgr::GetName(item));
        default:
            return "?";
    }
}

std::vector<std::string> Describe(const CIVDPidlEnumEx& e) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < e.Count(); ++i) out.push_back(Describe(e.At(i)));
    return out;
}

// A cache.db written through the cache's own store, then opened afresh so
// the enumerator reads what came back from the file.
class PidlEnumTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = dir_.File("cache.db");
        {
            CVDCache writer;
            ASSERT_EQ(writer.Initialize(1, true, db_, "alice"), vdcache::kCacheOk);
            writer.UpdateCache(RootListing());
            writer.UpdateCache(Listing(kDocsId, {MakeCatalog(kUser + "C9", "sub")},
                                       {MakeContent(kUser + "D1", "1"), MakeContent(kUser + "D2", "2")}));
        }
        ASSERT_EQ(cache_.Initialize(1, true, db_, "alice"), vdcache::kCacheOk);
    }

    PidlEnumEnv Env(std::function<int(const std::string&)> sync = {}) {
        PidlEnumEnv env;
        env.cache = &cache_;
        env.account = "alice";
        env.userId = kUser;
        env.isFolderLocalSynFolder = std::move(sync);
        env.toWide = platform::Utf8ToUtf16;
        return env;
    }

    UniquePidl DocsFolder() {
        UniquePidl root = mgr_.Own(mgr_.CreateNode(kNodeCloudRoot, CloudRootName()));
        const std::u16string id = platform::Utf8ToUtf16(kDocsId);
        UniquePidl docs = mgr_.Own(mgr_.Create(kKindCatalog, u"docs", id, 0, 0, 0, std::nullopt, 0));
        return mgr_.Own(mgr_.Concatenate(root.get(), docs.get()));
    }

    TempDir dir_;
    std::string db_;
    vdcache::test::FailingSdk sdk_;  // the cloud is unreachable
    CVDCache cache_{&sdk_};
    VDPidlMgr mgr_;
};

TEST(PidlEnumKeys, SymbolLinksAndKeyEquality) {
    ASSERT_EQ(CIVDPidlEnumEx::SymbolLinks().size(), 8u);
    const SymbolLink* shares = CIVDPidlEnumEx::FindSymbolLink(kNodeReceivedShares);
    ASSERT_NE(shares, nullptr);
    EXPECT_EQ(shares->parentKey, kNodeCloudRoot);
    ASSERT_TRUE(shares->catalogId.has_value());
    EXPECT_EQ(*shares->catalogId, "");
    EXPECT_EQ(shares->name, u"收到的分享");
    const SymbolLink* messages = CIVDPidlEnumEx::FindSymbolLink(kNodeMessages);
    ASSERT_NE(messages, nullptr);
    EXPECT_FALSE(messages->catalogId.has_value());
    EXPECT_EQ(CIVDPidlEnumEx::FindSymbolLink(kNodeCloudRoot)->catalogId, "00019700101000000001");
    EXPECT_EQ(CIVDPidlEnumEx::FindSymbolLink(kNodePhonePictures)->catalogId, "00019700101000000043");
    EXPECT_EQ(CIVDPidlEnumEx::FindSymbolLink(0), nullptr);
    EXPECT_EQ(CIVDPidlEnumEx::FindSymbolLink(6), nullptr);
    for (const SymbolLink& row : CIVDPidlEnumEx::SymbolLinks()) EXPECT_EQ(row.kind, kKindNode);

    const std::u16string id32 = u"U0000000000100019700101000000101";
    struct Case {
        CatalogKey a, b;
        bool equal;
    } cases[] = {
        {CatalogKey::Node(4), CatalogKey::Node(4), true},
        {CatalogKey::Node(4), CatalogKey::Node(0), false},
        {CatalogKey::Catalog(id32), CatalogKey::Catalog(id32), true},
        {CatalogKey::Catalog(id32 + u"X"), CatalogKey::Catalog(id32 + u"Y"), true},  // 33rd character ignored
        {CatalogKey::Catalog(id32), CatalogKey::Catalog(u"U0000000000200019700101000000101"), false},
        {CatalogKey::Catalog(u"4"), CatalogKey::Node(4), false},
        {CatalogKey::Catalog(u""), CatalogKey::Node(0), false},
        {CatalogKey::Catalog(u"abc"), CatalogKey::Catalog(u"abcd"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CIVDPidlEnumEx::IsCatalogEqual(c.a, c.b), c.equal);
        EXPECT_EQ(CIVDPidlEnumEx::IsCatalogEqual(c.b, c.a), c.equal);
    }
}

TEST_F(PidlEnumTest, RootPageListsNodesThenVisibleCatalogsThenContentsByFlags) {
    struct Case {
        std::uint32_t flags;
        std::vector<std::string> expect;
    } cases[] = {
        {0x60, {"N10", "N9", "N5", "C:docs", "C:photos", "F:a.txt", "F:b.jpg"}},
        {0x20, {"N10", "N9", "N5", "C:docs", "C:photos"}},
        {0x40, {"N10", "N9", "N5", "F:a.txt", "F:b.jpg"}},
        {0x00, {"N10", "N9", "N5"}},
    };
    for (const Case& c : cases) {
        CIVDPidlEnumEx e(Env());
        bool atEnd = false;
        bool second = true;
        ASSERT_TRUE(e.InitEx(nullptr, c.flags, true, &atEnd, &second, 0, 200, 0)) << c.flags;
        EXPECT_EQ(Describe(e), c.expect) << c.flags;
        EXPECT_TRUE(atEnd);
        EXPECT_FALSE(second);
    }
}

TEST_F(PidlEnumTest, InitOfTheRootAlwaysAsksTheCloud) {
    // The root is never read from the store alone: with the cloud unreachable
    // the listing cannot start, Init fails and nothing is listed.
    CIVDPidlEnumEx e(Env());
    EXPECT_FALSE(e.Init(nullptr, 0x60, true, 0));
    EXPECT_EQ(e.Count(), 0u);
    std::uint32_t fetched = 7;
    PidlPtr out[1] = {nullptr};
    EXPECT_EQ(e.Next(1, out, &fetched), kEnumFalse);
    EXPECT_EQ(fetched, 0u);
}

TEST_F(PidlEnumTest, CatalogFolderListsNoFixedNodes) {
    UniquePidl folder = DocsFolder();
    CIVDPidlEnumEx e(Env());
    ASSERT_TRUE(e.Init(folder.get(), 0x60, true, 0));
    EXPECT_EQ(Describe(e), (std::vector<std::string>{"C:sub", "F:1", "F:2"}));

    // A fixed node folder other than the root lists none either.
    UniquePidl pictures = mgr_.Own(mgr_.CreateNode(kNodePhonePictures, u"手机图片"));
    CIVDPidlEnumEx p(Env());
    ASSERT_TRUE(p.Init(pictures.get(), 0x60, true, 0));
    EXPECT_EQ(p.Count(), 0u);
}

TEST_F(PidlEnumTest, CacheReadFailureAddsNothing) {
    CVDCache unloaded(&sdk_);
    PidlEnumEnv env = Env();
    env.cache = &unloaded;
    UniquePidl folder = DocsFolder();
    for (bool cacheOnly : {true, false}) {
        CIVDPidlEnumEx e(env);
        EXPECT_FALSE(e.Init(folder.get(), 0x60, cacheOnly, 0));
        EXPECT_EQ(e.Count(), 0u);
        bool atEnd = false;
        EXPECT_FALSE(e.InitEx(nullptr, 0x60, cacheOnly, &atEnd, nullptr, 0, 200, 0));
        EXPECT_EQ(e.Count(), 0u);
        EXPECT_FALSE(atEnd);
    }
}

TEST_F(PidlEnumTest, PagedReadsAtEndAndNodesOnFirstPageOnly) {
    UniquePidl docs = DocsFolder();
    struct Case {
        PcPidl folder;
        int first, last;
        bool atEnd;
        std::vector<std::string> expect;
    } cases[] = {
        {docs.get(), 0, 3, false, {"C:sub", "F:1", "F:2"}},  // exactly last - first records
        {docs.get(), 0, 2, false, {"C:sub", "F:1"}},
        {docs.get(), 2, 4, true, {"F:2"}},
        {docs.get(), 3, 6, true, {}},  // empty page
        {nullptr, 0, 7, false, {"N10", "N9", "N5", "C:docs", "C:photos", "F:a.txt", "F:b.jpg"}},
        {nullptr, 5, 7, false, {"F:a.txt", "F:b.jpg"}},  // hidden ones still count as records
        {nullptr, 7, 9, true, {}},
    };
    for (const Case& c : cases) {
        CIVDPidlEnumEx e(Env());
        bool atEnd = !c.atEnd;
        ASSERT_TRUE(e.InitEx(c.folder, 0x60, true, &atEnd, nullptr, c.first, c.last, 0));
        EXPECT_EQ(atEnd, c.atEnd) << c.first << ".." << c.last;
        EXPECT_EQ(Describe(e), c.expect) << c.first << ".." << c.last;
    }
}

TEST_F(PidlEnumTest, CursorNextSkipReset) {
    UniquePidl folder = DocsFolder();
    CIVDPidlEnumEx e(Env());
    ASSERT_TRUE(e.Init(folder.get(), 0x60, true, 0));
    ASSERT_EQ(e.Count(), 3u);

    PidlPtr out[10] = {};
    std::uint32_t fetched = 0;
    EXPECT_EQ(e.Next(10, out, &fetched), kEnumFalse);
    ASSERT_EQ(fetched, 3u);
    for (std::uint32_t i = 0; i < fetched; ++i) {
        EXPECT_NE(out[i], e.At(i));  // a copy the caller owns
        EXPECT_EQ(VDPidlMgr::GetByteSize(out[i]), VDPidlMgr::GetByteSize(e.At(i)));
        EXPECT_EQ(std::memcmp(out[i], e.At(i), VDPidlMgr::GetByteSize(out[i])), 0);
        mgr_.Delete(out[i]);
    }
    EXPECT_EQ(e.Next(1, out, nullptr), kEnumFalse);

    e.Reset();
    EXPECT_EQ(e.Skip(2), kEnumOk);
    EXPECT_EQ(e.Next(1, out, nullptr), kEnumOk);
    EXPECT_EQ(Describe(out[0]), "F:2");
    mgr_.Delete(out[0]);

    e.Reset();
    EXPECT_EQ(e.Skip(5), kEnumFalse);
    EXPECT_EQ(e.Next(1, out, &fetched), kEnumFalse);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(e.Skip(0), kEnumOk);

    e.Reset();
    EXPECT_EQ(e.Next(2, out, &fetched), kEnumOk);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(Describe(out[0]), "C:sub");
    EXPECT_EQ(Describe(out[1]), "F:1");
    mgr_.Delete(out[0]);
    mgr_.Delete(out[1]);
}

TEST_F(PidlEnumTest, ElementBytesOfNodesCatalogsAndContents) {
    std::map<std::string, int> asked;
    auto sync = [&](const std::string& id) {
        ++asked[id];
        if (id == kUser + "00019700101000000043") return 2;  // any positive value marks pictures
        if (id == kUser + "00019700101000000044") return 0;
        return 2;  // not exactly 1: the received-shares node stays plain
    };
    CIVDPidlEnumEx e(Env(sync));
    bool atEnd = false;
    ASSERT_TRUE(e.InitEx(nullptr, 0x60, true, &atEnd, nullptr, 0, 200, 0));
    ASSERT_EQ(e.Count(), 7u);
    EXPECT_EQ(asked, (std::map<std::string, int>{
                         {"", 1}, {kUser + "00019700101000000043", 1}, {kUser + "00019700101000000044", 1}}));

    struct NodeCase {
        std::size_t at;
        int index;
        std::u16string name;
        std::uint32_t state;
    } nodes[] = {
        {0, kNodeReceivedShares, u"收到的分享", kStatePlain},
        {1, kNodePhoneVideos, u"手机视频", kStatePlain},
        {2, kNodePhonePictures, u"手机图片", kStateSynced},
    };
    for (const NodeCase& n : nodes) {
        PcPidl item = e.At(n.at);
        EXPECT_EQ(VDPidlMgr::GetNodeIndex(item), n.index);
        EXPECT_EQ(VDPidlMgr::GetName(item), n.name);
        EXPECT_EQ(VDPidlMgr::GetState(item), n.state) << n.at;
        EXPECT_EQ(VDPidlMgr::GetTime(item), 0);
        EXPECT_EQ(VDPidlMgr::GetByteSize(item), static_cast<int>(235 + 2 * n.name.size() + 3));
    }

    // docs: type "7", no share type; its ID and time come through unchanged.
    PcPidl docs = e.At(3);
    std::uint16_t cb = 0;
    std::memcpy(&cb, docs, 2);
    EXPECT_EQ(cb, 235 + 2 * 4);
    EXPECT_EQ(VDPidlMgr::GetItemType(docs), kKindCatalog);
    EXPECT_EQ(VDPidlMgr::GetIdString(docs), platform::Utf8ToUtf16(kDocsId));
    EXPECT_EQ(VDPidlMgr::GetState(docs), kStateSynced);
    EXPECT_EQ(VDPidlMgr::GetTime(docs), ParseUpdateTime("20240305101520"));
    EXPECT_NE(VDPidlMgr::GetTime(docs), 0);
    EXPECT_EQ(VDPidlMgr::GetSize(docs), 0u);
    EXPECT_EQ(VDPidlMgr::GetFlag(docs), 0);
    EXPECT_EQ(VDPidlMgr::GetText(docs), u"");
    EXPECT_EQ(VDPidlMgr::GetState(e.At(4)), kStateShared);  // photos: share type "2"

    PcPidl file = e.At(5);
    EXPECT_EQ(VDPidlMgr::GetItemType(file), kKindContent);
    EXPECT_EQ(VDPidlMgr::GetName(file), u"a.txt");
    EXPECT_EQ(VDPidlMgr::GetIdString(file), platform::Utf8ToUtf16(kUser + "F1"));
    EXPECT_EQ(VDPidlMgr::GetSize(file), 1536u);
    EXPECT_EQ(VDPidlMgr::GetState(file), kStateSharedLink);
    EXPECT_EQ(VDPidlMgr::GetTime(file), ParseUpdateTime("20231231235959"));
    EXPECT_TRUE(ValidateList(file, static_cast<std::size_t>(VDPidlMgr::GetByteSize(file))).ok);
}

// The cloud edge only: a service that answers every listing from a table.
class ListingSdk : public vdcache::test::FailingSdk {
public:
    std::map<std::string, ListResult> listings;
    int SyncLs(const ListRequest& request, ListResult* result) override {
        const auto it = listings.find(request.catalogID);
        if (it == listings.end()) return kSdkFailed;
        *result = it->second;
        return 0;
    }
};

// The listing answers at once, on the caller's thread, like a fast service.
class ImmediateListingSdk : public ListingSdk {
public:
    int ls(const ListRequest& request, SdkCallback<ListResult> callback, void* user) override {
        ListResult result;
        const int code = SyncLs(request, &result);
        result.request = request;
        callback(code, &result, user);
        return 0;
    }
};

TEST(FolderRefresh, ARenameThatKeepsTheUpdateTimeReachesTheStore) {
    TempDir dir;
    ImmediateListingSdk sdk;
    CVDCache cache(&sdk);
    ASSERT_EQ(cache.Initialize(1, true, dir.File("cache.db"), "alice"), vdcache::kCacheOk);
    cache.UpdateCache(Listing(kDocsId, {MakeCatalog(kUser + "C1", "old", "20240101000000")},
                              {MakeContent(kUser + "F1", "a.txt")}));
    // The service renamed the catalog and left its update time alone.
    sdk.listings[kDocsId] = Listing(kDocsId, {MakeCatalog(kUser + "C1", "new", "20240101000000")},
                                    {MakeContent(kUser + "F1", "a.txt")});
    const VDPidlMgr mgr;
    UniquePidl docs = mgr.Own(CreateCatalogPidl(mgr, {platform::Utf8ToUtf16(kDocsId), u"docs", "20240101000000", {}, {}}));
    UniquePidl file = mgr.Own(CreateContentPidl(mgr, {platform::Utf8ToUtf16(kUser + "F1"), u"a.txt", "20240101000000", "1", {}}));
    UniquePidl docsFile = mgr.Own(mgr.Concatenate(docs.get(), file.get()));
    for (PcPidl asked : {docs.get(), docsFile.get()}) {  // the folder itself, or an item in it
        cache.UpdateCache(Listing(kDocsId, {MakeCatalog(kUser + "C1", "old", "20240101000000")},
                                  {MakeContent(kUser + "F1", "a.txt")}));
        RefreshFolderListing(FolderCaches{&cache, nullptr, "alice"}, asked, mgr);
        ASSERT_TRUE(cache.WaitIdle(10000));
        ListRequest request;
        request.catalogID = kDocsId;
        ListResult stored;
        cache.GetDiskFromCache(request, &stored);
        ASSERT_EQ(stored.catalogs.size(), 1u);
        EXPECT_EQ(stored.catalogs[0].catalogName, "new");
    }
}

TEST(PidlEnumCloud, InitOfTheRootListsNodesCatalogsAndContents) {
    TempDir dir;
    ListingSdk sdk;
    sdk.listings[kRoot] = RootListing();
    CVDCache cache(&sdk);
    ASSERT_EQ(cache.Initialize(0, true, dir.File("cache.db"), "alice"), vdcache::kCacheOk);
    PidlEnumEnv env;
    env.cache = &cache;
    env.account = "alice";
    env.userId = kUser;
    env.toWide = platform::Utf8ToUtf16;
    CIVDPidlEnumEx e(env);
    ASSERT_TRUE(e.Init(nullptr, 0x60, true, 0));
    EXPECT_EQ(Describe(e),
              (std::vector<std::string>{"N10", "N9", "N5", "C:docs", "C:photos", "F:a.txt", "F:b.jpg"}));
    EXPECT_TRUE(cache.IsListed(kRoot));  // the answer went into the store

    sdk.listings.clear();  // the service now fails
    CIVDPidlEnumEx failed(env);
    EXPECT_FALSE(failed.Init(nullptr, 0x60, false, 0));
    EXPECT_EQ(failed.Count(), 0u);
}

// The sharers' names load on an SDK thread held at a gate, so a test can
// enumerate the received shares while the load is in flight.
class SharerSdk : public vdcache::test::FailingSdk {
public:
    ~SharerSdk() override { Release(); }
    int itemGetList(const ItemGetListRequest&, ItemGetListResult*, SdkCallback<ItemGetListResult> callback,
                    void* user) override {
        if (refuse) return kSdkNetworkUnavailable;
        ++started;
        std::lock_guard<std::mutex> lock(m_lock);
        m_threads.emplace_back([this, callback, user] {
            {
                std::unique_lock<std::mutex> gate(m_gateLock);
                m_gateOpen.wait(gate, [this] { return m_open; });
            }
            ItemGetListResult result;
            callback(answer, &result, user);
        });
        return 0;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> gate(m_gateLock);
            m_open = true;
        }
        m_gateOpen.notify_all();
        std::lock_guard<std::mutex> lock(m_lock);
        for (std::thread& t : m_threads) t.join();
        m_threads.clear();
    }
    void Hold() {
        std::lock_guard<std::mutex> gate(m_gateLock);
        m_open = false;
    }

    bool refuse = false;
    int answer = 0;
    std::atomic<int> started{0};

private:
    std::mutex m_lock, m_gateLock;
    std::condition_variable m_gateOpen;
    bool m_open = false;
    std::vector<std::thread> m_threads;
};

TEST(PidlEnumShares, SharerFailureShownOnlyWhenNoLoadCouldStart) {
    struct Case {
        const char* name;
        int before;       // 0 nothing, 1 a load that ended well, 2 a load that failed, 3 a load still running
        bool refuse;      // the next load cannot start
        int failures;     // string 252 shown this many times
        int loadsStarted; // by the enumeration
    };
    const Case cases[] = {
        {"first look, load starts", 0, false, 0, 1},
        {"first look, load cannot start", 0, true, 1, 0},
        {"names already loaded", 1, true, 0, 0},
        {"load in flight from an earlier look", 3, true, 0, 0},
        {"earlier load failed, a new one starts", 2, false, 0, 1},
        {"earlier load failed, none can start", 2, true, 1, 0},
    };
    const VDPidlMgr mgr;
    UniquePidl node = mgr.Own(mgr.CreateNode(kNodeReceivedShares, u"shares"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SharerSdk sdk;
        CVDCache cache(&sdk);
        vdcache::CVDShareFileCache shares(&sdk);
        ASSERT_EQ(cache.Initialize(1, false, "", "alice"), vdcache::kCacheOk);
        ASSERT_EQ(shares.Initialize(1, false, "", "alice"), vdcache::kCacheOk);
        if (c.before != 0) {
            sdk.answer = c.before == 2 ? kSdkFailed : 0;
            ASSERT_TRUE(cache.InitShareUser());
            if (c.before != 3) {
                sdk.Release();
                ASSERT_TRUE(cache.WaitIdle(10000));
                sdk.Hold();
            }
        }
        const int startedBefore = sdk.started.load();
        sdk.refuse = c.refuse;
        sdk.answer = 0;
        std::vector<int> failures;
        PidlEnumEnv env;
        env.cache = &cache;
        env.shareCache = &shares;
        env.account = "alice";
        env.reportShareFailure = [&failures](int id) { failures.push_back(id); };
        CIVDPidlEnumEx e(env, mgr);
        e.Init(node.get(), 0x60, true, 1);
        EXPECT_EQ(failures, std::vector<int>(static_cast<std::size_t>(c.failures), 252));
        EXPECT_EQ(sdk.started.load() - startedBefore, c.loadsStarted);
        sdk.Release();
        EXPECT_TRUE(cache.WaitIdle(10000));
    }
}

// Counts the identifiers made, so a test sees when they are made.
class CountingAllocator final : public PidlAllocator {
public:
    void* Alloc(std::size_t bytes) noexcept override {
        ++made;
        return MallocPidlAllocator().Alloc(bytes);
    }
    void Free(void* p) noexcept override { MallocPidlAllocator().Free(p); }
    std::size_t made = 0;
};

TEST(PidlEnumLazy, IdentifiersAreMadeAsNextAsksForThem) {
    TempDir dir;
    CVDCache cache;
    ASSERT_EQ(cache.Initialize(1, true, dir.File("cache.db"), "alice"), vdcache::kCacheOk);
    std::vector<CatalogInfo> catalogs;
    std::vector<ContentInfo> contents;
    for (int i = 0; i < 300; ++i) catalogs.push_back(MakeCatalog(kUser + "C" + std::to_string(i), "c" + std::to_string(i)));
    for (int i = 0; i < 10000; ++i) contents.push_back(MakeContent(kUser + "F" + std::to_string(i), "f" + std::to_string(i)));
    cache.UpdateCache(Listing(kDocsId, catalogs, contents));
    CountingAllocator counting;
    const VDPidlMgr mgr(counting);
    UniquePidl docs = mgr.Own(CreateCatalogPidl(mgr, {platform::Utf8ToUtf16(kDocsId), u"docs", "20240101000000", {}, {}}));
    PidlEnumEnv env;
    env.cache = &cache;
    env.userId = kUser;
    env.toWide = platform::Utf8ToUtf16;
    CIVDPidlEnumEx e(env, mgr);
    counting.made = 0;
    ASSERT_TRUE(e.Init(docs.get(), 0x60, true, 0));
    EXPECT_EQ(counting.made, 0u) << "nothing is made before it is asked for";
    PidlPtr first = nullptr;
    std::uint32_t fetched = 0;
    ASSERT_EQ(e.Next(1, &first, &fetched), kEnumOk);
    UniquePidl firstOwned = mgr.Own(first);
    EXPECT_EQ(VDPidlMgr::GetName(first), u"c0");
    EXPECT_LE(counting.made, 1025u) << "the first item costs a page, not the folder";
    // Skipping past the catalogs reaches the contents in order.
    ASSERT_EQ(e.Skip(299), kEnumOk);
    PidlPtr file = nullptr;
    ASSERT_EQ(e.Next(1, &file, &fetched), kEnumOk);
    UniquePidl fileOwned = mgr.Own(file);
    EXPECT_EQ(VDPidlMgr::GetName(file), u"f0");
    EXPECT_EQ(e.Count(), 10300u);
    PidlPtr rest[8] = {};
    EXPECT_EQ(e.Skip(10300 - 302), kEnumOk);
    ASSERT_EQ(e.Next(8, rest, &fetched), kEnumFalse);
    EXPECT_EQ(fetched, 1u);
    UniquePidl lastOwned = mgr.Own(rest[0]);
    EXPECT_EQ(VDPidlMgr::GetName(rest[0]), u"f9999");
}


TEST(PidlEnumSharePaths, StoresReplacesAndServesConcurrentThreads) {
    EXPECT_EQ(CIVDPidlEnumEx::GetAllPaths("absent"), "");
    CIVDPidlEnumEx::AddAllPaths("S1", "00019700101000000001/S1");
    EXPECT_EQ(CIVDPidlEnumEx::GetAllPaths("S1"), "00019700101000000001/S1");
    CIVDPidlEnumEx::AddAllPaths("S1", "00019700101000000001/S0/S1");
    EXPECT_EQ(CIVDPidlEnumEx::GetAllPaths("S1"), "00019700101000000001/S0/S1");

    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string id = "T" + std::to_string(t) + "_" + std::to_string(i);
                CIVDPidlEnumEx::AddAllPaths(id, "p/" + id);
                if (CIVDPidlEnumEx::GetAllPaths(id) != "p/" + id) ADD_FAILURE() << id;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kEach; i += 97) {
            const std::string id = "T" + std::to_string(t) + "_" + std::to_string(i);
            EXPECT_EQ(CIVDPidlEnumEx::GetAllPaths(id), "p/" + id);
        }
}

}  // namespace
}  // namespace vd
