// The received shares and the folders inside them, enumerated from the share
// cache that the real SDK fills from the reference service: bob receives
// alice's "我的文档" tree.
#include <gtest/gtest.h>

#include <memory>

#include "cloud_sdk_impl.h"
#include "pidl_enum.h"
#include "platform/text.h"
#include "share_file_cache.h"
#include "tests/sdk_test_support.h"
#include "vd_cache.h"

namespace vd {
namespace {

std::string Describe(PcPidl item) {
    const std::string name = platform::Utf16ToUtf8(VDPidlMgr::GetName(item));
    switch (VDPidlMgr::GetItemType(item)) {
        case kKindNode: return "N" + std::to_string(VDPidlMgr::GetNodeIndex(item));
        case kKindCatalog: return "C:" + name;
        case kKindContent: return "F:" + name;
        default: return "?";
    }
}

class ShareEnum : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<corbel::test::ServerProcess>(m_dir.path() / "data");
        ASSERT_TRUE(m_server->Start());
        ASSERT_TRUE(corbel::test::SignIn(m_server->port(), "bob", "bob-pass", &m_bob));
        corbel::test::WriteSdkConfig(m_dir.path(), m_server->port());
        ASSERT_TRUE(m_sdk.init(m_dir.File("log"), 0, m_dir.path().string(), 1));
        ASSERT_EQ(m_sdk.SetTokenInfo("bob", m_bob.token, m_bob.opToken), kSdkOk);
        ASSERT_EQ(m_cache.Initialize(1, true, m_dir.File("cache.db"), "bob"), vdcache::kCacheOk);
        ASSERT_EQ(m_shares.Initialize(1, true, m_dir.File("cache.db"), "bob"), vdcache::kCacheOk);
        m_shares.SetPagePauseMs(0);
    }
    void TearDown() override {
        m_cache.WaitIdle(30000);
        m_shares.WaitIdle(30000);
    }

    PidlEnumEnv Env() {
        PidlEnumEnv env;
        env.cache = &m_cache;
        env.shareCache = &m_shares;
        env.account = "bob";
        env.userId = m_bob.userID;
        env.toWide = platform::Utf8ToUtf16;
        env.reportShareFailure = [this](int id) { m_failures.push_back(id); };
        return env;
    }

    // Enumerates twice: the first read starts the listing, the second sees it.
    std::unique_ptr<CIVDPidlEnumEx> Enumerate(PcPidl folder, int mode, std::uint32_t flags = 0x60) {
        {
            CIVDPidlEnumEx first(Env(), m_mgr);
            EXPECT_TRUE(first.Init(folder, flags, false, mode));
        }
        EXPECT_TRUE(m_shares.WaitIdle(30000));
        auto e = std::make_unique<CIVDPidlEnumEx>(Env(), m_mgr);
        EXPECT_TRUE(e->Init(folder, flags, true, mode));
        return e;
    }
    static std::vector<std::string> Names(const CIVDPidlEnumEx& e) {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < e.Count(); ++i) out.push_back(Describe(e.At(i)));
        return out;
    }
    UniquePidl Join(PcPidl a, PcPidl b) { return m_mgr.Own(m_mgr.Concatenate(a, b)); }
    UniquePidl Copy(PcPidl a) { return m_mgr.Own(m_mgr.Copy(a)); }

    corbel::test::TempDir m_dir;
    std::unique_ptr<corbel::test::ServerProcess> m_server;
    corbel::test::Account m_bob;
    corbel::CloudSdk m_sdk;
    vdcache::CVDCache m_cache{&m_sdk};
    vdcache::CVDShareFileCache m_shares{&m_sdk};
    VDPidlMgr m_mgr;
    std::vector<int> m_failures;
};

TEST_F(ShareEnum, ReceivedSharesThenTheFoldersInsideThemWithPathsAndSharer) {
    UniquePidl sharesNode = m_mgr.Own(m_mgr.CreateNode(kNodeReceivedShares, u"收到的分享"));
    auto shares = Enumerate(sharesNode.get(), 1);
    ASSERT_EQ(Names(*shares), (std::vector<std::string>{"C:我的文档"}));
    PcPidl docs = shares->At(0);
    EXPECT_EQ(VDPidlMgr::GetText(docs), u"爱丽丝") << "the sharer's name rides along";
    const std::string docsId = platform::Utf16ToUtf8(VDPidlMgr::GetIdString(docs));
    EXPECT_EQ(CIVDPidlEnumEx::GetAllPaths(docsId), "00019700101000000001/" + docsId);

    UniquePidl docsFolder = Join(sharesNode.get(), docs);
    auto inside = Enumerate(docsFolder.get(), 2);
    ASSERT_EQ(Names(*inside), (std::vector<std::string>{"C:工作", "F:说明.txt"}));
    EXPECT_EQ(VDPidlMgr::GetFlag(inside->At(0)), VDPidlMgr::GetFlag(docs)) << "the share root's flag passes down";
    EXPECT_EQ(VDPidlMgr::GetState(inside->At(0)), kStatePlain);
    const std::string workId = platform::Utf16ToUtf8(VDPidlMgr::GetIdString(inside->At(0)));
    const std::string workPath = CIVDPidlEnumEx::GetAllPaths(workId);
    EXPECT_TRUE(workPath.ends_with("00019700101000000001/" + docsId + "/" + workId)) << workPath;

    UniquePidl workFolder = Join(docsFolder.get(), inside->At(0));
    auto deeper = Enumerate(workFolder.get(), 2);
    EXPECT_EQ(Names(*deeper), (std::vector<std::string>{"C:报告", "F:计划.txt"}));

    // Folders only, and one page of the cached catalog.
    auto folders = Enumerate(docsFolder.get(), 2, 0x20);
    EXPECT_EQ(Names(*folders), (std::vector<std::string>{"C:工作"}));
    CIVDPidlEnumEx page(Env(), m_mgr);
    bool atEnd = false, second = true;
    ASSERT_TRUE(page.InitEx(docsFolder.get(), 0x60, true, &atEnd, &second, 1, 2, 2));
    EXPECT_EQ(Names(page), (std::vector<std::string>{"F:说明.txt"}));
    EXPECT_FALSE(atEnd);
    EXPECT_FALSE(second);
    EXPECT_TRUE(m_failures.empty());
}

}  // namespace
}  // namespace vd
