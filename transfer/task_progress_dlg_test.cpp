// The progress dialog's logic: its texts and boundaries, its speed window,
// and the clock that counts items, wakes the worker, admits waiting tasks and
// closes the window. The timer is driven tick by tick here; the window is a
// recorder of what the controls would show.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "login.h"
#include "platform/text.h"
#include "task_progress_dlg.h"
#include "temp_dir.h"

namespace vdtransfer {
namespace {

std::string U8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

TEST(ProgressTexts, HeaderTimeAndSpeedAtTheirBoundaries) {
  struct Case {
    const char* name;
    std::u16string got;
    const char* want;
  } cases[] = {
      {"GB just past the line", HeaderText(true, 3, 1048576001ull, u""), "正在上传3个项目(共0.98GB)"},
      {"MB at the line", HeaderText(true, 3, 1048576000ull, u""), "正在上传3个项目(共1000.00MB)"},
      {"MB just past 1 MiB", HeaderText(false, 1, 1048577ull, u""), "正在下载1个项目(共1.00MB)"},
      {"KB at 1 MiB", HeaderText(true, 2, 1048576ull, u""), "正在上传2个项目(共1024.00KB)"},
      {"KB just past 1024", HeaderText(true, 1, 1025, u""), "正在上传1个项目(共1.00KB)"},
      {"bytes at 1024", HeaderText(true, 1, 1024, u""), "正在上传1个项目（共1024B）"},
      {"nothing", HeaderText(false, 0, 0, u""), "正在下载0个项目（共0B）"},
      {"opening one file", HeaderText(false, 1, 5 * 1048576ull, u"报告.docx"), "正在加载 报告.docx（5.00MB）"},
      {"opening a small file", HeaderText(false, 1, 10, u"a.txt"), "正在加载 a.txt（10B）"},
      {"collected GB", CollectText(7, 2147483648ull), "已收集7个待下载数据（共2.00GB）"},
      {"collected kB", CollectText(2, 2048), "已收集2个待下载数据（共2.00kB）"},
      {"collected bytes", CollectText(1, 3), "已收集1个待下载数据（共3B）"},
      {"an hour and more", TimeLeftText(3725), "剩余时间: 1小时2分5秒"},
      {"minutes only", TimeLeftText(125), "剩余时间: 2分5秒"},
      {"nothing left", TimeLeftText(0), "剩余时间: 0分0秒"},
      {"MB/s", SpeedText(3 * 1048576ull + 524288), "速度: 3.50MB/S"},
      {"KB/s at 1024", SpeedText(1024), "速度: 1.00KB/S"},
      {"B/s below 1024", SpeedText(1023), "速度: 1023B/S"},
  };
  for (const auto& c : cases) EXPECT_EQ(U8(c.got), c.want) << c.name;
}

TEST(ProgressTexts, SpeedIsTakenOverTheLastTwoFourAndSixSeconds) {
  // A sample every 2 seconds; the transfer speeds up each time.
  SpeedWindow window;
  struct Step {
    std::uint64_t done;
    std::uint64_t want;
  } steps[] = {
      {2000, 1000},   // 2 s: (2000 - 0) / 2
      {6000, 1500},   // 4 s: (6000 - 0) / 4
      {12000, 2000},  // 6 s: (12000 - 0) / 6
      {24000, 3666},  // 8 s: (24000 - 2000) / 6, the oldest sample is 6 s back
      {24000, 3000},  // stalled: (24000 - 6000) / 6
      {24000, 2000},  // (24000 - 12000) / 6
      {24000, 0},     // stalled for 6 s
  };
  int second = 0;
  for (const auto& s : steps) {
    second += 2;
    EXPECT_EQ(window.Sample(s.done), s.want) << "at " << second << " s";
  }
}

// What the controls show, as the window would.
class RecordingWindow final : public IProgressWindow {
 public:
  explicit RecordingWindow(CCTaskProgressDlg& dlg) : m_dlg(dlg) {}
  void Invalidate() override { ++invalidations; }
  void SetTitle(std::u16string_view text) override { title = text; }
  void SetText(int control, std::u16string_view text) override { texts[control] = text; }
  void ShowControl(int control, bool show) override { shown[control] = show; }
  void SetBar(int percent) override { bar = percent; }
  void Destroy() override {
    ++destroys;
    m_dlg.OnDestroyed();
  }
  void PostClose() override { ++closes; }

  std::string Text(int control) { return U8(texts[control]); }

  std::u16string title;
  std::map<int, std::u16string> texts;
  std::map<int, bool> shown;
  int bar = -1;
  int invalidations = 0, destroys = 0, closes = 0;

 private:
  CCTaskProgressDlg& m_dlg;
};

struct Opened {
  explicit Opened(int type, int subtype = 0) : dlg(type, subtype), window(dlg) {
    dlg.Attach(&window);
    dlg.OnInitDialog();
  }
  CCTaskProgressDlg dlg;
  RecordingWindow window;
};

class ProgressDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    RunningUploads() = 0;
    RunningDownloads() = 0;
    vd::SignedOutFlag() = 0;
  }
  void TearDown() override { vd::SignedOutFlag() = 0; }

  // A real file the transfer object can open; `size` bytes.
  TransferObject* Transfer(std::uint64_t size) {
    const auto path = m_dir.path() / ("f" + std::to_string(m_files++));
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    return TransferObject::Create(path.string(), 0, true, kNormalAttributes);
  }

  vd::testing::TempDir m_dir;
  int m_files = 0;
};

TEST_F(ProgressDialog, OpensWithTheTitleAndRestingLabelsOfItsKind) {
  struct Case {
    int type, subtype;
    const char* title;
    bool linesShown;
  } cases[] = {
      {CCTaskProgressDlg::kUpload, 0, "正在上传至云端......", true},
      {CCTaskProgressDlg::kUpload, CCTaskProgressDlg::kSilent, "正在上传至云端......", true},
      {CCTaskProgressDlg::kDownload, CCTaskProgressDlg::kDownloadPlain, "正在下载云端的文件......", true},
      {CCTaskProgressDlg::kDownload, CCTaskProgressDlg::kDownloadCopy, "正在复制云端的文件......", true},
      {CCTaskProgressDlg::kDownload, CCTaskProgressDlg::kDownloadCut, "正在剪切云端的文件......", true},
      {CCTaskProgressDlg::kDownload, CCTaskProgressDlg::kDownloadOpen, "正在打开云端的文件", false},
  };
  for (const auto& c : cases) {
    Opened o(c.type, c.subtype);
    EXPECT_EQ(U8(o.window.title), c.title) << c.title;
    EXPECT_EQ(o.window.Text(kCtlTimeLeft), "剩余时间: --分--秒");
    EXPECT_EQ(o.window.Text(kCtlSpeed), "速度: 0KB/S");
    EXPECT_EQ(o.window.bar, 0);
    EXPECT_EQ(o.window.shown.count(kCtlTarget) == 0, c.linesShown) << c.title;
  }
}

TEST_F(ProgressDialog, TextsSetBeforeTheWindowExistedShowWhenItOpens) {
  CCTaskProgressDlg dlg(CCTaskProgressDlg::kUpload, 0);
  dlg.SetUploadTarget(u"Veyra云盘\\资料");
  dlg.SetTotalCntAndSize(2, 3000, u"");
  dlg.SetTaskName(u"C:\\上传\\a.txt");
  RecordingWindow window(dlg);
  dlg.Attach(&window);
  dlg.OnInitDialog();
  EXPECT_EQ(window.Text(kCtlTarget), "到 Veyra云盘\\资料");
  EXPECT_EQ(window.Text(kCtlHeader), "正在上传2个项目(共2.93KB)");
  EXPECT_EQ(window.Text(kCtlItemText), "从 C:\\上传\\a.txt");
}

TEST_F(ProgressDialog, AFinishedTransferIsCountedOnceWakesTheWorkerAndTheLastClosesTheWindow) {
  Opened o(CCTaskProgressDlg::kUpload);
  o.dlg.SetTaskConut(2);
  o.dlg.SetTotalCntAndSize(2, 2000, u"");

  TransferObject* first = Transfer(1000);
  o.dlg.SetCurrentTransfer(first);
  o.dlg.SetTransferring(true);
  first->SetTransferred(250);
  o.dlg.OnTimer();
  EXPECT_EQ(o.window.bar, 25);
  EXPECT_FALSE(o.dlg.WaitEvent(0)) << "nothing ended yet";

  first->SetTransferred(1000);
  first->SetStatus(kTransferStatusDone);
  o.dlg.OnTimer();
  EXPECT_EQ(o.window.bar, 100);
  EXPECT_EQ(o.dlg.GetCurrentTaskCount(), 1);
  EXPECT_TRUE(o.dlg.WaitEvent(0)) << "the worker wakes";
  EXPECT_FALSE(o.dlg.IsTransferring());
  o.dlg.OnTimer();
  EXPECT_EQ(o.dlg.GetCurrentTaskCount(), 1) << "an ended transfer is counted once";
  EXPECT_EQ(o.window.destroys, 0);

  // The worker woken by the transfer itself books the end; the timer then
  // neither counts it again nor wakes anybody.
  TransferObject* early = Transfer(10);
  o.dlg.SetTaskConut(3);
  o.dlg.SetCurrentTransfer(early);
  o.dlg.SetTransferring(true);
  early->SetStatus(kTransferStatusDone);
  EXPECT_TRUE(o.dlg.ClaimTransferEnd(early->GetStatus()));
  EXPECT_FALSE(o.dlg.ClaimTransferEnd(early->GetStatus())) << "booked once";
  o.dlg.OnTimer();
  EXPECT_EQ(o.dlg.GetCurrentTaskCount(), 2);
  EXPECT_FALSE(o.dlg.WaitEvent(0));
  o.dlg.SetTaskConut(2);
  o.dlg.SetCurrentTaskCount(1);

  // A failed one wakes the worker (to retry) but is no finished item.
  o.dlg.AddUploadAllDeal(1000);
  TransferObject* second = Transfer(1000);
  o.dlg.SetCurrentTransfer(second);
  o.dlg.SetTransferring(true);
  second->SetStatus(kTransferStatusFailed);
  o.dlg.OnTimer();
  EXPECT_TRUE(o.dlg.WaitEvent(0));
  EXPECT_EQ(o.dlg.GetCurrentTaskCount(), 1);

  // The fifteenth retry's end counts even when it failed.
  TransferObject* third = Transfer(1000);
  o.dlg.SetCurrentTransfer(third);
  o.dlg.SetRetryDisplay(15);
  o.dlg.SetTransferring(true);
  third->SetStatus(kTransferStatusFailed);
  o.dlg.OnTimer();
  EXPECT_EQ(o.dlg.GetCurrentTaskCount(), 2);
  EXPECT_EQ(o.window.destroys, 1);
  EXPECT_TRUE(o.dlg.IsClosed());
  EXPECT_TRUE(o.dlg.WaitDestroyed(0));
  EXPECT_EQ(o.dlg.GetTaskQuitState(), 0) << "an ordinary end is no cancel";
}

TEST_F(ProgressDialog, LabelsShowSpeedAndTimeLeftEveryOtherTick) {
  Opened o(CCTaskProgressDlg::kUpload);
  o.dlg.SetTaskConut(1);
  o.dlg.SetTotalCntAndSize(1, 10 * 1048576ull, u"");
  TransferObject* t = Transfer(10 * 1048576ull);
  o.dlg.SetCurrentTransfer(t);
  o.dlg.SetTransferring(true);
  t->SetTransferred(1048576);
  o.dlg.OnTimer();  // tick 1: no sample
  EXPECT_EQ(o.window.Text(kCtlSpeed), "速度: 0KB/S");
  t->SetTransferred(2 * 1048576);
  o.dlg.OnTimer();  // tick 2: 2 MiB over 2 s, 8 MiB left
  EXPECT_EQ(o.window.Text(kCtlSpeed), "速度: 1.00MB/S");
  EXPECT_EQ(o.window.Text(kCtlTimeLeft), "剩余时间: 0分8秒");
  EXPECT_EQ(o.window.bar, 20);
}

TEST_F(ProgressDialog, CancelEndsTheTaskAndAWindowLostEarlyCountsAsCancel) {
  {
    Opened o(CCTaskProgressDlg::kUpload);
    o.dlg.SetTaskConut(3);
    o.dlg.OnClickedCancel();
    EXPECT_EQ(o.dlg.GetTaskQuitState(), 1);
    EXPECT_EQ(o.dlg.GetTaskConut(), 0) << "the walk stops at its next file";
    EXPECT_TRUE(o.dlg.WaitEvent(0)) << "a waiting worker wakes";
    EXPECT_EQ(o.window.destroys, 1);
  }
  {
    // Its owner window closed under it: nobody is left to tick.
    Opened o(CCTaskProgressDlg::kDownload);
    o.dlg.SetTaskConut(3);
    o.dlg.OnDestroyed();
    EXPECT_EQ(o.dlg.GetTaskQuitState(), 1);
    EXPECT_TRUE(o.dlg.IsClosed());
    EXPECT_TRUE(o.dlg.WaitEvent(0));
  }
  {
    // Once everything is done, a late destroy is no cancel.
    Opened o(CCTaskProgressDlg::kUpload);
    o.dlg.SetTaskConut(1);
    o.dlg.SetCurrentTaskCount(1);
    o.dlg.OnDestroyed();
    EXPECT_EQ(o.dlg.GetTaskQuitState(), 0);
  }
}

TEST_F(ProgressDialog, AWaitingTaskIsAdmittedWhenASlotFreesAndNeverPastFour) {
  for (int i = 0; i < kMaxRunningTransfers; ++i) ASSERT_TRUE(TryTakeSlot(RunningUploads()));
  EXPECT_FALSE(TryTakeSlot(RunningUploads()));

  Opened o(CCTaskProgressDlg::kUpload);
  o.dlg.SetTaskConut(1);
  o.dlg.SetUploadTarget(u"目标");
  o.dlg.SetTotalCntAndSize(1, 10, u"");
  o.dlg.SetWaiting();
  o.dlg.OnTimer();
  for (int control : {kCtlItemText, kCtlTarget, kCtlHeader})
    EXPECT_EQ(o.window.Text(control), "正在排队等待上传...") << control;
  EXPECT_FALSE(o.dlg.WaitEvent(0));
  EXPECT_EQ(RunningUploads().load(), 4);

  // A download slot is another kind: no admission.
  ReleaseSlot(RunningDownloads());
  o.dlg.OnTimer();
  EXPECT_TRUE(o.dlg.IsWaiting());

  ReleaseSlot(RunningUploads());
  o.dlg.OnTimer();
  EXPECT_FALSE(o.dlg.IsWaiting());
  EXPECT_TRUE(o.dlg.WaitEvent(0));
  EXPECT_EQ(RunningUploads().load(), 4) << "the admitted task holds the freed slot";
  EXPECT_EQ(o.window.Text(kCtlTarget), "到 目标");
  EXPECT_EQ(o.window.Text(kCtlHeader), "正在上传1个项目（共10B）");

  Opened d(CCTaskProgressDlg::kDownload);
  d.dlg.SetTaskConut(1);
  d.dlg.SetWaiting();
  d.dlg.OnTimer();
  EXPECT_EQ(d.window.Text(kCtlHeader), "");
  EXPECT_FALSE(d.dlg.IsWaiting()) << "download slots were free";
  EXPECT_EQ(RunningDownloads().load(), 1);
}

TEST_F(ProgressDialog, SlotsHoldUnderRacingTakers) {
  std::atomic<int> taken{0}, peak{0}, inside{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      for (int round = 0; round < 2000; ++round) {
        if (!TryTakeSlot(RunningUploads())) continue;
        const int now = ++inside;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
        ++taken;
        --inside;
        ReleaseSlot(RunningUploads());
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_GT(taken.load(), 0);
  EXPECT_LE(peak.load(), kMaxRunningTransfers);
  EXPECT_EQ(RunningUploads().load(), 0);
  ReleaseSlot(RunningUploads());
  EXPECT_EQ(RunningUploads().load(), 0) << "never below zero";
}

TEST_F(ProgressDialog, SignOutCancelsTheTransferAndClosesADownload) {
  Opened up(CCTaskProgressDlg::kUpload);
  Opened down(CCTaskProgressDlg::kDownload);
  TransferObject* a = Transfer(10);
  TransferObject* b = Transfer(10);
  up.dlg.SetTaskConut(1);
  down.dlg.SetTaskConut(1);
  up.dlg.SetCurrentTransfer(a);
  down.dlg.SetCurrentTransfer(b);
  up.dlg.SetTransferring(true);
  down.dlg.SetTransferring(true);
  vd::SignedOutFlag() = 1;
  up.dlg.OnTimer();
  down.dlg.OnTimer();
  EXPECT_EQ(a->GetStatus(), static_cast<std::uint32_t>(kTransferStatusCancel));
  EXPECT_EQ(b->GetStatus(), static_cast<std::uint32_t>(kTransferStatusCancel));
  EXPECT_EQ(up.window.closes, 0);
  EXPECT_EQ(down.window.closes, 1);
}

TEST_F(ProgressDialog, CollectModeAnimatesAndSignalsWhenTheCollectionEnds) {
  Opened o(CCTaskProgressDlg::kDownload);
  o.dlg.SetTaskConut(0);  // nothing known yet
  o.dlg.SetCollectMode(true);
  o.dlg.OnTimer();
  EXPECT_EQ(o.window.Text(kCtlHeader), "正在收集云端数据...");
  int bars[7];
  for (int i = 0; i < 7; ++i) {
    o.dlg.SetCollected(static_cast<std::uint32_t>(i), 3000, false);
    o.dlg.OnTimer();
    bars[i] = o.window.bar;
  }
  // Phases 2, 3, 4, 5, 0, 1, 2 after the first tick's 1.
  const int want[7] = {40, 60, 80, 100, 0, 20, 40};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(bars[i], want[i]) << i;
  EXPECT_EQ(o.window.Text(kCtlItemText), "已收集6个待下载数据（共2.93kB）");
  EXPECT_FALSE(o.dlg.WaitEvent(0));
  EXPECT_EQ(o.window.destroys, 0) << "collecting keeps the window open with no items yet";
  o.dlg.SetCollected(9, 3000, true);
  o.dlg.OnTimer();
  EXPECT_TRUE(o.dlg.WaitEvent(0));
  // The worker gives the totals while still collecting, then leaves the mode:
  // the header says what is being downloaded from then on.
  o.dlg.SetTotalCntAndSize(9, 3000, u"");
  o.dlg.SetUploadTarget(u"D:\\下载\\");
  o.dlg.SetTaskConut(9);
  o.dlg.QuitCollectModel();
  o.dlg.OnTimer();
  EXPECT_EQ(o.window.Text(kCtlHeader), "正在下载9个项目(共2.93KB)");
}

}  // namespace
}  // namespace vdtransfer
