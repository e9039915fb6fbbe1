#include "cloud_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <set>

#include "temp_dir.h"
#include "util.h"

namespace cloudserver {
namespace {

using vd::testing::TempDir;


class StoreTest : public ::testing::Test {
 protected:
  StoreTest() { Open(); }

  void Open() {
    store_.reset();
    CloudStore::Options o;
    o.dataDir = dir_.path();
    o.tokenTtlSeconds = 600;
    o.defaultQuota = 1 << 20;
    o.clock = [this] { return now_.load(); };
    store_ = std::make_unique<CloudStore>(o);
  }

  // Creates an account and answers {token, root}.
  std::pair<std::string, std::string> Account(const std::string& name) {
    EXPECT_EQ(store_->CreateAccount(name, name + "-pw", "").code, 0);
    Reply r = store_->SignIn(name, name + "-pw");
    EXPECT_EQ(r.code, 0);
    return {r.data["token"], r.data["rootCatalogID"]};
  }

  std::string Mkdir(const std::string& token, const std::string& parent, const std::string& name) {
    Reply r = store_->Mkdir(token, parent, name);
    EXPECT_EQ(r.code, 0) << name;
    return r.data.value("catalogID", "");
  }

  std::string PutFile(const std::string& token, const std::string& parent, const std::string& name,
                      const std::string& bytes) {
    std::string md5 = store_->Blobs().Put(bytes);
    Reply r = store_->UploadRequest(token, parent, {UploadFile{name, static_cast<int64_t>(bytes.size()), md5}});
    EXPECT_EQ(r.code, 0) << name;
    return r.code ? "" : r.data["files"][0]["contentID"].get<std::string>();
  }

  // Names of all children (catalogs then contents) of a catalog.
  std::vector<std::string> Names(const std::string& token, const std::string& catalog) {
    Reply r = store_->List(token, catalog, "-1", "-1");
    EXPECT_EQ(r.code, 0);
    std::vector<std::string> names;
    for (auto& c : r.data["catalogList"]) names.push_back(c["catalogName"]);
    for (auto& c : r.data["contentList"]) names.push_back(c["contentName"]);
    return names;
  }

  TempDir dir_{"cloudstore"};
  std::atomic<int64_t> now_{1700000000};
  std::unique_ptr<CloudStore> store_;
};

TEST_F(StoreTest, SignInTokensAndExpiry) {
  auto [token, root] = Account("alice");
  EXPECT_EQ(store_->SignIn("alice", "wrong").code, codes::kBadLogin);
  EXPECT_EQ(store_->SignIn("nobody", "alice-pw").code, codes::kBadLogin);
  EXPECT_EQ(store_->CreateAccount("alice", "x", "").code, codes::kAccountExists);
  EXPECT_EQ(store_->CreateAccount("a/b", "x", "").code, codes::kAccountBad);

  Reply s = store_->SignIn("alice", "alice-pw");
  std::string user = s.data["userID"];
  ASSERT_EQ(user.size(), 12u);
  EXPECT_EQ(root, user + "00019700101000000001");
  EXPECT_EQ(s.data["recycleCatalogID"], user + "00019700101000000054");
  std::string op = s.data["opToken"];
  EXPECT_NE(op, token);
  EXPECT_EQ(store_->List(op, root, "1", "200").code, 0);
  Reply d = store_->GetTokenByDomain(token, "AAS");
  ASSERT_EQ(d.code, 0);
  EXPECT_EQ(store_->UserForToken(d.data["domainToken"]), user);

  EXPECT_EQ(store_->List("", root, "1", "200").code, codes::kTokenInvalid);
  EXPECT_EQ(store_->List("deadbeef", root, "1", "200").code, codes::kTokenInvalid);
  now_ += 599;
  EXPECT_EQ(store_->List(token, root, "1", "200").code, 0);
  now_ += 1;
  EXPECT_EQ(store_->List(token, root, "1", "200").code, codes::kTokenInvalid);
  EXPECT_EQ(store_->Mkdir(token, root, "x").code, codes::kTokenInvalid);
  EXPECT_EQ(store_->GetTokenByDomain(token, "AAS").code, codes::kTokenInvalid);
}

TEST_F(StoreTest, AccountsAreIsolatedExceptThroughShares) {
  auto [at, aroot] = Account("alice");
  auto [bt, broot] = Account("bob");
  std::string docs = Mkdir(at, aroot, "我的文档");
  std::string inner = Mkdir(at, docs, "内层");
  std::string file = PutFile(at, inner, "a.txt", "secret");
  std::string other = Mkdir(at, aroot, "其他");

  auto denied = [&] {
    EXPECT_EQ(store_->List(bt, aroot, "1", "200").code, codes::kCatalogMissing);
    EXPECT_EQ(store_->List(bt, docs, "1", "200").code, codes::kCatalogMissing);
    EXPECT_EQ(store_->DownloadRequest(bt, file).code, codes::kContentMissing);
    EXPECT_EQ(store_->Mkdir(bt, docs, "x").code, codes::kParentMissing);
  };
  denied();
  EXPECT_EQ(store_->RenameCatalog(bt, docs, "x").code, codes::kCatalogMissing);
  EXPECT_EQ(store_->RenameContent(bt, file, "x").code, codes::kContentMissing);
  EXPECT_EQ(store_->DeleteToRecycle(bt, {docs}, {}).code, codes::kCatalogMissing);
  EXPECT_EQ(store_->Move(bt, {}, {file}, broot).code, codes::kContentMissing);
  EXPECT_EQ(Names(at, aroot), (std::vector<std::string>{"其他", "我的文档"}));
  // The bare fixed part names the caller's own root, never another user's.
  EXPECT_EQ(Names(at, "00019700101000000001"), (std::vector<std::string>{"其他", "我的文档"}));
  EXPECT_TRUE(Names(bt, "00019700101000000001").empty());

  ASSERT_EQ(store_->ShareItems(at, {docs}, {}, {"bob"}).code, 0);
  EXPECT_EQ(store_->List(bt, docs, "1", "200").code, 0);
  EXPECT_EQ(store_->List(bt, inner, "1", "200").code, 0);
  EXPECT_EQ(store_->DownloadRequest(bt, file).code, 0);
  EXPECT_EQ(store_->List(bt, aroot, "1", "200").code, codes::kCatalogMissing);
  EXPECT_EQ(store_->List(bt, other, "1", "200").code, codes::kCatalogMissing);
  // A sharee reads and saves copies but does not rename or delete.
  EXPECT_EQ(store_->RenameCatalog(bt, inner, "x").code, codes::kCatalogMissing);
  EXPECT_EQ(store_->DeleteToRecycle(bt, {}, {file}).code, codes::kContentMissing);
  EXPECT_EQ(store_->Copy(bt, {}, {file}, broot).code, 0);
  EXPECT_EQ(Names(bt, broot), (std::vector<std::string>{"a.txt"}));

  Reply list = store_->GetShareList(bt, "1", "1", "200");
  ASSERT_EQ(list.code, 0);
  ASSERT_EQ(list.data["totalCount"], "1");
  EXPECT_EQ(list.data["shareList"][0]["catalogInfo"]["catalogID"], docs);
  EXPECT_EQ(list.data["shareList"][0]["sharerAccount"], "alice");
  EXPECT_EQ(store_->GetShareList(at, "2", "1", "200").data["totalCount"], "1");
  EXPECT_EQ(store_->ItemGetList(bt).data["itemList"][0]["accountList"][0], "alice");
  Reply aroots = store_->List(at, aroot, "1", "200");
  EXPECT_EQ(aroots.data["catalogList"][1]["isShared"], "1");
  EXPECT_EQ(aroots.data["catalogList"][1]["shareType"], "1");

  ASSERT_EQ(store_->ReplyShare(bt, {docs}, true).code, 0);
  EXPECT_EQ(store_->GetShareList(bt, "1", "1", "200").data["shareList"][0]["shareState"], "1");
  ASSERT_EQ(store_->LeaveShare(bt, {docs}).code, 0);
  denied();
  EXPECT_EQ(store_->LeaveShare(bt, {docs}).code, codes::kShareMissing);

  ASSERT_EQ(store_->ShareItems(at, {docs}, {}, {"bob"}).code, 0);
  ASSERT_EQ(store_->CancelShare(at, docs).code, 0);
  denied();

  Reply link = store_->CreateLinkShare(at, docs);
  ASSERT_EQ(link.code, 0);
  EXPECT_EQ(store_->OpenLinkShare(bt, "nope").code, codes::kLinkMissing);
  ASSERT_EQ(store_->OpenLinkShare(bt, link.data["linkCode"]).code, 0);
  EXPECT_EQ(store_->List(bt, inner, "1", "200").code, 0);
}

TEST_F(StoreTest, PagingBoundsAndTotals) {
  auto [token, root] = Account("alice");
  std::string folder = store_->CreateBenchFolder("alice", "big", 300).data["catalogID"];
  for (int i = 0; i < 150; ++i) Mkdir(token, folder, "dir_" + std::to_string(1000 + i));

  struct Case {
    const char* start;
    const char* end;
    int code;
    size_t catalogs, contents;
  } cases[] = {
      {"1", "200", 0, 150, 50},   {"201", "400", 0, 0, 200},   {"401", "600", 0, 0, 50},
      {"401", "450", 0, 0, 50},   {"451", "650", 0, 0, 0},     {"1", "1000", 0, 150, 50},
      {"150", "151", 0, 1, 1},    {"-1", "-1", 0, 150, 300},   {"0", "10", codes::kBadRequest, 0, 0},
      {"5", "4", codes::kBadRequest, 0, 0}, {"", "", codes::kBadRequest, 0, 0},
      {"1", "x", codes::kBadRequest, 0, 0}, {"-1", "200", codes::kBadRequest, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.start) + ".." + c.end);
    Reply r = store_->List(token, folder, c.start, c.end);
    ASSERT_EQ(r.code, c.code);
    if (c.code) continue;
    EXPECT_EQ(r.data["totalCount"], "450");
    EXPECT_EQ(r.data["catalogList"].size(), c.catalogs);
    EXPECT_EQ(r.data["contentList"].size(), c.contents);
  }

  // Walking the pages sees every entry exactly once, catalogs first, in name order.
  std::vector<std::string> names;
  std::set<std::string> ids;
  for (int start = 1; start <= 450; start += 200) {
    Reply r = store_->List(token, folder, std::to_string(start), std::to_string(start + 199));
    for (auto& c : r.data["catalogList"]) names.push_back(c["catalogName"]), ids.insert(c["catalogID"]);
    for (auto& c : r.data["contentList"]) names.push_back(c["contentName"]), ids.insert(c["contentID"]);
  }
  ASSERT_EQ(names.size(), 450u);
  EXPECT_EQ(ids.size(), 450u);
  EXPECT_EQ(names[0], "dir_1000");
  EXPECT_EQ(names[149], "dir_1149");
  EXPECT_EQ(names[150], "file_000001.txt");
  EXPECT_EQ(names[449], "file_000300.txt");
  for (const auto& id : ids) {
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos) << id;
  }

  Reply all = store_->ListAll(token, root, true);
  EXPECT_EQ(all.data["totalCount"], "451");  // the folder itself and everything in it
}

TEST_F(StoreTest, ItemOperationsAndTheirRefusals) {
  auto [t, root] = Account("alice");
  std::string user = store_->SignIn("alice", "alice-pw").data["userID"];
  std::string recycle = CloudStore::RecycleOf(user);
  std::string a = Mkdir(t, root, "A");
  std::string b = Mkdir(t, a, "B");
  std::string c = Mkdir(t, root, "C");
  std::string f = PutFile(t, a, "f.txt", "hello");
  std::string g = PutFile(t, root, "g.txt", "world");

  Reply made = store_->Mkdir(t, c, "新建文件夹");
  ASSERT_EQ(made.code, 0);
  std::string madeId = made.data["catalogID"];
  EXPECT_EQ(madeId.substr(0, 12), user);
  EXPECT_EQ(madeId.size(), 32u);
  EXPECT_EQ(made.data["createtime"].get<std::string>().size(), 14u);
  EXPECT_EQ(made.data["path"], root + "/" + c + "/" + madeId);

  struct Case {
    const char* what;
    std::function<Reply()> call;
    int code;
  } cases[] = {
      {"mkdir clash", [&] { return store_->Mkdir(t, root, "A"); }, codes::kNameExists},
      {"mkdir clash with file", [&] { return store_->Mkdir(t, root, "g.txt"); }, codes::kNameExists},
      {"mkdir no parent", [&] { return store_->Mkdir(t, user + "00020240101999999999", "x"); }, codes::kParentMissing},
      {"mkdir slash", [&] { return store_->Mkdir(t, root, "a/b"); }, codes::kCatalogNameBad},
      {"mkdir backslash", [&] { return store_->Mkdir(t, root, "a\\b"); }, codes::kCatalogNameBad},
      {"mkdir dot", [&] { return store_->Mkdir(t, root, "."); }, codes::kCatalogNameBad},
      {"mkdir dotdot", [&] { return store_->Mkdir(t, root, ".."); }, codes::kCatalogNameBad},
      {"mkdir empty", [&] { return store_->Mkdir(t, root, ""); }, codes::kCatalogNameBad},
      {"mkdir bad utf8", [&] { return store_->Mkdir(t, root, "\xe4\xb8"); }, codes::kCatalogNameBad},
      {"mkdir too long", [&] { return store_->Mkdir(t, root, std::string(256, 'x')); }, codes::kNameTooLong},
      {"mkdir in recycle", [&] { return store_->Mkdir(t, recycle, "x"); }, codes::kFixedNoModify},
      {"rename clash", [&] { return store_->RenameCatalog(t, c, "A"); }, codes::kNameExists},
      {"rename file clash", [&] { return store_->RenameContent(t, g, "C"); }, codes::kNameExists},
      {"rename file slash", [&] { return store_->RenameContent(t, g, "x/y"); }, codes::kFileNameBad},
      {"rename root", [&] { return store_->RenameCatalog(t, root, "x"); }, codes::kFixedNoModify},
      {"rename missing", [&] { return store_->RenameCatalog(t, user + "00020240101999999999", "x"); },
       codes::kCatalogMissing},
      {"delete root", [&] { return store_->DeleteToRecycle(t, {root}, {}); }, codes::kFixedNoDelete},
      {"delete recycle", [&] { return store_->DeleteToRecycle(t, {recycle}, {}); }, codes::kFixedNoDelete},
      {"delete partly missing", [&] { return store_->DeleteToRecycle(t, {c}, {g, user + "x"}); },
       codes::kContentMissing},
      {"copy file same folder", [&] { return store_->Copy(t, {}, {f}, a); }, codes::kCopySameFolder},
      {"copy dir same folder", [&] { return store_->Copy(t, {b}, {}, a); }, codes::kCopyCatalogSameFolder},
      {"copy dir into itself", [&] { return store_->Copy(t, {a}, {}, a); }, codes::kCopyIntoSelf},
      {"copy dir into child", [&] { return store_->Copy(t, {a}, {}, b); }, codes::kCopyIntoSelf},
      {"copy root", [&] { return store_->Copy(t, {root}, {}, c); }, codes::kFixedNoMove},
      {"copy clash", [&] { return store_->Copy(t, {}, {g}, c); }, 0},
      {"copy clash again", [&] { return store_->Copy(t, {}, {g}, c); }, codes::kNameExists},
      {"move same folder", [&] { return store_->Move(t, {a}, {}, root); }, codes::kMoveSameFolder},
      {"move into child", [&] { return store_->Move(t, {a}, {}, b); }, codes::kCopyIntoSelf},
      {"move clash", [&] { return store_->Move(t, {}, {g}, c); }, codes::kNameExists},
      {"move root", [&] { return store_->Move(t, {root}, {}, c); }, codes::kFixedNoMove},
      {"move nothing", [&] { return store_->Move(t, {}, {}, c); }, codes::kBadRequest},
  };
  for (const auto& k : cases) EXPECT_EQ(k.call().code, k.code) << k.what;
  // Refusals changed nothing.
  EXPECT_EQ(Names(t, root), (std::vector<std::string>{"A", "C", "g.txt"}));
  EXPECT_EQ(Names(t, a), (std::vector<std::string>{"B", "f.txt"}));
  EXPECT_EQ(Names(t, c), (std::vector<std::string>{"新建文件夹", "g.txt"}));

  ASSERT_EQ(store_->RenameCatalog(t, a, "A2").code, 0);
  ASSERT_EQ(store_->RenameContent(t, f, "f2.txt").code, 0);
  ASSERT_EQ(store_->Copy(t, {a}, {}, c).code, 0);
  Reply tree = store_->ListAll(t, c, true);
  EXPECT_EQ(tree.data["totalCount"], "5");  // 新建文件夹, g.txt, A2, A2/B, A2/f2.txt
  ASSERT_EQ(store_->Move(t, {b}, {f}, root).code, 0);
  EXPECT_EQ(Names(t, root), (std::vector<std::string>{"A2", "B", "C", "f2.txt", "g.txt"}));
  EXPECT_TRUE(Names(t, a).empty());

  ASSERT_EQ(store_->DeleteToRecycle(t, {a, b}, {f}).code, 0);
  EXPECT_EQ(Names(t, root), (std::vector<std::string>{"C", "g.txt"}));
  EXPECT_EQ(Names(t, recycle), (std::vector<std::string>{"A2", "B", "f2.txt"}));
  // A second delete of the same item finds it gone from the tree.
  EXPECT_EQ(store_->DeleteToRecycle(t, {}, {f}).code, codes::kContentMissing);
}

TEST_F(StoreTest, UploadInstantRangedReplaceAndQuota) {
  auto [at, aroot] = Account("alice");
  auto [bt, broot] = Account("bob");
  std::string bytes(10000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
  std::string md5 = Md5Hex(bytes);

  Reply req = store_->UploadRequest(at, aroot, {UploadFile{"data.bin", 10000, md5}});
  ASSERT_EQ(req.code, 0);
  ASSERT_EQ(req.data["files"][0]["needUpload"], "1");
  std::string task = req.data["uploadTaskID"], cid = req.data["files"][0]["contentID"];
  EXPECT_TRUE(Names(at, aroot).empty());  // nothing visible before the bytes are in

  EXPECT_EQ(store_->UploadRange(task, cid, 0, 10000, std::string_view(bytes).substr(0, 4000)).data["storedBytes"],
            "4000");
  EXPECT_EQ(store_->UploadRange(task, cid, 5000, 10000, std::string_view(bytes).substr(5000, 100)).code,
            codes::kBadRequest);  // gap
  EXPECT_EQ(store_->UploadRange(task, cid, 0, 9999, "x").code, codes::kBadRequest);  // wrong total
  EXPECT_EQ(store_->UploadRange(task, "0", 0, 10000, "x").code, codes::kTaskMissing);
  EXPECT_EQ(store_->UploadTaskInfo(bt, task, cid).code, codes::kTaskMissing);  // not bob's task

  Open();  // the same data folder after a restart
  at = store_->SignIn("alice", "alice-pw").data["token"];
  Reply info = store_->UploadTaskInfo(at, task, cid);
  ASSERT_EQ(info.code, 0);
  EXPECT_EQ(info.data["taskInfoList"][0]["uploadedSize"], "4000");
  Reply done = store_->UploadRange(task, cid, 4000, 10000, std::string_view(bytes).substr(4000));
  ASSERT_EQ(done.code, 0);
  EXPECT_EQ(done.data["complete"], "1");
  EXPECT_EQ(store_->UploadTaskInfo(at, task, cid).data["taskInfoList"][0]["uploadedSize"], "10000");
  Reply listed = store_->List(at, aroot, "1", "200");
  ASSERT_EQ(listed.data["contentList"].size(), 1u);
  EXPECT_EQ(listed.data["contentList"][0]["contentID"], cid);
  EXPECT_EQ(listed.data["contentList"][0]["digest"], md5);
  EXPECT_EQ(Md5File(store_->Blobs().BlobPath(md5).string()), md5);

  // Same MD5 from another account: no bytes needed, content there at once.
  Reply inst = store_->UploadRequest(bt, broot, {UploadFile{"copy.bin", 10000, md5}});
  ASSERT_EQ(inst.code, 0);
  EXPECT_EQ(inst.data["files"][0]["needUpload"], "0");
  EXPECT_EQ(Names(bt, broot), (std::vector<std::string>{"copy.bin"}));

  // Bytes that do not match the announced MD5 are refused and leave nothing.
  Reply bad = store_->UploadRequest(bt, broot, {UploadFile{"bad.bin", 3, std::string(32, 'a')}});
  ASSERT_EQ(bad.code, 0);
  EXPECT_EQ(store_->UploadRange(bad.data["uploadTaskID"], bad.data["files"][0]["contentID"], 0, 3, "abc").code,
            codes::kSaveFailed);
  EXPECT_EQ(Names(bt, broot), (std::vector<std::string>{"copy.bin"}));

  // Same name: replaced in place, same ID, next version.
  std::string md5b = store_->Blobs().Put("new bytes");
  Reply rep = store_->UploadRequest(at, aroot, {UploadFile{"data.bin", 9, md5b}});
  ASSERT_EQ(rep.code, 0);
  EXPECT_EQ(rep.data["files"][0]["isExist"], "1");
  EXPECT_EQ(rep.data["files"][0]["contentID"], cid);
  Reply after = store_->List(at, aroot, "1", "200");
  EXPECT_EQ(after.data["contentList"][0]["fileVersion"], "2");
  EXPECT_EQ(after.data["contentList"][0]["contentSize"], "9");

  // Quota is 1 MiB in this fixture.
  EXPECT_EQ(store_->UploadRequest(at, aroot, {UploadFile{"huge", 2 << 20, md5}}).code, codes::kNoSpace);
  Reply disk = store_->GetDiskInfo(at);
  EXPECT_EQ(disk.data["usedSize"], "9");
  EXPECT_EQ(disk.data["totalSize"], std::to_string(1 << 20));

  // Deleting a task drops its stored bytes.
  Reply t2 = store_->UploadRequest(at, aroot, {UploadFile{"part.bin", 10, std::string(32, 'b')}});
  std::string task2 = t2.data["uploadTaskID"], cid2 = t2.data["files"][0]["contentID"];
  ASSERT_EQ(store_->UploadRange(task2, cid2, 0, 10, "01234").code, 0);
  ASSERT_EQ(store_->DeleteUploadTask(at, task2).code, 0);
  EXPECT_EQ(store_->Blobs().PartialSize(task2 + "_" + cid2), 0);
  EXPECT_EQ(store_->UploadRange(task2, cid2, 5, 10, "56789").code, codes::kTaskMissing);
}

TEST(NameCheck, Shapes) {
  EXPECT_EQ(CheckItemName("我的文档"), NameCheck::kOk);
  EXPECT_EQ(CheckItemName("a.b c"), NameCheck::kOk);
  EXPECT_EQ(CheckItemName("..a"), NameCheck::kOk);
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "a\tb", "\xff", "\xc0\xaf", "\xed\xa0\x80"})
    EXPECT_EQ(CheckItemName(bad), NameCheck::kBad) << bad;
  EXPECT_EQ(CheckItemName(std::string(255, 'x')), NameCheck::kOk);
  EXPECT_EQ(CheckItemName(std::string(256, 'x')), NameCheck::kTooLong);
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace cloudserver
