// The transfer dialogs as real windows under Wine, and the upload engine end
// to end through CorbelSdk64.dll against the native service of the
// cloudserver fixture: the progress dialog's labels are read back from its
// controls while a tree uploads.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "held_upload_slots.h"
#include "cloud_sdk.h"
#include "login.h"
#include "md5.h"
#include "platform/text.h"
#include "service_account.h"
#include "task_progress_window.h"
#include "transfer_dialog_ids.h"
#include "upload_ret_dlg.h"
#include "download_task.h"
#include "upload_task.h"
#include "transfer_test_env.h"
#include "wine_test_support.h"

namespace vdtransfer {
namespace {

namespace fs = std::filesystem;


std::wstring ControlText(HWND dialog, int control) {
  wchar_t buffer[512] = {};
  ::GetDlgItemTextW(dialog, control, buffer, 512);
  return buffer;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[512] = {};
  ::GetWindowTextW(window, buffer, 512);
  return buffer;
}

HWND MakeOwner() {
  return ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                           nullptr);
}

TransferObject* MakeTransfer(const fs::path& path, std::uint64_t size) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'z');
  return TransferObject::Create(path.string(), 0, true, kNormalAttributes);
}

int Height(HWND window) {
  RECT rect;
  ::GetWindowRect(window, &rect);
  return rect.bottom - rect.top;
}

TEST(ProgressWindow, ShowsItsTitleSizeLabelsAndBarAndEndsWhenDone) {
  vd::SignedOutFlag() = 0;
  auto dlg = std::make_shared<CCTaskProgressDlg>(CCTaskProgressDlg::kUpload, 0);
  dlg->SetTaskConut(1);
  dlg->SetUploadTarget(u"Veyra云盘\\资料");
  dlg->SetTotalCntAndSize(1, 40 * 1048576ull, u"");
  HWND window = ProgressWindow::Create(dlg, nullptr, true, 50);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(U8(WindowText(window)), "正在上传至云端......");
  RECT rect;
  ::GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, kProgressWidth);
  EXPECT_EQ(rect.bottom - rect.top, kProgressHeight);
  EXPECT_EQ(U8(ControlText(window, IDC_PROGRESS_TIME_LEFT)), "剩余时间: --分--秒");
  EXPECT_EQ(U8(ControlText(window, IDC_PROGRESS_SPEED)), "速度: 0KB/S");
  EXPECT_EQ(U8(ControlText(window, IDC_PROGRESS_TARGET)), "到 Veyra云盘\\资料");
  EXPECT_EQ(U8(ControlText(window, IDC_PROGRESS_HEADER)), "正在上传1个项目(共40.00MB)");

  const fs::path file = fs::temp_directory_path() / "progress-window.bin";
  TransferObject* t = MakeTransfer(file, 40 * 1048576ull);
  dlg->SetTaskName(u"C:\\上传\\大.bin");
  dlg->SetCurrentTransfer(t);
  dlg->SetTransferring(true);
  // A worker thread moves the bytes; the window's timer reads them.
  std::thread worker([t] {
    for (int i = 1; i <= 40; ++i) {
      t->SetTransferred(static_cast<std::uint64_t>(i) * 1048576 / 2);
      ::Sleep(5);
    }
  });
  EXPECT_TRUE(PumpUntil([&] { return U8(ControlText(window, IDC_PROGRESS_SPEED)) != "速度: 0KB/S"; }, 20000));
  worker.join();
  EXPECT_EQ(U8(ControlText(window, IDC_PROGRESS_ITEM)), "从 C:\\上传\\大.bin");
  const std::string speed = U8(ControlText(window, IDC_PROGRESS_SPEED));
  const std::string left = U8(ControlText(window, IDC_PROGRESS_TIME_LEFT));
  EXPECT_TRUE(std::regex_match(speed, std::regex("速度: [0-9]+\\.[0-9]{2}(MB|KB)/S"))) << speed;
  EXPECT_TRUE(std::regex_match(left, std::regex("剩余时间: ([0-9]+小时)?[0-9]+分[0-9]+秒"))) << left;
  PumpUntil([&] { return ::SendDlgItemMessageW(window, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0) == 50; }, 5000);
  EXPECT_EQ(::SendDlgItemMessageW(window, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0), 50);

  t->SetTransferred(40 * 1048576ull);
  t->SetStatus(kTransferStatusDone);
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(window); }, 10000)) << "the last item closes the window";
  EXPECT_TRUE(dlg->WaitEvent(0));
  EXPECT_EQ(dlg->GetTaskQuitState(), 0);
  dlg.reset();  // lets the transfer, and with it the file, go
  std::error_code ec;
  fs::remove(file, ec);
}

TEST(ProgressWindow, CancelAndALostOwnerBothStopTheTask) {
  {
    auto dlg = std::make_shared<CCTaskProgressDlg>(CCTaskProgressDlg::kUpload, 0);
    dlg->SetTaskConut(3);
    HWND window = ProgressWindow::Create(dlg, nullptr, true, 50);
    ASSERT_NE(window, nullptr);
    ::SendMessageW(::GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(window); }, 5000));
    EXPECT_EQ(dlg->GetTaskQuitState(), 1);
    EXPECT_EQ(dlg->GetTaskConut(), 0);
    EXPECT_TRUE(dlg->WaitEvent(0));
  }
  {
    HWND owner = MakeOwner();
    auto dlg = std::make_shared<CCTaskProgressDlg>(CCTaskProgressDlg::kDownload, CCTaskProgressDlg::kDownloadOpen);
    dlg->SetTaskConut(3);
    HWND window = ProgressWindow::Create(dlg, owner, true, 50);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(U8(WindowText(window)), "正在打开云端的文件");
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(window, IDC_PROGRESS_TARGET)));
    ::DestroyWindow(owner);  // the view it belonged to closed
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(dlg->GetTaskQuitState(), 1) << "no timer is left: the worker must not wait for one";
    EXPECT_TRUE(dlg->WaitEvent(0));
  }
  {
    auto dlg = std::make_shared<CCTaskProgressDlg>(CCTaskProgressDlg::kUpload, CCTaskProgressDlg::kSilent);
    dlg->SetTaskConut(1);
    HWND window = ProgressWindow::Create(dlg, nullptr, false, 50);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(::IsWindowVisible(window)) << "the silent variant stays hidden";
    dlg->Finish();
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(window); }, 5000)) << "a task that ended closes its window";
  }
}

TEST(UploadRetDlg, OpensFoldedAndUnfoldsOnDetails) {
  std::atomic<HWND> found{nullptr};
  std::mutex lock;
  std::vector<int> heights;
  std::string summary, details, hint;
  bool icon = false;
  // The dialog is modal on this thread; another thread looks at it and clicks.
  std::thread watcher([&] {
    HWND dialog = nullptr;
    for (int i = 0; i < 3000 && !dialog; ++i) {
      HWND w = ::FindWindowW(nullptr, L"上传结果");
      DWORD process = 0;
      if (w) ::GetWindowThreadProcessId(w, &process);
      if (w && process == ::GetCurrentProcessId()) dialog = w;
      else ::Sleep(10);
    }
    if (!dialog) return;
    // Found as soon as it exists: it is laid out once WM_INITDIALOG is done and it shows.
    for (int i = 0; i < 3000 && !::IsWindowVisible(dialog); ++i) ::Sleep(10);
    found = dialog;
    std::lock_guard l(lock);
    heights.push_back(Height(dialog));
    summary = U8(ControlText(dialog, IDC_RESULT_SUMMARY));
    details = U8(ControlText(dialog, IDC_RESULT_DETAILS));
    hint = U8(ControlText(dialog, IDC_RESULT_HINT));
    icon = ::SendDlgItemMessageW(dialog, IDC_RESULT_ICON, STM_GETICON, 0, 0) != 0;
    ::SendMessageW(::GetDlgItem(dialog, IDC_RESULT_DETAIL), BM_CLICK, 0, 0);
    heights.push_back(Height(dialog));
    ::SendMessageW(::GetDlgItem(dialog, IDC_RESULT_DETAIL), BM_CLICK, 0, 0);
    heights.push_back(Height(dialog));
    ::SendMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  });
  CUploadRetDlg dlg;
  dlg.SetTitle(u"上传结果");
  dlg.SetSmallShow(u"上传完成, 共有1个文件(文件夹)上传失败！");
  dlg.SetFullDail(u"上传失败详情:\r\n文件: C:\\a.txt\r\n");
  HWND owner = MakeOwner();
  const INT_PTR answer = dlg.DoModal(owner);
  watcher.join();
  ::DestroyWindow(owner);
  ASSERT_NE(found.load(), nullptr) << "the report never showed";
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(heights, (std::vector<int>{CUploadRetDlg::kCollapsedHeight, CUploadRetDlg::kExpandedHeight,
                                       CUploadRetDlg::kCollapsedHeight}));
  EXPECT_EQ(summary, "上传完成, 共有1个文件(文件夹)上传失败！");
  EXPECT_EQ(details, "上传失败详情:\r\n文件: C:\\a.txt\r\n");
  EXPECT_EQ(hint, "请点击\"详请\"查看原因。");
  EXPECT_TRUE(icon);
}

// ---------------------------------------------------------------- end to end

class UploadEndToEnd : public TransferEndToEnd {};

TEST_F(UploadEndToEnd, ATreeUploadsThroughTheDllWithTheDialogShowingItsProgress) {
  const fs::path folder = s_folder;
  const int port = s_port;
  const corbel::test::Account& alice = s_alice;
  const std::string target = NewCatalog("上传测试");
  ASSERT_FALSE(target.empty());

  // The service learns one file's bytes through an earlier upload.
  // Narrow literals would be read in the ANSI code page: every Chinese path part goes through u8path.
  const auto P = [](const char* utf8) { return fs::u8path(utf8); };
  const fs::path src = folder / P("源");
  WriteBytes(src / P("已有") / P("同样.bin"), 200000, 5);
  WriteBytes(src / P("同样.bin"), 200000, 5);
  {
    std::atomic<bool> done{false};
    UploadDirNode first;
    first.catalogId = corbel::test::Mkdir(port, alice.token, alice.root, "先传" + std::to_string(::GetCurrentProcessId()));
    first.files = {ToAnsi(src / P("已有") / P("同样.bin"))};
    auto* task = new CVDUploadFileTask();
    ASSERT_EQ(task->StartUploadServer(first, "alice", nullptr, 0, {}, 0, {}, 1, 200000, u"先传", nullptr,
                                      [&](int, const std::vector<UploadResultItem>&, vd::PcPidl) { done = true; }),
              0);
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 60000));
  }

  WriteBytes(src / P("说明.txt"), 9000, 1);
  WriteBytes(src / P("空.txt"), 0, 0);
  WriteBytes(src / P("大文件.bin"), 64ull * 1048576, 2);
  WriteBytes(src / P("子目录") / P("图片.jpg"), 50000, 3);
  WriteBytes(src / P("子目录") / P("更深") / P("深处.dat"), 70000, 4);
  UploadDirNode root;
  root.catalogId = target;
  for (const char* name : {"说明.txt", "空.txt", "同样.bin", "大文件.bin"})
    root.files.push_back(ToAnsi(src / fs::u8path(name)));
  UploadDirNode sub;
  sub.localPath = ToAnsi(src / fs::u8path("子目录"));
  sub.files = {ToAnsi(src / fs::u8path("子目录") / fs::u8path("图片.jpg"))};
  UploadDirNode deeper;
  deeper.localPath = ToAnsi(src / fs::u8path("子目录") / fs::u8path("更深"));
  deeper.files = {ToAnsi(src / fs::u8path("子目录") / fs::u8path("更深") / fs::u8path("深处.dat"))};
  sub.subdirs = {deeper};
  root.subdirs = {sub};

  std::atomic<bool> done{false};
  std::vector<UploadResultItem> results;
  int result = -99;
  host.progress = nullptr;
  auto* task = new CVDUploadFileTask();
  ASSERT_EQ(task->StartUploadServer(root, "alice", nullptr, 0, {}, 0, {}, 6, 64ull * 1048576 + 329000, u"上传测试",
                                    nullptr,
                                    [&](int r, const std::vector<UploadResultItem>& items, vd::PcPidl) {
                                      result = r;
                                      results = items;
                                      done = true;
                                    }),
            0);
  HWND dialog = host.progress.load();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(::IsWindowVisible(dialog));
  // The labels as the user sees them while the big file moves.
  std::set<std::string> speeds, timesLeft;
  ASSERT_TRUE(PumpUntil(
      [&] {
        if (::IsWindow(dialog)) {
          speeds.insert(U8(ControlText(dialog, IDC_PROGRESS_SPEED)));
          timesLeft.insert(U8(ControlText(dialog, IDC_PROGRESS_TIME_LEFT)));
        }
        return done.load();
      },
      300000));
  EXPECT_EQ(result, 0);
  ASSERT_EQ(results.size(), 8u);
  for (const auto& r : results) EXPECT_EQ(r.resultCode, 0) << r.localPath;
  bool movingSpeed = false, movingLeft = false;
  for (const auto& s : speeds) movingSpeed |= std::regex_match(s, std::regex("速度: [0-9]+\\.[0-9]{2}(MB|KB)/S"));
  for (const auto& s : timesLeft) movingLeft |= std::regex_match(s, std::regex("剩余时间: ([0-9]+小时)?[0-9]+分[0-9]+秒"));
  EXPECT_TRUE(movingSpeed) << "speed labels seen: " << speeds.size();
  EXPECT_TRUE(movingLeft) << "time-left labels seen: " << timesLeft.size();
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(dialog); }, 10000)) << "the dialog closed itself";

  // Byte for byte: the service's digests are MD5s of what it stored.
  const ListResult top = List(sdk, target);
  std::map<std::string, const ContentInfo*> byName;
  for (const auto& c : top.contents) byName[c.contentName] = &c;
  for (const char* name : {"说明.txt", "空.txt", "同样.bin", "大文件.bin"}) {
    const std::string ansi = platform::WideToAnsi(platform::Utf8ToUtf16(name));
    ASSERT_TRUE(byName.count(ansi)) << name;
    EXPECT_EQ(byName[ansi]->digest, FileMd5(src / fs::u8path(name))) << name;
  }
  ASSERT_EQ(top.catalogs.size(), 1u);
  const ListResult middle = List(sdk, top.catalogs[0].catalogID);
  ASSERT_EQ(middle.contents.size(), 1u);
  EXPECT_EQ(middle.contents[0].digest, FileMd5(src / fs::u8path("子目录") / fs::u8path("图片.jpg")));
  ASSERT_EQ(middle.catalogs.size(), 1u);
  const ListResult deepest = List(sdk, middle.catalogs[0].catalogID);
  ASSERT_EQ(deepest.contents.size(), 1u);
  EXPECT_EQ(deepest.contents[0].digest, FileMd5(src / fs::u8path("子目录") / fs::u8path("更深") / fs::u8path("深处.dat")));
}

TEST_F(UploadEndToEnd, CancelOnTheDialogDropsTheTransferAndLeavesNothingInTheCatalog) {
  const std::string target = NewCatalog("取消测试");
  ASSERT_FALSE(target.empty());
  const fs::path big = s_folder / fs::u8path("取消") / fs::u8path("大.bin");
  WriteBytes(big, 96ull * 1048576, 9);
  UploadDirNode root;
  root.catalogId = target;
  root.files = {ToAnsi(big)};
  std::atomic<bool> done{false};
  std::vector<UploadResultItem> results;
  auto* task = new CVDUploadFileTask();
  ASSERT_EQ(task->StartUploadServer(root, "alice", nullptr, 0, {}, 0, {}, 1, 96ull * 1048576, u"取消测试", nullptr,
                                    [&](int, const std::vector<UploadResultItem>& items, vd::PcPidl) {
                                      results = items;
                                      done = true;
                                    }),
            0);
  HWND dialog = host.progress.load();
  ASSERT_NE(dialog, nullptr);
  // Cancel once the bar has moved, as a user would.
  ASSERT_TRUE(PumpUntil(
      [&] { return ::SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0) >= 2 || done.load(); }, 60000));
  ASSERT_FALSE(done.load()) << "the upload ended before the cancel";
  ::SendMessageW(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_FALSE(::IsWindow(dialog)) << "the dialog closes on cancel";
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 60000));
  EXPECT_TRUE(results.empty()) << "a cancelled file has no record";
  const ListResult list = List(sdk, target);
  EXPECT_TRUE(list.contents.empty()) << list.contents.size() << " files left in the catalog";
}

TEST_F(UploadEndToEnd, FiveTasksWhileEverySlotIsTakenEachShowsItWaitsThenAllRun) {
  const std::string target = NewCatalog("五个任务");
  ASSERT_FALSE(target.empty());
  // The test holds every slot, so each task must wait however fast the service is.
  vdtransfer::testing::HeldUploadSlots held;
  ASSERT_TRUE(held.TakeAll()) << "no upload may run when the test starts";
  constexpr int kTasks = 5;
  std::atomic<int> finished{0};
  std::vector<HWND> dialogs;
  for (int i = 0; i < kTasks; ++i) {
    const fs::path file = s_folder / fs::u8path("五个") / (std::to_string(i) + ".bin");
    WriteBytes(file, 24ull * 1048576, 40 + i);
    UploadDirNode root;
    root.catalogId = target;
    root.files = {ToAnsi(file)};
    auto* task = new CVDUploadFileTask();
    ASSERT_EQ(task->StartUploadServer(root, "alice", nullptr, 0, {}, 0, {}, 1, 24ull * 1048576, u"五个任务", nullptr,
                                      [&](int r, const std::vector<UploadResultItem>&, vd::PcPidl) {
                                        EXPECT_EQ(r, 0);
                                        ++finished;
                                      }),
              0);
    dialogs.push_back(host.progress.load());
  }
  std::set<HWND> waited;
  const bool allWaited = PumpUntil(
      [&] {
        for (HWND d : dialogs) {
          if (::IsWindow(d) && U8(ControlText(d, IDC_PROGRESS_HEADER)) == "正在排队等待上传..." &&
              U8(ControlText(d, IDC_PROGRESS_ITEM)) == "正在排队等待上传...")
            waited.insert(d);
        }
        return waited.size() == static_cast<std::size_t>(kTasks);
      },
      60000);
  EXPECT_EQ(finished.load(), 0) << "nothing ran while every slot was taken";
  held.Release();
  ASSERT_TRUE(allWaited) << waited.size() << " of " << kTasks << " dialogs showed that they wait";
  int peak = 0;
  ASSERT_TRUE(PumpUntil(
      [&] {
        peak = std::max(peak, RunningUploads().load());
        return finished.load() == kTasks;
      },
      300000));
  EXPECT_LE(peak, kMaxRunningTransfers);
  EXPECT_EQ(List(sdk, target).contents.size(), static_cast<std::size_t>(kTasks));
}

TEST_F(UploadEndToEnd, ACatalogTreeDownloadsByteForByteAndNoFileStaysHidden) {
  const auto P = [](const char* utf8) { return fs::u8path(utf8); };
  const fs::path src = s_folder / P("下载源");
  WriteBytes(src / P("文档.txt"), 12000, 21);
  WriteBytes(src / P("空.txt"), 0, 0);
  WriteBytes(src / P("子目录") / P("图片.jpg"), 3 * 1048576 + 5, 22);
  const std::string top = NewCatalog("下载测试");
  ASSERT_FALSE(top.empty());
  UploadDirNode root;
  root.catalogId = top;
  UploadDirNode tree;
  tree.localPath = ToAnsi(src);
  tree.files = {ToAnsi(src / P("文档.txt")), ToAnsi(src / P("空.txt"))};
  UploadDirNode sub;
  sub.localPath = ToAnsi(src / P("子目录"));
  sub.files = {ToAnsi(src / P("子目录") / P("图片.jpg"))};
  tree.subdirs = {sub};
  root.subdirs = {tree};
  ASSERT_TRUE(UploadTree(root, 4, u"下载测试"));

  const ListResult listed = List(sdk, top);
  ASSERT_EQ(listed.catalogs.size(), 1u);
  const fs::path target = s_folder / P("下载到");
  fs::create_directories(target);
  std::atomic<bool> done{false};
  std::vector<DownloadResult> results;
  auto* down = new CVDDownloadFileTask();
  ASSERT_EQ(down->StartDownloadServer({{true, listed.catalogs[0].catalogID, listed.catalogs[0].catalogName, 0,
                                        listed.catalogs[0].catalogID, top}},
                                      nullptr, CVDDownloadFileTask::kPlain, false, ToAnsi(target) + "\\", "",
                                      [&](const std::vector<DownloadResult>& r) {
                                        results = r;
                                        done = true;
                                      }),
            0);
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 120000));
  ASSERT_EQ(results.size(), 3u);
  for (const auto& r : results) EXPECT_EQ(r.resultCode, 0) << r.name;
  for (const fs::path& relative : {P("文档.txt"), P("空.txt"), P("子目录") / P("图片.jpg")}) {
    const fs::path got = target / P("下载源") / relative;
    ASSERT_TRUE(fs::exists(got)) << U8(relative.wstring());
    EXPECT_EQ(FileMd5(got), FileMd5(src / relative)) << U8(relative.wstring());
    const DWORD attributes = ::GetFileAttributesW(got.wstring().c_str());
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << "a complete file is not hidden: " << U8(relative.wstring());
    EXPECT_FALSE(fs::exists(got.wstring() + L".tmp"));
  }
}

// Windows' own rules decide here what a name from the service may become:
// a device name, a stream, a trailing dot, a separator, a parent.
TEST_F(UploadEndToEnd, HostileNamesFromTheServiceNeverReachOutsideTheTargetFolder) {
  const auto P = [](const char* utf8) { return fs::u8path(utf8); };
  const fs::path source = s_folder / P("敌意源") / P("内容.bin");
  WriteBytes(source, 3000, 31);
  const std::string top = NewCatalog("敌意");
  ASSERT_FALSE(top.empty());
  UploadDirNode root;
  root.catalogId = top;
  root.files = {ToAnsi(source)};
  ASSERT_TRUE(UploadTree(root, 1, u"敌意"));
  const ListResult listed = List(sdk, top);
  ASSERT_EQ(listed.contents.size(), 1u);
  const ContentInfo& content = listed.contents[0];

  const std::string fake = "fake-catalog";
  const std::vector<std::string> names = {"..",  "CON", "a:b", "trailing.", std::string(300, 'x'),
                                          platform::WideToAnsi(u"..\\逃出.txt"), "../up.txt", "ok.txt"};
  {
    std::lock_guard l(host.lock);
    for (const std::string& name : names)
      host.listings[fake].push_back(
          {false, content.contentID, name, std::stoull(content.contentSize), content.contentID, fake});
  }
  const fs::path outside = s_folder / P("外面");
  const fs::path target = outside / P("里面");
  fs::create_directories(target);
  std::atomic<bool> done{false};
  std::vector<DownloadResult> results;
  auto* down = new CVDDownloadFileTask();
  ASSERT_EQ(down->StartDownloadServer({{true, fake, platform::WideToAnsi(u"夹"), 0, fake, top}}, nullptr,
                                      CVDDownloadFileTask::kPlain, false, ToAnsi(target) + "\\", "",
                                      [&](const std::vector<DownloadResult>& r) {
                                        results = r;
                                        done = true;
                                      }),
            0);
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 60000));
  {
    std::lock_guard l(host.lock);
    host.listings.clear();
  }
  int fetched = 0, refused = 0;
  std::string refusedNames;
  for (const auto& r : results) {
    (r.resultCode == 0 ? fetched : refused) += 1;
    if (r.resultCode != 0) refusedNames += r.name + " ";
  }
  EXPECT_EQ(fetched + refused, static_cast<int>(names.size())) << "each name is a file or a recorded failure";
  EXPECT_EQ(refused, 1) << "only \"..\" cannot be a name; refused: " << refusedNames;
  // Everything written lies in the catalog's folder, as plain files of the content's bytes.
  const fs::path landed = target / P("夹");
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(outside)) {
    if (entry.is_directory()) continue;
    const fs::path path = entry.path();
    EXPECT_EQ(path.parent_path(), landed) << U8(path.wstring());
    EXPECT_EQ(FileMd5(path), FileMd5(source)) << U8(path.wstring());
    EXPECT_LE(path.filename().wstring().size(), 255u);
    ++files;
  }
  EXPECT_EQ(files, fetched) << "no file without a record, no stream or device in place of a file";
  EXPECT_FALSE(fs::exists(outside / P("up.txt")));
  EXPECT_FALSE(fs::exists(target / P("逃出.txt")));
}

// A download's worker runs no messages while it waits on a listing or a
// transfer: its dialog still paints and answers.
TEST_F(UploadEndToEnd, TheDownloadDialogAnswersWhileItsWorkerWaits) {
  const std::string catalog = NewCatalog("收集中");
  ASSERT_FALSE(catalog.empty());
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(release, nullptr);
  host.beforeList = [release] { ::WaitForSingleObject(release, 60000); };
  const fs::path target = s_folder / fs::u8path("收集到");
  fs::create_directories(target);
  std::atomic<bool> done{false};
  std::vector<DownloadResult> results;
  host.progress = nullptr;
  auto* down = new CVDDownloadFileTask();
  ASSERT_EQ(down->StartDownloadServer({{true, catalog, platform::WideToAnsi(u"收集中"), 0, catalog, s_alice.root}}, nullptr,
                                      CVDDownloadFileTask::kPlain, false, ToAnsi(target) + "\\", "",
                                      [&](const std::vector<DownloadResult>& r) {
                                        results = r;
                                        done = true;
                                      }),
            0);
  ASSERT_TRUE(PumpUntil([&] { return host.progress.load() != nullptr; }, 10000));
  HWND dialog = host.progress.load();
  DWORD_PTR answer = 0;
  const bool answers = ::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) != 0;
  EXPECT_TRUE(answers) << "the dialog does not run its messages while the collect waits";
  if (answers) {
    EXPECT_TRUE(PumpUntil([&] { return U8(ControlText(dialog, IDC_PROGRESS_HEADER)) == "正在收集云端数据..."; }, 5000));
  }
  ::SetEvent(release);
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 30000));
  host.beforeList = nullptr;
  ::CloseHandle(release);
  EXPECT_TRUE(results.empty()) << "an empty catalog has no file";
  EXPECT_TRUE(fs::is_directory(target / fs::u8path("收集中")));
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(dialog); }, 10000)) << "the dialog closed with its task";
}

}  // namespace
}  // namespace vdtransfer
