// The SDK's calls against the real service program on a loopback port.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <thread>

#include "cloud_sdk_impl.h"
#include "tests/sdk_test_support.h"

namespace corbel {
namespace {

using test::Account;
using test::CallbackBox;

constexpr int kBenchEntries = 450;

class SdkCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    server_ = std::make_unique<test::ServerProcess>(dir_.path() / "data",
                                                    "--bench-entries " + std::to_string(kBenchEntries));
    ASSERT_TRUE(server_->Start());
    ASSERT_TRUE(test::SignIn(server_->port(), "alice", "alice-pass", &alice_));
    ASSERT_TRUE(test::SignIn(server_->port(), "bob", "bob-pass", &bob_));
    test::WriteSdkConfig(dir_.path(), server_->port());
    ASSERT_TRUE(sdk_.init(dir_.File("log"), 0, dir_.path().string(), 1));
    ASSERT_EQ(sdk_.SetTokenInfo(alice_.account, alice_.token, alice_.opToken), kSdkOk);
    ASSERT_EQ(sdk_.SetTokenInfo(bob_.account, bob_.token, bob_.opToken), kSdkOk);
  }

  ListResult List(const Account& who, const std::string& catalog, const std::string& start = "1",
                  const std::string& end = "200", int* code = nullptr) {
    ListRequest request;
    request.account = who.account;
    request.catalogID = catalog;
    request.startNumber = start;
    request.endNumber = end;
    ListResult result;
    int c = sdk_.SyncLs(request, &result);
    if (code) {
      *code = c;
    } else {
      EXPECT_EQ(c, kSdkOk) << catalog;
    }
    return result;
  }
  std::string CatalogNamed(const ListResult& list, const std::string& name) {
    for (const auto& c : list.catalogs)
      if (c.catalogName == name) return c.catalogID;
    return {};
  }
  std::string ContentNamed(const ListResult& list, const std::string& name) {
    for (const auto& c : list.contents)
      if (c.contentName == name) return c.contentID;
    return {};
  }

  test::TempDir dir_;
  std::unique_ptr<test::ServerProcess> server_;
  Account alice_, bob_;
  CloudSdk sdk_;
};

TEST_F(SdkCalls, SignInFamily) {
  std::string host = "x", port = "y";
  EXPECT_EQ(sdk_.GetIEProxy(&host, &port), kSdkOk);
  EXPECT_EQ(host, "");  // no proxy configured: empty texts
  EXPECT_EQ(port, "");
  setenv("http_proxy", "http://user@proxy.example:3128/", 1);
  EXPECT_EQ(sdk_.GetIEProxy(&host, &port), kSdkOk);
  EXPECT_EQ(host, "proxy.example");
  EXPECT_EQ(port, "3128");
  unsetenv("http_proxy");

  std::string domainToken;
  ASSERT_EQ(sdk_.getTokenByDomain("AAS", &domainToken), kSdkOk);  // the account signed in last
  EXPECT_FALSE(domainToken.empty());

  // A replaced token is used from then on; a bad one reads as 102.
  ASSERT_EQ(sdk_.SetTokenInfo("alice", "not-a-token", ""), kSdkOk);
  CallbackBox<ListResult> box;
  ListRequest request;
  request.account = "alice";
  request.catalogID = alice_.root;
  ASSERT_EQ(sdk_.ls(request, &CallbackBox<ListResult>::Invoke, &box), kSdkOk);
  ASSERT_TRUE(box.Wait());
  EXPECT_EQ(box.code, kSdkTokenInvalid);
  TokenInfoEx refreshed;
  refreshed.parts = {"alice", alice_.token, alice_.opToken};
  ASSERT_EQ(sdk_.SetTokenInfoEx(refreshed), kSdkOk);
  List(alice_, alice_.root);

  // An account that never signed in has no token at all.
  Account carol;
  carol.account = "carol";
  int code = 0;
  List(carol, alice_.root, "1", "200", &code);
  EXPECT_EQ(code, kSdkTokenInvalid);
}

TEST_F(SdkCalls, ListingPagesAndTotals) {
  ListResult root = List(alice_, alice_.root);
  EXPECT_EQ(root.totalCount, std::to_string(root.catalogs.size() + root.contents.size()));
  EXPECT_FALSE(CatalogNamed(root, "我的文档").empty());  // UTF-8 on the wire, ANSI (UTF-8 here) in the record
  const std::string bench = CatalogNamed(root, "bench_" + std::to_string(kBenchEntries));
  ASSERT_FALSE(bench.empty());

  struct Page {
    const char* start;
    const char* end;
    std::size_t rows;
  } pages[] = {{"1", "200", 200}, {"201", "400", 200}, {"401", "600", 50}, {"601", "800", 0}, {"1", "1000", 200},
               {"450", "450", 1}};
  std::set<std::string> seen;
  for (const auto& p : pages) {
    ListResult page = List(alice_, bench, p.start, p.end);
    EXPECT_EQ(page.catalogs.size() + page.contents.size(), p.rows) << p.start << "-" << p.end;
    EXPECT_EQ(page.totalCount, std::to_string(kBenchEntries));
    EXPECT_EQ(page.request.startNumber, p.start);
    if (std::string(p.end) == "1000" || std::string(p.start) == "450") continue;  // overlapping windows
    for (const auto& c : page.contents) EXPECT_TRUE(seen.insert(c.contentID).second) << "row twice " << c.contentID;
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kBenchEntries));  // no row lost between pages

  LsAllRequest all;
  all.account = "alice";
  all.catalogID = bench;
  ListResult whole;
  ASSERT_EQ(sdk_.SyncLsAll(all, &whole), kSdkOk);
  EXPECT_EQ(whole.contents.size(), static_cast<std::size_t>(kBenchEntries));

  int code = 0;
  List(alice_, bench, "0", "10", &code);
  EXPECT_EQ(code, 200000400);  // the service's bounds check
  List(alice_, bench, "5", "1", &code);
  EXPECT_EQ(code, 200000400);
  List(alice_, bench, "x", "1", &code);
  EXPECT_EQ(code, kSdkFailed);  // refused before it is sent
  List(alice_, alice_.userID + "00020990101000000001", "1", "200", &code);
  EXPECT_EQ(code, 204009406);
}

TEST_F(SdkCalls, AsyncCallsCallBackOnceOnSdkThreads) {
  CallbackBox<ListResult> list;
  CallbackBox<DiskInfoResult> disk;
  CallbackBox<ItemGetListResult> items;
  CallbackBox<ListResult> afterThrow;
  std::size_t threads = 0;
  {
    // An SDK of its own: its destruction joins its threads, so whatever it
    // would still call back has happened when the counts are read.
    CloudSdk sdk;
    ASSERT_TRUE(sdk.init(dir_.File("log"), 0, dir_.path().string(), 1));
    ASSERT_EQ(sdk.SetTokenInfo(alice_.account, alice_.token, alice_.opToken), kSdkOk);
    ASSERT_EQ(sdk.SetTokenInfo(bob_.account, bob_.token, bob_.opToken), kSdkOk);
    ListRequest request;
    request.account = "alice";
    request.catalogID = alice_.root;
    request.path = "bookkeeping";
    // A caller whose callback throws: it stays on the SDK's thread.
    ASSERT_EQ(sdk.ls(request, [](int, ListResult*, void*) { throw std::runtime_error("caller bug"); }, nullptr),
              kSdkOk);
    ASSERT_EQ(sdk.ls(request, &CallbackBox<ListResult>::Invoke, &list), kSdkOk);
    ASSERT_EQ(sdk.getDiskInfo(DiskInfoRequest{"alice"}, &CallbackBox<DiskInfoResult>::Invoke, &disk), kSdkOk);
    ItemGetListRequest itemRequest;
    itemRequest.account = "bob";
    ASSERT_EQ(sdk.itemGetList(itemRequest, nullptr, &CallbackBox<ItemGetListResult>::Invoke, &items), kSdkOk);
    ASSERT_TRUE(list.Wait() && disk.Wait() && items.Wait());
    ASSERT_EQ(sdk.ls(request, &CallbackBox<ListResult>::Invoke, &afterThrow), kSdkOk);
    ASSERT_TRUE(afterThrow.Wait());
    threads = sdk.ThreadCount();
  }
  EXPECT_EQ(afterThrow.calls, 1);
  EXPECT_EQ(list.calls, 1);
  EXPECT_EQ(list.code, kSdkOk);
  EXPECT_NE(list.thread, std::this_thread::get_id());
  EXPECT_EQ(list.result.request.path, "bookkeeping");  // the request comes back untouched
  EXPECT_FALSE(list.result.totalCount.empty());

  EXPECT_EQ(disk.code, kSdkOk);
  auto total = std::stoull(disk.result.totalSize), free = std::stoull(disk.result.freeSize);
  EXPECT_GT(total, 0u);
  EXPECT_LE(free, total);

  EXPECT_EQ(items.code, kSdkOk);
  bool aliceShares = false;
  for (const auto& item : items.result.items)
    for (const auto& a : item.accountList) aliceShares |= a == "alice";
  EXPECT_TRUE(aliceShares);
  EXPECT_GT(threads, 0u);
}

TEST_F(SdkCalls, AccountsAreIsolated) {
  MkdirRequest mk;
  mk.account = "alice";
  mk.parentCatalogID = alice_.root;
  mk.catalogName = "只给爱丽丝";
  MkdirResult made;
  ASSERT_EQ(sdk_.SyncMkdir(mk, &made), kSdkOk);
  int code = 0;
  List(bob_, made.catalogID, "1", "200", &code);
  EXPECT_EQ(code, 204009406);  // bob's token does not reach alice's catalog
  ListResult bobRoot = List(bob_, bob_.root);
  EXPECT_TRUE(CatalogNamed(bobRoot, "只给爱丽丝").empty());
  ListResult aliceRoot = List(alice_, alice_.root);
  EXPECT_FALSE(CatalogNamed(aliceRoot, "只给爱丽丝").empty());
  // Same request text, different account: different answers.
  EXPECT_NE(bobRoot.totalCount + "/" + std::to_string(bobRoot.catalogs.size()),
            aliceRoot.totalCount + "/" + std::to_string(aliceRoot.catalogs.size()));
}

TEST_F(SdkCalls, ItemOperations) {
  MkdirRequest mk;
  mk.account = "alice";
  mk.parentCatalogID = alice_.root;
  mk.catalogName = "新建文件夹";
  MkdirResult a, b;
  ASSERT_EQ(sdk_.SyncMkdir(mk, &a), kSdkOk);
  EXPECT_EQ(a.catalogID.size(), 32u);
  EXPECT_EQ(a.createtime.size(), 14u);
  EXPECT_EQ(sdk_.SyncMkdir(mk, &b), 204009405);  // name exists
  mk.catalogName = "目标";
  ASSERT_EQ(sdk_.SyncMkdir(mk, &b), kSdkOk);

  // Rename, asynchronously, then synchronously back and forth.
  UpdateCatalogRequest rename;
  rename.account = "alice";
  rename.catalogID = a.catalogID;
  rename.catalogName = "改名后";
  CallbackBox<OprResult> renamed;
  ASSERT_EQ(sdk_.updateCatalogInfo(rename, nullptr, &CallbackBox<OprResult>::Invoke, &renamed), kSdkOk);
  ASSERT_TRUE(renamed.Wait());
  EXPECT_EQ(renamed.code, kSdkOk);
  rename.catalogName = "bad/name";
  OprResult failure;
  EXPECT_EQ(sdk_.updateCatalogInfo(rename, &failure, nullptr, nullptr), 204009156);
  ListResult root = List(alice_, alice_.root);
  EXPECT_EQ(CatalogNamed(root, "改名后"), a.catalogID);

  // A content to work with: the seeded tree has files in 我的文档.
  const std::string docs = CatalogNamed(root, "我的文档");
  ListResult docList = List(alice_, docs);
  ASSERT_FALSE(docList.contents.empty());
  const ContentInfo file = docList.contents[0];

  CopyMoveRequest copy;
  copy.account = "alice";
  copy.contentIDs = {file.contentID};
  copy.targetCatalogID = a.catalogID;
  ASSERT_EQ(sdk_.SyncCopy(copy, nullptr), kSdkOk);
  copy.targetCatalogID = docs;
  EXPECT_EQ(sdk_.SyncCopy(copy, nullptr), 204009477);  // into its own catalog
  ListResult inA = List(alice_, a.catalogID);
  ASSERT_EQ(inA.contents.size(), 1u);
  EXPECT_EQ(inA.contents[0].contentName, file.contentName);
  EXPECT_EQ(inA.contents[0].digest, file.digest);

  UpdateFileRequest renameFile;
  renameFile.account = "alice";
  renameFile.contentID = inA.contents[0].contentID;
  renameFile.contentName = "副本.txt";
  ASSERT_EQ(sdk_.updateFile(renameFile, nullptr, nullptr, nullptr), kSdkOk);

  CopyMoveRequest move;
  move.account = "alice";
  move.catalogIDs = {a.catalogID};
  move.targetCatalogID = b.catalogID;
  ASSERT_EQ(sdk_.SyncMove(move, nullptr), kSdkOk);
  move.catalogIDs = {b.catalogID};
  EXPECT_EQ(sdk_.SyncMove(move, nullptr), 204009496);  // into itself
  ListResult inB = List(alice_, b.catalogID);
  EXPECT_EQ(CatalogNamed(inB, "改名后"), a.catalogID);
  EXPECT_EQ(ContentNamed(List(alice_, a.catalogID), "副本.txt"), renameFile.contentID);

  MgtVirDirRequest del;
  del.account = "alice";
  del.catalogIDs = {b.catalogID};
  ASSERT_EQ(sdk_.SyncMgtVirDirInfo(del, nullptr), kSdkOk);
  EXPECT_TRUE(CatalogNamed(List(alice_, alice_.root), "目标").empty());
  del.catalogIDs = {alice_.root};
  EXPECT_NE(sdk_.SyncMgtVirDirInfo(del, nullptr), kSdkOk);  // the root stays
}

TEST_F(SdkCalls, Shares) {
  ShareListRequest received;
  received.account = "bob";
  ShareListResult list;
  ASSERT_EQ(sdk_.GetShareList(received, &list, nullptr, nullptr), kSdkOk);
  ASSERT_EQ(list.totalCount, "1");
  ASSERT_EQ(list.shares.size(), 1u);
  const ShareEntry share = list.shares[0];
  EXPECT_TRUE(share.HasCatalog());
  EXPECT_EQ(share.catalog.catalogName, "我的文档");
  EXPECT_EQ(share.header.shareKind, "5");
  EXPECT_EQ(share.header.sharers.at(0).account, "alice");
  EXPECT_EQ(share.header.SharerID, alice_.userID);
  // The sharee reads the shared catalog with its own token.
  EXPECT_FALSE(List(bob_, share.catalog.catalogID).contents.empty());

  ReplyShareRequest reply;
  reply.account = "bob";
  reply.catalogIDs = {share.catalog.catalogID};
  CallbackBox<OprResult> replied;
  ASSERT_EQ(sdk_.ReplyShare(reply, nullptr, &CallbackBox<OprResult>::Invoke, &replied), kSdkOk);
  ASSERT_TRUE(replied.Wait());
  EXPECT_EQ(replied.code, kSdkOk);

  ShareListRequest given = received;
  given.account = "alice";
  given.shareKind = "2";
  ShareListResult givenList;
  ASSERT_EQ(sdk_.GetShareList(given, &givenList, nullptr, nullptr), kSdkOk);
  EXPECT_EQ(givenList.totalCount, "1");

  CancelShareRequest cancel;
  cancel.account = "bob";  // not the owner
  cancel.itemID = share.catalog.catalogID;
  cancel.itemType = "2";
  EXPECT_NE(sdk_.CancelShare(cancel, nullptr, nullptr, nullptr), kSdkOk);
  cancel.account = "alice";
  ASSERT_EQ(sdk_.CancelShare(cancel, nullptr, nullptr, nullptr), kSdkOk);
  ASSERT_EQ(sdk_.GetShareList(received, &list, nullptr, nullptr), kSdkOk);
  EXPECT_EQ(list.totalCount, "0");
  EXPECT_TRUE(list.shares.empty());
  int code = 0;
  List(bob_, share.catalog.catalogID, "1", "200", &code);
  EXPECT_EQ(code, 204009406);

  LeaveShareRequest leave;
  leave.account = "bob";
  leave.catalogPaths = {alice_.root + "/" + share.catalog.catalogID};
  EXPECT_EQ(sdk_.LeaveShare(leave, nullptr, nullptr, nullptr), 204029406);  // nothing left to leave
}

TEST_F(SdkCalls, RecordsAreAccepted) {
  NewEventRequest event;
  event.account = "alice";
  event.eventType = "1";
  event.path = alice_.root;
  event.items = "<obj>报告.doc|1|id||0|20240101</obj>";
  event.itemCount = "1";
  event.extInfo = R"({"ppath":"/","pname":"根"})";
  EXPECT_EQ(sdk_.NewEvent(event, nullptr, nullptr, nullptr), kSdkOk);
  OprLogRecord record;
  record.Set(OprLogRecord::kCode, "30300069");
  record.Set(OprLogRecord::kAccount, "alice");
  record.Set(OprLogRecord::kProduct, "ORLO");
  EXPECT_EQ(sdk_.RecordOprLogExAndXML(record, 1), kSdkOk);
}

TEST_F(SdkCalls, UnreachableServiceAndProxyEndInBoundedTime) {
  // A proxy that does not answer: the setting is used, so calls fail.
  test::ServerProcess spare(dir_.path() / "spare");
  ASSERT_TRUE(spare.Start());
  const int deadPort = spare.port();
  spare.Kill();
  ASSERT_EQ(sdk_.InitHttpX("127.0.0.1", std::to_string(deadPort), "u", "p"), kSdkOk);
  int code = 0;
  auto started = std::chrono::steady_clock::now();
  List(alice_, alice_.root, "1", "200", &code);
  EXPECT_EQ(code, kSdkNetworkUnavailable);
  ASSERT_EQ(sdk_.InitHttpX("", "", "", ""), kSdkOk);
  List(alice_, alice_.root);
  EXPECT_EQ(sdk_.InitHttpX("127.0.0.1", "80x", "", ""), kSdkFailed);

  // The service gone: reads are retried a bounded number of times, then fail.
  server_->Kill();
  CallbackBox<ListResult> box;
  ListRequest request;
  request.account = "alice";
  request.catalogID = alice_.root;
  ASSERT_EQ(sdk_.ls(request, &CallbackBox<ListResult>::Invoke, &box), kSdkOk);
  ASSERT_TRUE(box.Wait(30000));
  EXPECT_EQ(box.code, kSdkNetworkUnavailable);
  MkdirRequest mk;
  mk.account = "alice";
  mk.parentCatalogID = alice_.root;
  mk.catalogName = "x";
  EXPECT_EQ(sdk_.SyncMkdir(mk, nullptr), kSdkNetworkUnavailable);
  // A hang here would be a retry that never ends; the bound is generous.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

TEST(SdkSingleton, OneInstancePerProcess) {
  ICloudSdk* first = GetCloudSdk();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, GetCloudSdk());
}

}  // namespace
}  // namespace corbel
