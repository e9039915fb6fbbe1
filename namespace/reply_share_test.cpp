// Accepting received shares: which entries go into the request, and the
// answer of the reference service through the real SDK.
#include "reply_share.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "cloud_sdk_impl.h"
#include "platform/text.h"
#include "tests/sdk_test_support.h"

namespace vd {
namespace {

UniquePidl Entry(std::uint32_t kind, const std::u16string& id, std::uint32_t state) {
    const VDPidlMgr mgr;
    return mgr.Own(kind == kKindNode ? mgr.CreateNode(kNodeReceivedShares, u"收到的分享", state)
                                     : mgr.Create(kind, u"x", id, state, 0, 0, std::nullopt, 0));
}

TEST(ReplyShare, OnlyWaitingCatalogsAndContentsAreAnswered) {
    const UniquePidl waitingCatalog = Entry(kKindCatalog, u"C1", kStateShareWaiting);
    const UniquePidl waitingContent = Entry(kKindContent, u"F1", kStateShareWaiting);
    const UniquePidl accepted = Entry(kKindCatalog, u"C2", kStatePlain);
    const UniquePidl sharedByMe = Entry(kKindContent, u"F2", kStateShared);
    const UniquePidl node = Entry(kKindNode, u"", kStateShareWaiting);
    const VDPidlMgr mgr;
    const UniquePidl nested = mgr.Own(mgr.Concatenate(node.get(), waitingCatalog.get()));
    const PcPidl lists[] = {waitingCatalog.get(), waitingContent.get(), accepted.get(), sharedByMe.get(), node.get(),
                            nested.get(), nullptr};
    const ReplyShareRequest r = Util::BuildReplyShareRequest(lists, "bob");
    EXPECT_EQ(r.account, "bob");
    EXPECT_EQ(r.replyType, "1");
    EXPECT_EQ(r.catalogIDs, (std::vector<std::string>{"C1", "C1"})) << "the last element of each list counts";
    EXPECT_EQ(r.contentIDs, std::vector<std::string>{"F1"});

    const PcPidl none[] = {accepted.get(), node.get()};
    EXPECT_EQ(Util::ReplyShare(nullptr, none, "bob"), kSdkOk) << "nothing waits: no call at all";
}

TEST(ReplyShare, TheServiceAcceptsAndTheViewsHearOfEachCatalog) {
    corbel::test::TempDir dir;
    corbel::test::ServerProcess server(dir.path() / "data");
    ASSERT_TRUE(server.Start());
    corbel::test::Account bob;
    ASSERT_TRUE(corbel::test::SignIn(server.port(), "bob", "bob-pass", &bob));
    corbel::test::WriteSdkConfig(dir.path(), server.port());
    corbel::CloudSdk sdk;
    ASSERT_TRUE(sdk.init(dir.File("log"), 0, dir.path().string(), 1));
    ASSERT_EQ(sdk.SetTokenInfo("bob", bob.token, bob.opToken), kSdkOk);
    ShareListRequest request;
    request.account = "bob";
    ShareListResult received;
    ASSERT_EQ(sdk.GetShareList(request, &received, nullptr, nullptr), kSdkOk);
    ASSERT_EQ(received.shares.size(), 1u);
    const std::string docs = received.shares[0].catalog.catalogID;

    std::mutex lock;
    std::condition_variable done;
    std::vector<std::string> heard;
    auto hear = [&](const std::string& id) {
        std::lock_guard<std::mutex> guard(lock);
        heard.push_back(id);
        done.notify_all();
    };
    const UniquePidl waiting = Entry(kKindCatalog, platform::Utf8ToUtf16(docs), kStateShareWaiting);
    const PcPidl lists[] = {waiting.get()};
    ASSERT_EQ(Util::ReplyShareAndRefresh(&sdk, lists, "bob", hear), kSdkOk);
    {
        std::unique_lock<std::mutex> guard(lock);
        ASSERT_TRUE(done.wait_for(guard, std::chrono::seconds(30), [&] { return !heard.empty(); }));
        EXPECT_EQ(heard, std::vector<std::string>{docs});
    }
    EXPECT_EQ(Util::ReplyShare(&sdk, lists, "bob"), kSdkOk) << "accepting again is harmless";

    // Nothing shared under that ID: the service refuses.
    const UniquePidl stranger = Entry(kKindCatalog, u"100000000001" u"00019700101000000999", kStateShareWaiting);
    const PcPidl strangers[] = {stranger.get()};
    EXPECT_NE(Util::ReplyShare(&sdk, strangers, "bob"), kSdkOk);
}

}  // namespace
}  // namespace vd
