// The upload and download engines end to end against the real service
// program through the real SDK. Uploads: trees byte for byte, instant
// uploads, resume after the service was killed, cancel, slots, one file in
// two tasks, network loss, a retry that gives up, a folder that cannot be
// made, sign-out. Downloads: trees back byte for byte, hostile names, free
// local names, resume after a kill, cancel. The progress window is a
// timer-driven stand-in that ticks the dialog's real logic; the SDK passes
// through a recorder that can inject a failure at its edge.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "held_upload_slots.h"
#include "cloud_sdk_impl.h"
#include "headless_progress_window.h"
#include "login.h"
#include "md5.h"
#include "pidl.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "tests/sdk_test_support.h"
#include "cloud_copy_move.h"
#include "download_task.h"
#include "drop_blocks.h"
#include "drop_rules.h"
#include "drag_out.h"
#include "upload_task.h"

namespace vdtransfer {
namespace {

using corbel::test::TempDir;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kChunk = 256 * 1024;
constexpr std::uint32_t kTickMs = 20;

std::string U8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

std::string FileMd5(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return corbel::Md5::HexOf(bytes);
}

// The real SDK with a record of the calls the engine makes and a hook to
// fail one at the edge.
class RecordingSdk final : public ICloudSdk {
 public:
  explicit RecordingSdk(ICloudSdk& real) : m_real(real) {}

  std::mutex lock;
  std::vector<std::string> requested;  // names of upload requests that reached the service
  std::vector<std::string> sent;       // local paths handed to uploadFile
  std::vector<std::string> made;       // folder names created
  int deletes = 0, taskInfos = 0, events = 0;
  NewEventRequest lastEvent;
  // Returns a code to fail the call without reaching the service, or 0.
  std::function<int(const UploadFileRequest&)> failRequest;
  std::function<int(const MkdirRequest&)> failMkdir;

  template <class T>
  std::vector<T> Copy(const std::vector<T>& v) {
    std::lock_guard l(lock);
    return v;
  }

  bool init(const std::string& a, int b, const std::string& c, int d) override { return m_real.init(a, b, c, d); }
  int GetIEProxy(std::string* a, std::string* b) override { return m_real.GetIEProxy(a, b); }
  int InitHttpX(const std::string& a, const std::string& b, const std::string& c, const std::string& d) override {
    return m_real.InitHttpX(a, b, c, d);
  }
  int SetTokenInfo(const std::string& a, const std::string& b, const std::string& c) override {
    return m_real.SetTokenInfo(a, b, c);
  }
  int SetTokenInfoEx(const TokenInfoEx& t) override { return m_real.SetTokenInfoEx(t); }
  int getTokenByDomain(const std::string& d, std::string* t) override { return m_real.getTokenByDomain(d, t); }
  int ls(const ListRequest& r, SdkCallback<ListResult> cb, void* u) override { return m_real.ls(r, cb, u); }
  int SyncLs(const ListRequest& r, ListResult* out) override { return m_real.SyncLs(r, out); }
  int SyncLsAll(const LsAllRequest& r, ListResult* out) override { return m_real.SyncLsAll(r, out); }
  int itemGetList(const ItemGetListRequest& r, ItemGetListResult* o, SdkCallback<ItemGetListResult> cb, void* u) override {
    return m_real.itemGetList(r, o, cb, u);
  }
  int getDiskInfo(const DiskInfoRequest& r, SdkCallback<DiskInfoResult> cb, void* u) override {
    return m_real.getDiskInfo(r, cb, u);
  }
  int SyncMkdir(const MkdirRequest& r, MkdirResult* out) override {
    if (failMkdir) {
      if (const int code = failMkdir(r)) return code;
    }
    const int code = m_real.SyncMkdir(r, out);
    std::lock_guard l(lock);
    if (code == 0) made.push_back(r.catalogName);
    return code;
  }
  int updateCatalogInfo(const UpdateCatalogRequest& r, OprResult* o, SdkCallback<OprResult> cb, void* u) override {
    return m_real.updateCatalogInfo(r, o, cb, u);
  }
  int updateFile(const UpdateFileRequest& r, OprResult* o, SdkCallback<OprResult> cb, void* u) override {
    return m_real.updateFile(r, o, cb, u);
  }
  int SyncMgtVirDirInfo(const MgtVirDirRequest& r, OprResult* o) override { return m_real.SyncMgtVirDirInfo(r, o); }
  int SyncCopy(const CopyMoveRequest& r, OprResult* o) override { return m_real.SyncCopy(r, o); }
  int SyncMove(const CopyMoveRequest& r, OprResult* o) override { return m_real.SyncMove(r, o); }
  int GetShareList(const ShareListRequest& r, ShareListResult* o, SdkCallback<ShareListResult> cb, void* u) override {
    return m_real.GetShareList(r, o, cb, u);
  }
  int CancelShare(const CancelShareRequest& r, OprResult* o, SdkCallback<OprResult> cb, void* u) override {
    return m_real.CancelShare(r, o, cb, u);
  }
  int LeaveShare(const LeaveShareRequest& r, OprResult* o, SdkCallback<OprResult> cb, void* u) override {
    return m_real.LeaveShare(r, o, cb, u);
  }
  int ReplyShare(const ReplyShareRequest& r, OprResult* o, SdkCallback<OprResult> cb, void* u) override {
    return m_real.ReplyShare(r, o, cb, u);
  }
  int Md5CalFile(const std::string& p, std::string* m) override { return m_real.Md5CalFile(p, m); }
  int SyncUploadFileRequest(const UploadFileRequest& r, UploadFileResult* out) override {
    if (failRequest) {
      if (const int code = failRequest(r)) return code;
    }
    {
      std::lock_guard l(lock);
      for (const auto& f : r.files) requested.push_back(f.contentName);
    }
    return m_real.SyncUploadFileRequest(r, out);
  }
  int makeUploadFileHttpHeader(const UploadHeaderRequest& r, std::string* h) override {
    return m_real.makeUploadFileHttpHeader(r, h);
  }
  int uploadFile(ITransferRecord* t) override {
    {
      std::lock_guard l(lock);
      sent.push_back(t->GetLocalPath());
    }
    return m_real.uploadFile(t);
  }
  int getUploadTaskInfoN(const UploadTaskInfoRequest& r, UploadTaskInfoResult* out) override {
    {
      std::lock_guard l(lock);
      ++taskInfos;
    }
    return m_real.getUploadTaskInfoN(r, out);
  }
  int SyncDelUploadTask(const std::string& a, const UploadFileResult& r, const std::string& n,
                        const std::string& e) override {
    {
      std::lock_guard l(lock);
      ++deletes;
    }
    return m_real.SyncDelUploadTask(a, r, n, e);
  }
  int pcDownloadFileRequest(const DownloadFileRequest& r, ITransferRecord* t) override {
    return m_real.pcDownloadFileRequest(r, t);
  }
  int makeDownloadFileHttpHeader(const DownloadHeaderRequest& r, std::string* h) override {
    return m_real.makeDownloadFileHttpHeader(r, h);
  }
  int downloadFile(ITransferRecord* t) override { return m_real.downloadFile(t); }
  int downloadFileEx(const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                     SdkCallback<DownloadFileExResult> cb, void* u) override {
    return m_real.downloadFileEx(a, b, c, d, cb, u);
  }
  int NewEvent(const NewEventRequest& r, OprResult* o, SdkCallback<OprResult> cb, void* u) override {
    {
      std::lock_guard l(lock);
      ++events;
      lastEvent = r;
    }
    return m_real.NewEvent(r, o, cb, u);
  }
  int RecordOprLogExAndXML(const OprLogRecord& r, int f) override { return m_real.RecordOprLogExAndXML(r, f); }

 private:
  ICloudSdk& m_real;
};

class TestHost final : public ITransferHost {
 public:
  explicit TestHost(ICloudSdk* sdk) : m_sdk(sdk) {}
  ~TestHost() {
    std::lock_guard l(lock);
    windows.clear();
  }

  ICloudSdk* Sdk() override { return m_sdk; }
  std::string Account() override { return "alice"; }
  std::u16string UserId() override { return platform::Utf8ToUtf16(userId); }
  bool IsNetworkAvailable() override { return network.load(); }
  std::string GzipSuffixes() override { return gzip; }
  std::string ResultMessage(int code) override { return "错误" + std::to_string(code); }
  // The "program" a user opens a file with; it runs on the worker, as the real one is waited for there.
  void OpenAndWait(const std::string& path) override {
    std::function<void(const std::string&)> edit;
    {
      std::lock_guard l(lock);
      edit = editor;
      opened.push_back(path);
    }
    if (edit) edit(path);
  }
  bool AskYesNo(void*, const std::u16string& text) override {
    std::lock_guard l(lock);
    questions.push_back(U8(text));
    return false;
  }
  bool ListCatalog(const std::string& catalogId, std::vector<CloudEntry>* children) override {
    {
      std::lock_guard l(lock);
      if (auto it = listings.find(catalogId); it != listings.end()) {
        *children = it->second;
        return true;
      }
    }
    ListRequest request;
    request.account = "alice";
    request.catalogID = catalogId;
    ListResult result;
    if (m_sdk->SyncLs(request, &result) != kSdkOk) return false;
    for (const auto& c : result.catalogs) children->push_back({true, c.catalogID, c.catalogName, 0, c.catalogID, catalogId});
    for (const auto& c : result.contents)
      children->push_back({false, c.contentID, c.contentName, std::stoull(c.contentSize), c.contentID, catalogId});
    return true;
  }
  bool CreateProgressWindow(const std::shared_ptr<CCTaskProgressDlg>& dialog, void*, bool, bool) override {
    std::lock_guard l(lock);
    windows.push_back(std::make_unique<HeadlessProgressWindow>(dialog, kTickMs));
    cv.notify_all();
    return true;
  }
  void ShowMessage(void*, const std::u16string& text) override {
    std::lock_guard l(lock);
    messages.push_back(U8(text));
  }
  void ShowReport(void*, const std::u16string& title, const std::u16string& summary,
                  const std::u16string& details) override {
    std::lock_guard l(lock);
    reports.push_back(U8(title) + "|" + U8(summary) + "|" + U8(details));
  }
  void CutItemsMoved(const std::string& parent) override {
    std::lock_guard l(lock);
    cutParents.push_back(parent);
  }

  HeadlessProgressWindow* WaitWindow(std::size_t index) {
    std::unique_lock l(lock);
    cv.wait_for(l, std::chrono::seconds(30), [&] { return windows.size() > index; });
    return windows.size() > index ? windows[index].get() : nullptr;
  }

  std::mutex lock;
  std::condition_variable cv;
  std::vector<std::unique_ptr<HeadlessProgressWindow>> windows;
  std::vector<std::string> messages, reports, cutParents;
  std::atomic<bool> network{true};
  std::string gzip;
  std::function<void(const std::string&)> editor;
  std::vector<std::string> opened, questions;
  // Listings that stand in for the catalog cache's (hostile names).
  std::map<std::string, std::vector<CloudEntry>> listings;
  std::string userId;

 private:
  ICloudSdk* m_sdk;
};

// What a task's end reported, and a wait for it.
template <class Item>
struct Ended {
  std::mutex lock;
  std::condition_variable cv;
  bool called = false;
  int result = -99;
  std::vector<Item> results;

  void Set(int r, const std::vector<Item>& items) {
    std::lock_guard l(lock);
    called = true;
    result = r;
    results = items;
    cv.notify_all();
  }
  bool Wait(int seconds = 120) {
    std::unique_lock l(lock);
    return cv.wait_for(l, std::chrono::seconds(seconds), [&] { return called; });
  }
};

struct Outcome : Ended<UploadResultItem> {
  UploadCallback Callback() {
    return [this](int r, const std::vector<UploadResultItem>& items, vd::PcPidl) { Set(r, items); };
  }
  const UploadResultItem* Find(const std::string& name) const {
    for (const auto& r : results)
      if (r.name == name) return &r;
    return nullptr;
  }
};

class UploadLive : public ::testing::Test {
 protected:
  void SetUp() override {
    vd::SignedOutFlag() = 0;
    m_server = std::make_unique<corbel::test::ServerProcess>(m_dir.path() / "data");
    ASSERT_TRUE(m_server->Start());
    ASSERT_TRUE(corbel::test::SignIn(m_server->port(), "alice", "alice-pass", &m_alice));
    corbel::test::WriteSdkConfig(m_dir.path(), m_server->port(), 1, 2000, kChunk);
    ASSERT_TRUE(m_sdk.init("", 0, m_dir.path().string(), 1));
    ASSERT_EQ(m_sdk.SetTokenInfo("alice", m_alice.token, m_alice.opToken), kSdkOk);
    m_host.userId = m_alice.userID;
    SetTransferHost(&m_host);
    SetUploadTimings({10, 50});
    std::filesystem::create_directories(m_dir.path() / "src");
  }
  void TearDown() override {
    // A worker gives its slot back right after the callback; none may keep it.
    const auto until = Clock::now() + std::chrono::seconds(30);
    while (RunningUploads().load() != 0 && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(RunningUploads().load(), 0);
    SetTransferHost(nullptr);
    vd::SignedOutFlag() = 0;
  }

  std::string Write(const std::string& relative, std::uint64_t size, unsigned seed = 1) {
    const auto path = m_dir.path() / "src" / relative;
    std::filesystem::create_directories(path.parent_path());
    corbel::test::WriteRandomFile(path.string(), size, seed);
    return path.string();
  }
  std::string Folder(const std::string& relative) {
    const auto path = m_dir.path() / "src" / relative;
    std::filesystem::create_directories(path);
    return path.string();
  }
  std::string NewCatalog(const std::string& name) {
    return corbel::test::Mkdir(m_server->port(), m_alice.token, m_alice.root, name);
  }

  // 树/子目录 with a picture, and 更深 below it with one more file.
  UploadDirNode NestedFolder() {
    UploadDirNode sub;
    sub.localPath = Folder("树/子目录");
    sub.files = {Write("树/子目录/图片.jpg", 120000, 4)};
    UploadDirNode deeper;
    deeper.localPath = Folder("树/子目录/更深");
    deeper.files = {Write("树/子目录/更深/深处.dat", 70000, 5)};
    sub.subdirs = {deeper};
    return sub;
  }

  // Starts a task into `catalog`; its start result.
  int Start(UploadDirNode root, Outcome& outcome, int mode = 10) {
    auto* task = new CVDUploadFileTask();
    task->mode = mode;
    std::uint64_t bytes = 0;
    return task->StartUploadServer(root, "alice", nullptr, 0, {}, 0, {}, 1, bytes, u"目标", nullptr,
                                   outcome.Callback());
  }

  ListResult List(const std::string& catalog) {
    ListRequest request;
    request.account = "alice";
    request.catalogID = catalog;
    request.startNumber = "1";
    request.endNumber = "200";
    ListResult result;
    EXPECT_EQ(m_sdk.SyncLs(request, &result), kSdkOk);
    return result;
  }
  const ContentInfo* FindContent(const ListResult& list, const std::string& name) {
    for (const auto& c : list.contents)
      if (c.contentName == name) return &c;
    return nullptr;
  }
  const CatalogInfo* FindCatalog(const ListResult& list, const std::string& name) {
    for (const auto& c : list.catalogs)
      if (c.catalogName == name) return &c;
    return nullptr;
  }
  // The transfer running for `window`'s task once it has moved `bytes`.
  bool WaitTransferred(HeadlessProgressWindow* window, std::uint64_t bytes) {
    const auto until = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < until) {
      if (TransferObject* t = window->dlg()->CurrentTransfer()) {
        const std::uint64_t moved = t->GetTransferred();
        t->Release();
        if (moved >= bytes) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // Starts a task and returns its window once `moved` bytes are on the way.
  HeadlessProgressWindow* StartMoving(const UploadDirNode& root, Outcome& outcome, std::uint64_t moved) {
    if (Start(root, outcome) != 0) return nullptr;
    HeadlessProgressWindow* window = m_host.WaitWindow(0);
    return window && WaitTransferred(window, moved) ? window : nullptr;
  }

  TempDir m_dir;
  std::unique_ptr<corbel::test::ServerProcess> m_server;
  corbel::test::Account m_alice;
  corbel::CloudSdk m_real;
  RecordingSdk m_sdk{m_real};
  TestHost m_host{&m_sdk};
};

TEST_F(UploadLive, ATreeArrivesByteForByteAndAFileTheServiceHasSendsNothing) {
  const std::string target = NewCatalog("上传目标");
  ASSERT_FALSE(target.empty());
  // The service learns one file's bytes first.
  const std::string known = Write("已有.bin", 300000, 7);
  {
    Outcome first;
    UploadDirNode root;
    root.catalogId = NewCatalog("先传");
    root.files = {known};
    ASSERT_EQ(Start(root, first), 0);
    ASSERT_TRUE(first.Wait());
    ASSERT_EQ(first.result, 0);
  }
  const std::size_t sentBefore = m_sdk.Copy(m_sdk.sent).size();

  const std::string copyOfKnown = Write("树/同样的字节.bin", 300000, 7);
  UploadDirNode root;
  root.catalogId = target;
  root.files = {Write("树/说明.txt", 5000, 2), Write("树/空.txt", 0), copyOfKnown,
                Write("树/大文件.bin", 6 * 1048576 + 77, 3)};
  UploadDirNode sub = NestedFolder();
  const UploadDirNode& deeper = sub.subdirs[0];
  UploadDirNode emptyFolder;
  emptyFolder.localPath = Folder("树/空目录");
  root.subdirs = {sub, emptyFolder};

  Outcome outcome;
  ASSERT_EQ(Start(root, outcome), 0);
  ASSERT_TRUE(outcome.Wait());
  EXPECT_EQ(outcome.result, 0);
  ASSERT_EQ(outcome.results.size(), 9u) << "4 files, 3 folders and the 2 files in them";
  for (const auto& r : outcome.results) {
    EXPECT_EQ(r.resultCode, 0) << r.localPath;
    EXPECT_FALSE(r.id.empty()) << r.localPath;
    EXPECT_EQ(r.time.size(), 14u);
  }

  // The service's tree matches, file by file.
  const ListResult top = List(target);
  for (const std::string& path : root.files) {
    const ContentInfo* c = FindContent(top, LeafName(path));
    ASSERT_NE(c, nullptr) << path;
    EXPECT_EQ(c->digest, FileMd5(path)) << path;
    EXPECT_EQ(c->contentSize, std::to_string(std::filesystem::file_size(path))) << path;
  }
  const CatalogInfo* subCatalog = FindCatalog(top, "子目录");
  ASSERT_NE(subCatalog, nullptr);
  ASSERT_NE(FindCatalog(top, "空目录"), nullptr);
  const ListResult middle = List(subCatalog->catalogID);
  const ContentInfo* picture = FindContent(middle, "图片.jpg");
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->digest, FileMd5(sub.files[0]));
  const CatalogInfo* deepCatalog = FindCatalog(middle, "更深");
  ASSERT_NE(deepCatalog, nullptr);
  const ListResult deepest = List(deepCatalog->catalogID);
  const ContentInfo* deep = FindContent(deepest, "深处.dat");
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->digest, FileMd5(deeper.files[0]));

  // The bytes the service had were never handed to a transfer.
  const auto sent = m_sdk.Copy(m_sdk.sent);
  for (std::size_t i = sentBefore; i < sent.size(); ++i) EXPECT_NE(sent[i], copyOfKnown);
  EXPECT_GE(sent.size() - sentBefore, 4u);

  // Several items at the top: a new-content notice naming them.
  {
    std::lock_guard l(m_sdk.lock);
    EXPECT_EQ(m_sdk.lastEvent.eventType, "1");
    EXPECT_NE(m_sdk.lastEvent.items.find("<obj>说明.txt|1|"), std::string::npos) << m_sdk.lastEvent.items;
    EXPECT_NE(m_sdk.lastEvent.items.find("<obj>子目录|2|"), std::string::npos) << m_sdk.lastEvent.items;
  }
  std::lock_guard l(m_host.lock);
  EXPECT_TRUE(m_host.reports.empty()) << m_host.reports[0];
  HeadlessProgressWindow* window = m_host.windows.back().get();
  EXPECT_TRUE(window->gone()) << "the dialog closed itself when every item was done";
  EXPECT_TRUE(window->Saw(kCtlItemText, "从 " + root.files[3]));
}

TEST_F(UploadLive, TheServiceKilledMidTransferIsResumedAndNoPartialFileIsEverListed) {
  const std::string target = NewCatalog("续传");
  const std::string big = Write("续传.bin", 24 * 1048576, 9);
  UploadDirNode root;
  root.catalogId = target;
  root.files = {big};
  Outcome outcome;
  SetUploadTimings({10, 300});
  HeadlessProgressWindow* window = StartMoving(root, outcome, 4 * 1048576);
  ASSERT_NE(window, nullptr);
  m_server->Kill();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(m_server->Start(m_server->port()));

  // Until the end the file is never listed short.
  const std::string md5 = FileMd5(big);
  const auto until = Clock::now() + std::chrono::seconds(120);
  while (!outcome.Wait(0) && Clock::now() < until) {
    const ListResult list = List(target);
    if (const ContentInfo* c = FindContent(list, "续传.bin")) {
      EXPECT_EQ(c->contentSize, std::to_string(24 * 1048576));
      EXPECT_EQ(c->digest, md5);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(outcome.Wait());
  EXPECT_EQ(outcome.result, 0);
  const ListResult after = List(target);
  const ContentInfo* c = FindContent(after, "续传.bin");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->digest, FileMd5(big));
  std::lock_guard l(m_sdk.lock);
  EXPECT_GE(m_sdk.sent.size(), 2u) << "a second transfer picked up where the first stopped";
  EXPECT_GE(m_sdk.taskInfos, 1) << "the resume asked the service what it holds";
}

TEST_F(UploadLive, CancelInTheDialogDropsTheServerTaskAndLeavesNothingBehind) {
  const std::string target = NewCatalog("取消");
  UploadDirNode root;
  root.catalogId = target;
  const std::string small = Write("取消/先.txt", 1000, 1);
  const std::string big = Write("取消/大.bin", 32 * 1048576, 2);
  root.files = {small, big, Write("取消/后.txt", 1000, 3)};
  Outcome outcome;
  HeadlessProgressWindow* window = StartMoving(root, outcome, 2 * 1048576);
  ASSERT_NE(window, nullptr);
  window->ClickCancel();
  ASSERT_TRUE(outcome.Wait());
  EXPECT_EQ(window->dlg()->GetTaskQuitState(), 1);
  // The first file is done and reported; the cancelled one and the last are not.
  ASSERT_NE(outcome.Find("先.txt"), nullptr);
  EXPECT_EQ(outcome.Find("先.txt")->resultCode, 0);
  EXPECT_EQ(outcome.Find("大.bin"), nullptr);
  EXPECT_EQ(outcome.Find("后.txt"), nullptr);
  const ListResult list = List(target);
  EXPECT_EQ(list.contents.size(), 1u);
  EXPECT_EQ(FindContent(list, "大.bin"), nullptr);
  std::lock_guard l(m_sdk.lock);
  EXPECT_GE(m_sdk.deletes, 1) << "the service's upload task was dropped";
  EXPECT_EQ(std::count(m_sdk.requested.begin(), m_sdk.requested.end(), "后.txt"), 0);
}

TEST_F(UploadLive, FiveTasksWhileEverySlotIsTakenEachWaitsItsTurnAndNeverMoreThanFourMove) {
  const std::string target = NewCatalog("五个");
  // The test holds every slot, so each task must show that it waits however
  // fast the service answers.
  vdtransfer::testing::HeldUploadSlots held;
  ASSERT_TRUE(held.TakeAll()) << "no upload may run when the test starts";
  Outcome outcomes[5];
  for (int i = 0; i < 5; ++i) {
    UploadDirNode root;
    root.catalogId = target;
    root.files = {Write("五个/" + std::to_string(i) + ".bin", 8 * 1048576, 20 + i)};
    ASSERT_EQ(Start(root, outcomes[i]), 0);
  }
  auto waiting = [&] {
    int waited = 0;
    std::lock_guard l(m_host.lock);
    for (auto& w : m_host.windows) {
      if (w->Saw(kCtlHeader, "正在排队等待上传...") && w->Saw(kCtlItemText, "正在排队等待上传...")) ++waited;
    }
    return waited;
  };
  const auto until = Clock::now() + std::chrono::seconds(60);
  while (waiting() < 5 && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(waiting(), 5) << "every task showed that it waits for a slot";
  held.Release();
  for (auto& o : outcomes) {
    ASSERT_TRUE(o.Wait());
    EXPECT_EQ(o.result, 0);
  }
  int peak = 0;
  {
    std::lock_guard l(m_host.lock);
    ASSERT_EQ(m_host.windows.size(), 5u);
    for (auto& w : m_host.windows) peak = std::max(peak, w->peakRunning());
  }
  EXPECT_LE(peak, kMaxRunningTransfers);
  EXPECT_EQ(List(target).contents.size(), 5u);
}

TEST_F(UploadLive, OneLocalFileInTwoTasksStartedTogetherIsSentOnce) {
  const std::string target = NewCatalog("同一个");
  const std::string shared = Write("同一个/共享.bin", 2 * 1048576, 30);
  Outcome a, b;
  UploadDirNode first;
  first.catalogId = target;
  first.files = {shared, Write("同一个/甲.txt", 100, 31)};
  UploadDirNode second;
  second.catalogId = target;
  second.files = {shared, Write("同一个/乙.txt", 100, 32)};
  ASSERT_EQ(Start(first, a), 0);
  ASSERT_EQ(Start(second, b), 0);
  ASSERT_TRUE(a.Wait());
  ASSERT_TRUE(b.Wait());
  const auto requested = m_sdk.Copy(m_sdk.requested);
  EXPECT_EQ(std::count(requested.begin(), requested.end(), "共享.bin"), 1);
  EXPECT_EQ(a.results.size() + b.results.size(), 3u);
  EXPECT_EQ(List(target).contents.size(), 3u);
  EXPECT_FALSE(CVDUploadChecker::GetInstance().Holds(shared)) << "given back at the end";

  // A task left with nothing to send does not start.
  UploadDirNode only;
  only.catalogId = target;
  only.files = {shared};
  CVDUploadChecker::GetInstance().AssertUploadfiles(first);
  Outcome none;
  EXPECT_EQ(Start(only, none), -1);
  CVDUploadChecker::GetInstance().RomeveUploadfiles(first);
}

TEST_F(UploadLive, NetworkLostMidRunFailsTheRestWithoutTheSdkAndSaysSoOnce) {
  const std::string target = NewCatalog("断网");
  UploadDirNode root;
  root.catalogId = target;
  for (int i = 0; i < 6; ++i) root.files.push_back(Write("断网/" + std::to_string(i) + ".txt", 100 + i, 40 + i));
  UploadDirNode sub;
  sub.localPath = Folder("断网/子");
  root.subdirs = {sub};
  std::atomic<int> calls{0};
  m_sdk.failRequest = [&](const UploadFileRequest&) {
    if (++calls == 1) return 0;
    m_host.network = false;
    return kSdkNetworkUnavailable;
  };
  Outcome outcome;
  ASSERT_EQ(Start(root, outcome), 0);
  ASSERT_TRUE(outcome.Wait());
  EXPECT_EQ(calls.load(), 3) << "one sent, two lost, then no more calls";
  EXPECT_EQ(outcome.result, 1);
  ASSERT_EQ(outcome.results.size(), 7u);
  EXPECT_EQ(outcome.results[0].resultCode, 0);
  EXPECT_EQ(outcome.results[1].resultCode, kSdkNetworkUnavailable);
  EXPECT_EQ(outcome.results[2].resultCode, kSdkNetworkUnavailable);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(outcome.results[i].resultCode, kUploadGaveUp) << i;
  EXPECT_EQ(outcome.results[6].isFolder, 1);
  EXPECT_EQ(outcome.results[6].resultCode, kUploadNotTried);
  EXPECT_TRUE(m_sdk.Copy(m_sdk.made).empty()) << "no folder was tried";
  std::lock_guard l(m_host.lock);
  EXPECT_EQ(std::count(m_host.messages.begin(), m_host.messages.end(), "网络不可用，请稍后再试！"), 1);
  ASSERT_EQ(m_host.reports.size(), 1u);
  EXPECT_NE(m_host.reports[0].find("共有6个文件(文件夹)上传失败！"), std::string::npos) << m_host.reports[0];
}

TEST_F(UploadLive, NoNetworkAtTheStartMeansNoTask) {
  m_host.network = false;
  UploadDirNode root;
  root.catalogId = m_alice.root;
  root.files = {Write("无网.txt", 10)};
  Outcome outcome;
  EXPECT_EQ(Start(root, outcome), -10);
  std::lock_guard l(m_host.lock);
  EXPECT_EQ(m_host.messages, std::vector<std::string>{"网络不可用，请稍后再试！"});
  EXPECT_TRUE(m_host.windows.empty());
  EXPECT_FALSE(CVDUploadChecker::GetInstance().Holds(root.files[0]));
}

TEST_F(UploadLive, ATransferThatNeverSucceedsIsRetriedFifteenTimesThenGivenUp) {
  const std::string target = NewCatalog("放弃");
  UploadDirNode root;
  root.catalogId = target;
  root.files = {Write("放弃/大.bin", 24 * 1048576, 50)};
  Outcome outcome;
  SetUploadTimings({10, 10});
  HeadlessProgressWindow* window = StartMoving(root, outcome, 2 * 1048576);
  ASSERT_NE(window, nullptr);
  m_server->Kill();  // for good
  ASSERT_TRUE(outcome.Wait());
  EXPECT_EQ(outcome.result, 1);
  ASSERT_EQ(outcome.results.size(), 1u);
  EXPECT_EQ(outcome.results[0].resultCode, kUploadGaveUp);
  EXPECT_TRUE(outcome.results[0].id.empty());
  std::lock_guard l(m_sdk.lock);
  EXPECT_EQ(m_sdk.taskInfos, 2 * kMaxUploadRetries) << "each round asks whether it is done, then for the resume";
  EXPECT_EQ(m_sdk.deletes, 1);
  std::lock_guard h(m_host.lock);
  ASSERT_EQ(m_host.reports.size(), 1u);
  EXPECT_NE(m_host.reports[0].find("文件: " + root.files[0] + "\r\n"), std::string::npos) << "code 1: no reason";
}

TEST_F(UploadLive, AFolderThatCannotBeMadeEndsTheRun) {
  const std::string target = NewCatalog("建目录");
  UploadDirNode root;
  root.catalogId = target;
  root.files = {Write("建目录/a.txt", 10, 60)};
  UploadDirNode bad, after;
  bad.localPath = Folder("建目录/坏");
  bad.files = {Write("建目录/坏/里面.txt", 10, 61)};
  after.localPath = Folder("建目录/后");
  after.files = {Write("建目录/后/里面.txt", 10, 62)};
  root.subdirs = {bad, after};
  m_sdk.failMkdir = [](const MkdirRequest& r) { return r.catalogName == "坏" ? 9405 : 0; };
  Outcome outcome;
  ASSERT_EQ(Start(root, outcome), 0);
  ASSERT_TRUE(outcome.Wait());
  EXPECT_EQ(outcome.result, 1);
  ASSERT_NE(outcome.Find("坏"), nullptr);
  EXPECT_EQ(outcome.Find("坏")->resultCode, 9405);
  EXPECT_EQ(outcome.Find("里面.txt"), nullptr) << "no file after the failure was tried";
  const auto requested = m_sdk.Copy(m_sdk.requested);
  EXPECT_EQ(requested, std::vector<std::string>{"a.txt"});
  std::lock_guard l(m_host.lock);
  ASSERT_EQ(m_host.reports.size(), 1u);
  EXPECT_NE(m_host.reports[0].find("上传失败！错误9405！"), std::string::npos) << m_host.reports[0];
}

TEST_F(UploadLive, SignOutEndsTheRunWithoutReportOrCallback) {
  const std::string target = NewCatalog("退出");
  UploadDirNode root;
  root.catalogId = target;
  root.files = {Write("退出/大.bin", 24 * 1048576, 70), Write("退出/后.txt", 10, 71)};
  Outcome outcome;
  HeadlessProgressWindow* window = StartMoving(root, outcome, 2 * 1048576);
  ASSERT_NE(window, nullptr);
  vd::SignedOutFlag() = 1;
  // The files are given back and the slot freed when the worker ends.
  const auto until = Clock::now() + std::chrono::seconds(60);
  while ((CVDUploadChecker::GetInstance().Holds(root.files[0]) || RunningUploads().load() != 0) &&
         Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(CVDUploadChecker::GetInstance().Holds(root.files[0]));
  EXPECT_EQ(RunningUploads().load(), 0);
  EXPECT_FALSE(outcome.Wait(0)) << "no callback after a sign-out";
  const auto requested = m_sdk.Copy(m_sdk.requested);
  EXPECT_EQ(std::count(requested.begin(), requested.end(), "后.txt"), 0);
  std::lock_guard l(m_host.lock);
  EXPECT_TRUE(m_host.reports.empty());
}

TEST_F(UploadLive, OneFileWithoutDialogOrThreadForTheSendBack) {
  const std::string target = NewCatalog("送回");
  struct Case {
    const char* name;
    std::string path;
    int wantCode;
    std::uint32_t wantStatus;
  } cases[] = {
      {"a changed file goes up", Write("送回/文档.txt", 300000, 80), 0, kTransferStatusDone},
      {"the same bytes again: the service has them", Write("送回/副本.txt", 300000, 80), 0, kTransferStatusDone},
      {"a file that is gone", (m_dir.path() / "src" / "没有.txt").string(), -1, 0},
  };
  const std::size_t sentBefore = m_sdk.Copy(m_sdk.sent).size();
  for (const auto& c : cases) {
    int code = -99;
    std::uint32_t status = 0xFFFF;
    CVDUploadFileTask::UploadFileTaskOne(target, c.path, &code, &status);
    EXPECT_EQ(code, c.wantCode) << c.name;
    EXPECT_EQ(status, c.wantStatus) << c.name;
  }
  EXPECT_EQ(m_sdk.Copy(m_sdk.sent).size() - sentBefore, 1u) << "only the first needed its bytes sent";
  const ListResult list = List(target);
  ASSERT_NE(FindContent(list, "文档.txt"), nullptr);
  EXPECT_EQ(FindContent(list, "文档.txt")->digest, FileMd5(cases[0].path));
  ASSERT_NE(FindContent(list, "副本.txt"), nullptr);
  EXPECT_EQ(list.contents.size(), 2u);
}

// ---------------------------------------------------------------- downloads

struct Fetched : Ended<DownloadResult> {
  DownloadDone Callback() {
    return [this](const std::vector<DownloadResult>& r) { Set(0, r); };
  }
};

class DownloadLive : public UploadLive {
 protected:
  // Uploads `root` through the engine; false when anything failed.
  bool Put(const UploadDirNode& root) {
    Outcome outcome;
    return Start(root, outcome) == 0 && outcome.Wait() && outcome.result == 0;
  }
  std::string Local(const std::string& relative) {
    const auto path = m_dir.path() / "dst" / relative;
    std::filesystem::create_directories(path);
    return path.string() + "/";
  }
  int Download(std::vector<CloudEntry> items, const std::string& target, Fetched& fetched, int mode = 0) {
    auto* task = new CVDDownloadFileTask();
    return task->StartDownloadServer(std::move(items), nullptr, mode, m_cut, target, "", fetched.Callback());
  }
  bool m_cut = false;  // the downloads started are cuts to the local disk
  CloudEntry Entry(const std::string& catalog, const std::string& name) {
    const ListResult list = List(catalog);
    for (const auto& c : list.catalogs)
      if (c.catalogName == name) return {true, c.catalogID, c.catalogName, 0, c.catalogID, catalog};
    for (const auto& c : list.contents)
      if (c.contentName == name)
        return {false, c.contentID, c.contentName, std::stoull(c.contentSize), c.contentID, catalog};
    ADD_FAILURE() << name << " is not in " << catalog;
    return {};
  }
  // One file of `size` in a new catalog `name`: the catalog's ID and the local source.
  bool PutOne(const std::string& name, const std::string& file, std::uint64_t size, unsigned seed, std::string* catalog,
              std::string* local) {
    *catalog = NewCatalog(name);
    UploadDirNode root;
    root.catalogId = *catalog;
    root.files = {*local = Write(name + "/" + file, size, seed)};
    return Put(root);
  }
  // Puts one file into a new catalog `name`, starts its download into
  // `target` and returns the window once `moved` bytes have arrived.
  HeadlessProgressWindow* DownloadMoving(const std::string& name, std::uint64_t size, unsigned seed,
                                         const std::string& target, Fetched& fetched, std::uint64_t moved,
                                         std::string* catalog, std::string* source = nullptr) {
    std::string local;
    if (!PutOne(name, "大.bin", size, seed, catalog, &local)) return nullptr;
    if (source) *source = local;
    const std::size_t before = m_host.windows.size();
    if (Download({Entry(*catalog, "大.bin")}, target, fetched) != 0) return nullptr;
    HeadlessProgressWindow* window = m_host.WaitWindow(before);
    return window && WaitTransferred(window, moved) ? window : nullptr;
  }
  // Every file below `folder`, relative path -> MD5.
  static std::map<std::string, std::string> Tree(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
      if (e.is_regular_file())
        files[std::filesystem::relative(e.path(), folder).string()] = FileMd5(e.path().string());
    }
    return files;
  }
};

TEST_F(DownloadLive, ACatalogTreeComesBackByteForByte) {
  const std::string top = NewCatalog("下载源");
  UploadDirNode root;
  root.catalogId = top;
  UploadDirNode tree;
  tree.localPath = Folder("树");
  tree.files = {Write("树/说明.txt", 5000, 2), Write("树/空.txt", 0), Write("树/大文件.bin", 5 * 1048576 + 3, 3)};
  tree.subdirs = {NestedFolder()};
  root.subdirs = {tree};
  ASSERT_TRUE(Put(root));

  const std::string target = Local("回来");
  Fetched fetched;
  ASSERT_EQ(Download({Entry(top, "树")}, target, fetched), 0);
  ASSERT_TRUE(fetched.Wait());
  ASSERT_EQ(fetched.results.size(), 5u);
  for (const auto& r : fetched.results) EXPECT_EQ(r.resultCode, 0) << r.name;
  EXPECT_EQ(Tree(target + "树"), Tree((m_dir.path() / "src" / "树").string()));
  std::lock_guard l(m_host.lock);
  EXPECT_TRUE(m_host.reports.empty());
  EXPECT_TRUE(m_host.windows.back()->gone()) << "the dialog closed itself";
}

TEST_F(DownloadLive, HostileNamesNeverReachOutsideTheTargetFolder) {
  std::string top, local;
  ASSERT_TRUE(PutOne("名字", "内容.bin", 3000, 6, &top, &local));
  const CloudEntry content = Entry(top, "内容.bin");
  // The listing as a hostile service could give it, all naming one real content.
  const std::string fake = "fake-catalog";
  std::vector<CloudEntry> hostile;
  const std::vector<std::string> names = {"..", "CON", "a:b", "trailing.", std::string(300, 'x'), "..\\逃出.txt",
                                          "../up.txt", "ok.txt"};
  for (const std::string& name : names)
    hostile.push_back({false, content.id, name, content.size, content.fullId, fake});
  {
    std::lock_guard l(m_host.lock);
    m_host.listings[fake] = hostile;
  }
  const std::string parent = Local("外面");
  const std::string target = Local("外面/里面");
  const auto before = Tree(parent);
  Fetched fetched;
  ASSERT_EQ(Download({{true, fake, "夹", 0, fake, top}}, target, fetched), 0);
  ASSERT_TRUE(fetched.Wait());
  // Everything that was written lies below the target's folder.
  for (const auto& [path, md5] : Tree(parent)) {
    if (before.count(path)) continue;
    EXPECT_EQ(path.rfind("里面/夹/", 0), 0u) << path;
    EXPECT_EQ(md5, FileMd5(local)) << path;
  }
  int fetchedOk = 0, refused = 0;
  for (const auto& r : fetched.results) (r.resultCode == 0 ? fetchedOk : refused) += 1;
  EXPECT_EQ(fetchedOk + refused, static_cast<int>(hostile.size())) << "each name is a file or a recorded failure";
  EXPECT_EQ(refused, 1) << "only \"..\" cannot be a name";
  EXPECT_EQ(fetchedOk, 7) << "the others get safe names, the long one shortened with room for its suffixes";
  EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "dst" / "外面" / "up.txt"));
  EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "dst" / "逃出.txt"));
  std::lock_guard l(m_host.lock);
  ASSERT_EQ(m_host.reports.size(), 1u) << "the refused names are reported";
  EXPECT_NE(m_host.reports[0].find("下载结果|共有"), std::string::npos) << m_host.reports[0];
}

TEST_F(DownloadLive, AnExistingNameGetsTheNextFreeNumber) {
  const std::string top = NewCatalog("同名");
  UploadDirNode root;
  root.catalogId = top;
  root.files = {Write("同名/a.txt", 100, 7), Write("同名/README", 100, 8)};
  ASSERT_TRUE(Put(root));
  const std::string target = Local("同名下载");
  for (int round = 0; round < 3; ++round) {
    Fetched fetched;
    ASSERT_EQ(Download({Entry(top, "a.txt"), Entry(top, "README")}, target, fetched), 0);
    ASSERT_TRUE(fetched.Wait());
  }
  const auto files = Tree(target);
  for (const char* name : {"a.txt", "a (1).txt", "a (2).txt", "README", "README (1)", "README (2)"})
    EXPECT_EQ(files.count(name), 1u) << name;
  EXPECT_EQ(files.size(), 6u) << "no partial file left";
  EXPECT_EQ(SwitchToNoSameName(target + "a.txt"), target + "a (3).txt");
  EXPECT_EQ(SwitchToNoSameName(target + "new.txt"), target + "new.txt");
}

TEST_F(DownloadLive, TheServiceKilledMidDownloadIsResumedAndTheNameComesOnlyAtTheEnd) {
  const std::string target = Local("续传下载");
  SetUploadTimings({10, 300});
  Fetched fetched;
  std::string top, source;
  ASSERT_NE(DownloadMoving("下载续传", 24 * 1048576, 10, target, fetched, 4 * 1048576, &top, &source), nullptr);
  m_server->Kill();
  EXPECT_FALSE(std::filesystem::exists(target + "大.bin")) << "a partial file under its final name";
  EXPECT_TRUE(std::filesystem::exists(target + "大.bin.tmp"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(m_server->Start(m_server->port()));
  const auto until = Clock::now() + std::chrono::seconds(120);
  while (!fetched.Wait(0) && Clock::now() < until) {
    EXPECT_FALSE(std::filesystem::exists(target + "大.bin")) << "a partial file under its final name";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(fetched.Wait());
  ASSERT_EQ(fetched.results.size(), 1u);
  EXPECT_EQ(fetched.results[0].resultCode, 0);
  EXPECT_EQ(FileMd5(target + "大.bin"), FileMd5(source));
  EXPECT_FALSE(std::filesystem::exists(target + "大.bin.tmp"));
}

TEST_F(DownloadLive, CancelLeavesNoFileUnderItsFinalNameAndNoNetworkMeansNoTask) {
  const std::string target = Local("取消下载");
  Fetched fetched;
  std::string top;
  HeadlessProgressWindow* window = DownloadMoving("取消下载", 48 * 1048576, 11, target, fetched, 2 * 1048576, &top);
  ASSERT_NE(window, nullptr);
  window->ClickCancel();
  ASSERT_TRUE(fetched.Wait());
  ASSERT_EQ(fetched.results.size(), 1u);
  EXPECT_EQ(fetched.results[0].resultCode, kDownloadCancelled);
  EXPECT_FALSE(std::filesystem::exists(target + "大.bin"));

  m_host.network = false;
  Fetched none;
  const std::size_t windows = m_host.windows.size();
  ASSERT_EQ(Download({Entry(top, "大.bin")}, target, none), 0);
  const auto until = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < until) {
    {
      std::lock_guard l(m_host.lock);
      if (!m_host.messages.empty()) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::lock_guard l(m_host.lock);
  EXPECT_EQ(m_host.messages, std::vector<std::string>{"网络不可用，请稍后再试！"});
  EXPECT_EQ(m_host.windows.size(), windows) << "no dialog without a network";
}

TEST_F(DownloadLive, ACutToTheLocalDiskRemovesTheCloudItemsOnlyAfterEveryByteArrived) {
  const std::string top = NewCatalog("剪切源");
  UploadDirNode root;
  root.catalogId = top;
  root.subdirs = {NestedFolder()};
  root.files = {Write("剪切.txt", 3000, 13), Write("留下.txt", 10, 14)};
  ASSERT_TRUE(Put(root));
  m_cut = true;
  const std::string target = Local("剪到");
  Fetched fetched;
  ASSERT_EQ(Download({Entry(top, "子目录"), Entry(top, "剪切.txt")}, target, fetched), 0);
  ASSERT_TRUE(fetched.Wait());
  EXPECT_EQ(Tree(target + "子目录"), Tree((m_dir.path() / "src" / "树" / "子目录").string()));
  EXPECT_EQ(FileMd5(target + "剪切.txt"), FileMd5(root.files[0]));
  const ListResult after = List(top);
  EXPECT_EQ(FindCatalog(after, "子目录"), nullptr);
  EXPECT_EQ(FindContent(after, "剪切.txt"), nullptr);
  EXPECT_NE(FindContent(after, "留下.txt"), nullptr) << "only what was cut goes";
  {
    std::lock_guard l(m_host.lock);
    EXPECT_EQ(m_host.cutParents, std::vector<std::string>{top});
  }

  // Cancelled halfway: the file stays in the cloud, and nothing local carries its name.
  const std::string partial = Local("剪一半");
  Fetched cancelled;
  std::string big;
  HeadlessProgressWindow* window = DownloadMoving("剪切大", 48 * 1048576, 15, partial, cancelled, 2 * 1048576, &big);
  ASSERT_NE(window, nullptr);
  window->ClickCancel();
  ASSERT_TRUE(cancelled.Wait());
  EXPECT_NE(FindContent(List(big), "大.bin"), nullptr);
  EXPECT_FALSE(std::filesystem::exists(partial + "大.bin"));
  std::lock_guard l(m_host.lock);
  EXPECT_EQ(m_host.cutParents.size(), 1u);
}

TEST_F(DownloadLive, ADragOutLandsWhereTheCopyHookSaysThePlaceholderWasDropped) {
  std::string top, local;
  ASSERT_TRUE(PutOne("拖出", "拖出.txt", 4000, 12, &top, &local));
  auto& handOver = DragOutHandOver::Instance();
  handOver.Prepare(kDefaultPlaceholderMarker, platform::NamedEvent::Create(u"", false, false));
  Fetched fetched;
  ASSERT_EQ(Download({Entry(top, "拖出.txt")}, "", fetched), 0);
  // The shell copies the placeholder folder into the user's folder and asks the hook first.
  const std::string dropTo = Local("拖到");
  const std::u16string source = u"C:\\temp\\" + std::u16string(kDefaultPlaceholderMarker);
  EXPECT_EQ(handOver.CopyCallback(kFolderCopy, source.c_str(), platform::Utf8ToUtf16(dropTo + "$$PandrelDownload").c_str()),
            kCopyHookNo);
  ASSERT_TRUE(fetched.Wait());
  ASSERT_EQ(fetched.results.size(), 1u);
  EXPECT_EQ(fetched.results[0].resultCode, 0);
  EXPECT_EQ(FileMd5(dropTo + "拖出.txt"), FileMd5(local));
  EXPECT_FALSE(std::filesystem::exists(dropTo + "$$PandrelDownload")) << "the placeholder itself is never copied";
}

TEST_F(DownloadLive, AnOpenedFileIsSentBackWhenChangedAndOnlyThen) {
  std::string top, local;
  ASSERT_TRUE(PutOne("打开", "文档.txt", 3000, 13, &top, &local));
  const std::string original = FileMd5(local);
  const std::string target = Local("打开的文件");
  const CloudEntry document = Entry(top, "文档.txt");

  // Opened and closed unchanged: nothing goes back, the copy stays.
  {
    Fetched fetched;
    ASSERT_EQ(Download({document}, target, fetched, CVDDownloadFileTask::kOpen), 0);
    ASSERT_TRUE(fetched.Wait());
    EXPECT_EQ(FileMd5(target + "文档.txt"), original);
    const ListResult list = List(top);
    ASSERT_EQ(list.contents.size(), 1u);
    EXPECT_EQ(list.contents[0].digest, original);
  }
  // Edited: the new bytes go back into the same catalog and the copy goes.
  std::string edited;
  {
    std::lock_guard l(m_host.lock);
    m_host.editor = [&edited](const std::string& path) {
      std::ofstream(path, std::ios::binary | std::ios::app) << "一行新的内容\r\n";
      edited = FileMd5(path);
    };
  }
  Fetched fetched;
  ASSERT_EQ(Download({document}, target, fetched, CVDDownloadFileTask::kOpen), 0);
  ASSERT_TRUE(fetched.Wait());
  ASSERT_FALSE(edited.empty());
  EXPECT_NE(edited, original);
  const ListResult list = List(top);
  ASSERT_EQ(list.contents.size(), 1u) << "sent back over the same file";
  EXPECT_EQ(list.contents[0].digest, edited);
  EXPECT_FALSE(std::filesystem::exists(target + "文档.txt")) << "the local copy goes after a send-back";
  std::lock_guard l(m_host.lock);
  EXPECT_EQ(m_host.opened.size(), 2u);
  EXPECT_TRUE(m_host.questions.empty());
}

TEST_F(DownloadLive, TheSameFileCannotBeOpenedTwiceAtOnce) {
  std::string top, local;
  ASSERT_TRUE(PutOne("两次", "表格.txt", 1000, 14, &top, &local));
  const CloudEntry sheet = Entry(top, "表格.txt");
  std::promise<void> close;
  std::shared_future<void> closed = close.get_future().share();
  std::atomic<bool> open{false};
  {
    std::lock_guard l(m_host.lock);
    m_host.editor = [&](const std::string&) {
      open = true;
      closed.wait_for(std::chrono::seconds(60));
    };
  }
  Fetched first;
  ASSERT_EQ(Download({sheet}, Local("两次"), first, CVDDownloadFileTask::kOpen), 0);
  for (int i = 0; i < 3000 && !open; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(open.load());
  Fetched second;
  ASSERT_EQ(Download({sheet}, Local("两次"), second, CVDDownloadFileTask::kOpen), 0);
  const auto until = Clock::now() + std::chrono::seconds(30);
  bool refused = false;
  while (!refused && Clock::now() < until) {
    {
      std::lock_guard l(m_host.lock);
      for (const auto& m : m_host.messages) refused |= m.find("正在处理或已打开, 请稍后再试") != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(refused);
  close.set_value();
  ASSERT_TRUE(first.Wait());
  // Once the first is closed the file opens again.
  Fetched third;
  {
    std::lock_guard l(m_host.lock);
    m_host.editor = nullptr;
  }
  ASSERT_EQ(Download({sheet}, Local("两次"), third, CVDDownloadFileTask::kOpen), 0);
  EXPECT_TRUE(third.Wait());
}


// Dropped local files go through the upload rules into the engine: the
// service ends up with exactly what the rules allow.
TEST_F(UploadLive, ADroppedTreeUploadsExactlyWhatTheRulesAllow) {
  const std::string top = NewCatalog("拖入");
  Write("拖入源/文档/a.txt", 3000, 1);
  Write("拖入源/文档/.secret", 10, 2);
  Write("拖入源/文档/~lock.tmp", 10, 3);
  Write("拖入源/文档/.cache/x.bin", 10, 4);
  Write("拖入源/文档/内/b.bin", 70000, 5);
  Write("拖入源/文档/内/空.txt", 0);
  const std::string lone = Write("拖入源/单个.txt", 40, 6);
  const DropCollection drop =
      CollectDrop({platform::AnsiToWide(Folder("拖入源/文档")), platform::AnsiToWide(lone)}, {}, u".tmp");
  ASSERT_FALSE(DropRefusal(drop, false, kDropLocalFiles).has_value());
  UploadDirNode root = drop.root;
  root.catalogId = top;
  Outcome outcome;
  auto* task = new CVDUploadFileTask();
  task->mode = kDropLocalFiles;
  task->title = platform::AnsiToWide(drop.title);
  ASSERT_EQ(task->StartUploadServer(root, "alice", nullptr, drop.emptyCount, drop.emptyFiles, drop.sameNameCount,
                                    drop.sameNameFolders, drop.itemCount, drop.byteTotal, u"拖入", nullptr,
                                    outcome.Callback()),
            0);
  ASSERT_TRUE(outcome.Wait());
  EXPECT_EQ(outcome.result, 0);
  const ListResult atTop = List(top);
  ASSERT_NE(FindContent(atTop, "单个.txt"), nullptr);
  const CatalogInfo* docs = FindCatalog(atTop, "文档");
  ASSERT_NE(docs, nullptr);
  const ListResult inDocs = List(docs->catalogID);
  std::vector<std::string> names;
  for (const auto& c : inDocs.contents) names.push_back(c.contentName);
  for (const auto& c : inDocs.catalogs) names.push_back(c.catalogName + "/");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "内/"})) << "no dot names, no filtered suffix";
  const CatalogInfo* inner = FindCatalog(inDocs, "内");
  ASSERT_NE(inner, nullptr);
  const ListResult innerList = List(inner->catalogID);
  ASSERT_EQ(innerList.contents.size(), 2u);
  const ContentInfo* b = FindContent(innerList, "b.bin");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->contentSize, "70000");
  ASSERT_NE(FindContent(innerList, "空.txt"), nullptr) << "empty files are uploaded";
}

// The process around a copy or move: messages, refreshes and the clipboard
// are recorded; the cache's view of a folder is the service's listing.
class CopyMoveHost final : public ICopyMoveHost {
 public:
  explicit CopyMoveHost(ICloudSdk* sdk) : m_sdk(sdk) {}
  ICloudSdk* Sdk() override { return m_sdk; }
  std::string Account() override { return "alice"; }
  std::string ResultMessage(int code) override { return "错误" + std::to_string(code); }
  void ShowMessage(const std::u16string& text, bool) override { messages.push_back(U8(text)); }
  bool IsSyncFolder(vd::PcPidl, const std::string& id) override { return syncFolders.count(id) > 0; }
  bool HasSameDir(vd::PcPidl target, const std::u16string& name) override {
    ListRequest request;
    request.account = "alice";
    request.catalogID = FolderCatalogId(target);
    ListResult result;
    if (m_sdk->SyncLs(request, &result) != kSdkOk) return false;
    for (const auto& c : result.catalogs)
      if (c.catalogName == U8(name)) return true;
    return false;
  }
  void EmptyClipboard() override { ++clipboardEmptied; }
  void Refresh(vd::PcPidl folder) override { refreshed.push_back(FolderCatalogId(folder)); }

  std::vector<std::string> messages, refreshed;
  std::set<std::string> syncFolders;
  int clipboardEmptied = 0;

 private:
  ICloudSdk* m_sdk;
};

class CopyMoveLive : public UploadLive {
 protected:
  void SetUp() override {
    UploadLive::SetUp();
    m_a = NewCatalog("甲");
    m_b = NewCatalog("乙");
    UploadDirNode root;
    root.catalogId = m_a;
    UploadDirNode sub;
    sub.localPath = Folder("甲源/子");
    sub.files = {Write("甲源/子/深.txt", 500, 7)};
    root.subdirs = {sub};
    root.files = {Write("甲源/x.txt", 1234, 8), Write("甲源/y.txt", 99, 9)};
    Outcome outcome;
    ASSERT_EQ(Start(root, outcome), 0);
    ASSERT_TRUE(outcome.Wait());
    ASSERT_EQ(outcome.result, 0);
  }
  vd::UniquePidl Catalog(const std::string& id, const std::u16string& name) {
    return m_mgr.Own(m_mgr.Create(vd::kKindCatalog, name, platform::Utf8ToUtf16(id), 0, 0, 0, {}, 0));
  }
  // The list of an item of `catalog` (a top-level catalog of the root), as a view of it would name it.
  vd::UniquePidl Item(const std::string& catalog, const std::u16string& catalogName, const std::string& name) {
    const ListResult list = List(catalog);
    vd::UniquePidl folder = Catalog(catalog, catalogName);
    for (const auto& c : list.catalogs)
      if (c.catalogName == name) {
        vd::UniquePidl e = Catalog(c.catalogID, platform::Utf8ToUtf16(name));
        return m_mgr.Own(m_mgr.Concatenate(folder.get(), e.get()));
      }
    for (const auto& c : list.contents)
      if (c.contentName == name) {
        vd::UniquePidl e = m_mgr.Own(m_mgr.Create(vd::kKindContent, platform::Utf8ToUtf16(name),
                                                  platform::Utf8ToUtf16(c.contentID), 0, 1, 0, {}, 0));
        return m_mgr.Own(m_mgr.Concatenate(folder.get(), e.get()));
      }
    ADD_FAILURE() << name << " not in " << catalog;
    return {};
  }
  std::vector<std::string> Names(const std::string& catalog) {
    const ListResult list = List(catalog);
    std::vector<std::string> names;
    for (const auto& c : list.catalogs) names.push_back(c.catalogName + "/");
    for (const auto& c : list.contents) names.push_back(c.contentName);
    std::sort(names.begin(), names.end());
    return names;
  }
  vd::HResult Drop(std::initializer_list<vd::PcPidl> items, vd::PcPidl target, bool cut, bool drag) {
    const std::vector<vd::PcPidl> lists(items);
    const auto block = BuildNseDragDrop(lists);
    NseDrop drop;
    drop.block = block.data();
    drop.size = block.size();
    drop.target = target;
    drop.mode = drag ? kDropCloudItems : kDropPaste;
    drop.cutPending = cut;
    drop.droppedByDrag = drag;
    return DoDropNseDragDrop(m_cm, drop);
  }

  vd::VDPidlMgr m_mgr;
  CopyMoveHost m_cm{&m_sdk};
  std::string m_a, m_b;
};

TEST_F(CopyMoveLive, CopyKeepsTheSourceMoveTakesItAndBothFoldersAreRefreshed) {
  const auto b = Catalog(m_b, u"乙");
  const auto x = Item(m_a, u"甲", "x.txt"), sub = Item(m_a, u"甲", "子");
  ASSERT_EQ(Drop({x.get(), sub.get()}, b.get(), false, false), vd::kSOk);
  EXPECT_TRUE(m_cm.messages.empty()) << m_cm.messages.front();
  EXPECT_EQ(Names(m_b), (std::vector<std::string>{"x.txt", "子/"}));
  EXPECT_EQ(Names(m_a), (std::vector<std::string>{"x.txt", "y.txt", "子/"}));
  EXPECT_EQ(m_cm.refreshed, (std::vector<std::string>{m_a, m_b}));
  EXPECT_EQ(m_cm.clipboardEmptied, 0);

  // A cut and paste moves, and the clipboard is emptied afterwards.
  const auto y = Item(m_a, u"甲", "y.txt");
  ASSERT_EQ(Drop({y.get()}, b.get(), true, false), vd::kSOk);
  EXPECT_EQ(Names(m_a), (std::vector<std::string>{"x.txt", "子/"}));
  EXPECT_EQ(Names(m_b), (std::vector<std::string>{"x.txt", "y.txt", "子/"}));
  EXPECT_EQ(m_cm.clipboardEmptied, 1);
  // A drag moves too, and leaves the clipboard alone.
  const auto deep = Item(m_a, u"甲", "子");
  const auto bSub = Item(m_b, u"乙", "子");
  ASSERT_EQ(Drop({Item(m_a, u"甲", "x.txt").get()}, bSub.get(), false, true), vd::kSOk);
  EXPECT_EQ(Names(m_a), (std::vector<std::string>{"子/"}));
  EXPECT_EQ(m_cm.clipboardEmptied, 1);
  EXPECT_TRUE(m_cm.messages.empty());
}

TEST_F(CopyMoveLive, RefusalsLeaveTheServiceUntouched) {
  const auto a = Catalog(m_a, u"甲"), b = Catalog(m_b, u"乙");
  const auto x = Item(m_a, u"甲", "x.txt"), sub = Item(m_a, u"甲", "子");
  const auto node = m_mgr.Own(m_mgr.CreateNode(vd::kNodePhonePictures, u"手机图片"));
  const auto before = Names(m_a);
  struct Case {
    const char* what;
    std::vector<vd::PcPidl> items;
    vd::PcPidl target;
    bool cut, drag;
    std::vector<std::string> messages;
  } cases[] = {
      {"pasted into its own folder", {x.get()}, a.get(), true, false, {"同一个目录无法复制、剪切、粘贴！"}},
      {"dragged into its own folder", {x.get()}, a.get(), false, true, {}},
      {"a catalog into itself", {sub.get()}, sub.get(), false, false, {"同一个目录无法复制、剪切、粘贴！"}},
      {"a fixed node", {node.get()}, b.get(), false, false, {"此文件夹为系统文件夹，不允许做移动/复制操作。"}},
      {"a fixed node, dragged", {node.get()}, b.get(), false, true, {}},
      {"a sync folder moved, nothing else", {sub.get()}, b.get(), true, false,
       {"有不能移动的文件夹(可能是同步文件夹), 将不会移动！"}},
  };
  m_cm.syncFolders.insert(platform::WideToAnsi(vd::VDPidlMgr::GetIdString(vd::VDPidlMgr::GetLastItem(sub.get()))));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_cm.messages.clear();
    const auto block = BuildNseDragDrop(c.items);
    NseDrop drop{block.data(), block.size(), c.target, c.drag ? kDropCloudItems : kDropPaste, c.cut, c.drag};
    EXPECT_EQ(DoDropNseDragDrop(m_cm, drop), vd::kEFail);
    EXPECT_EQ(m_cm.messages, c.messages);
  }
  EXPECT_EQ(Names(m_a), before);
  EXPECT_TRUE(Names(m_b).empty());
  EXPECT_TRUE(m_cm.refreshed.empty());

  // A block cut short is refused without a word.
  const vd::PcPidl one[] = {x.get()};
  auto block = BuildNseDragDrop(one);
  NseDrop cut{block.data(), block.size() - 5, b.get(), kDropPaste, false, false};
  m_cm.messages.clear();
  EXPECT_EQ(DoDropNseDragDrop(m_cm, cut), vd::kEFail);
  EXPECT_TRUE(m_cm.messages.empty());

  // A target the service does not know: the failure is told, in the result table's words.
  m_cm.syncFolders.clear();
  const auto ghost = Catalog("00019700101999999999", u"幽灵");
  ASSERT_EQ(Drop({x.get()}, ghost.get(), false, false), vd::kSOk);
  ASSERT_EQ(m_cm.messages.size(), 1u);
  EXPECT_EQ(m_cm.messages[0].rfind("文件复制/移动失败！\n错误", 0), 0u) << m_cm.messages[0];
  // The same name already there: the catalog copy is refused before any request.
  m_cm.messages.clear();
  ASSERT_EQ(Drop({sub.get()}, b.get(), false, false), vd::kSOk);
  EXPECT_EQ(Drop({sub.get()}, b.get(), false, false), vd::kEFail);
  EXPECT_EQ(m_cm.messages, std::vector<std::string>{"Veyra已经有同名的文件夹, 请重命名后再试。"});
}

TEST(CopyMoveText, FailureTextsByCode) {
  const std::u16string folders = platform::Utf8ToUtf16("所有的文件夹复制成功，但所有的文件复制失败！\r\n");
  struct Case {
    int code;
    std::u16string prefix;
    std::size_t catalogs, contents;
    const char* text;
  } cases[] = {
      {9501, u"", 1, 0, "Veyra已经有同名的文件夹, 请重命名后再试。"},
      {200019501, u"", 1, 0, "Veyra已经有同名的文件夹, 请重命名后再试。"},
      {9405, u"", 1, 0, "Veyra已经有同名的文件夹, 请重命名后再试。"},
      {300009465, u"", 1, 0, "文件复制/移动失败,\r\n移动目录层数超过目标目录支持最大层数"},
      {200000401, u"", 1, 0, "要移动的目录为同步目录，不能进行移动操作！"},
      {-10, folders, 1, 1, "所有的文件夹复制成功，但所有的文件复制失败！\r\n网络不可用，请稍后再试！"},
      {200000504, u"", 0, 3, "超过系统限制，请减一点再试试"},
      {200000411, u"", 0, 3, "超过系统限制，请减一点再试试"},
      {200000650, u"", 0, 3, "目录层级超过系统限制"},
      {200000400, u"", 200, 200, "文件复制/移动失败!\n系统异常,请稍后重试"},
      {200000400, u"", 0, 201, "选取文件超过200个最大限制，请重新再试"},
      {204009477, u"", 0, 1, "文件复制/移动失败！\n错误204009477"},
      {204009477, folders, 1, 1, "所有的文件夹复制成功，但所有的文件复制失败！\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(U8(CopyMoveFailureText(c.code, c.prefix, c.catalogs, c.contents, "错误" + std::to_string(c.code))),
              c.text)
        << c.code;
  }
}
}  // namespace
}  // namespace vdtransfer
