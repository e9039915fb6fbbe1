#pragma once
// The progress dialog every upload or download task shows, and the task's
// clock. Its one-second timer polls the current transfer, moves the bar,
// computes speed and time left, counts finished items, wakes the worker when
// a transfer ends, admits a waiting task when a transfer slot frees, and
// closes the window when every item is done.
//
// This is the dialog's logic; the window itself (IProgressWindow) is the
// platform's. Workers call the setters from their own threads: those touch
// only this object's fields and ask the window to repaint, so a worker never
// waits on the window's thread and the window's thread never waits on a
// worker.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/sync.h"
#include "transfer_object.h"

namespace vdtransfer {

// At most this many uploads, and as many downloads, move bytes at once.
inline constexpr int kMaxRunningTransfers = 4;
// Transfers moving bytes now, process-wide, per direction.
std::atomic<int>& RunningUploads();
std::atomic<int>& RunningDownloads();
// Takes a slot when one is free; true when it did.
bool TryTakeSlot(std::atomic<int>& running);
// Gives a slot back; never below zero.
void ReleaseSlot(std::atomic<int>& running);

// The dialog's controls (resource 120).
enum ProgressControl : int {
  kCtlCancel = 2,
  kCtlItemText = 201,  // the item moving now, or the collect / waiting text
  kCtlBar = 202,       // range 0..100
  kCtlHeader = 219,
  kCtlTarget = 220,
  kCtlTimeLeft = 221,
  kCtlSpeed = 222,
};
inline constexpr int kProgressDialogId = 120;
inline constexpr int kProgressWidth = 437, kProgressHeight = 200;
inline constexpr std::uint32_t kProgressTimerMs = 1000;

// ---- texts (UTF-16, as the controls show them)
// The header for `count` items of `bytes` in all; with a title (one file
// being opened) "正在加载 <title>" and the size.
std::u16string HeaderText(bool upload, std::uint32_t count, std::uint64_t bytes, std::u16string_view title);
std::u16string CollectText(std::uint32_t count, std::uint64_t bytes);
std::u16string TimeLeftText(std::uint64_t seconds);
std::u16string SpeedText(std::uint64_t bytesPerSecond);

// Bytes per second over the last 2, 4 or 6 seconds: one sample every
// other tick, the three latest kept. The start counts as a sample of 0.
class SpeedWindow {
 public:
  std::uint64_t Sample(std::uint64_t done);

 private:
  std::uint64_t m_samples[3] = {0, 0, 0};  // newest first
  int m_count = 1;
};

// What the dialog needs of its window. Called on the window's thread only,
// except Invalidate.
class IProgressWindow {
 public:
  // Any thread: have ApplyPending run soon on the window's thread.
  virtual void Invalidate() = 0;
  virtual void SetTitle(std::u16string_view text) = 0;
  virtual void SetText(int control, std::u16string_view text) = 0;
  virtual void ShowControl(int control, bool show) = 0;
  virtual void SetBar(int percent) = 0;
  // Stops the timer and destroys the window; OnDestroyed follows.
  virtual void Destroy() = 0;
  // Posts WM_CLOSE to the window.
  virtual void PostClose() = 0;

 protected:
  ~IProgressWindow() = default;
};

class CCTaskProgressDlg : public std::enable_shared_from_this<CCTaskProgressDlg> {
 public:
  enum Type : int { kUpload = 0, kDownload = 1 };
  // Download subtypes are the download modes; an upload's 13 is silent.
  enum Subtype : int { kDownloadPlain = 0, kDownloadCopy = 1, kDownloadCut = 2, kDownloadOpen = 3, kSilent = 13 };

  CCTaskProgressDlg(int type, int subtype);
  ~CCTaskProgressDlg();
  CCTaskProgressDlg(const CCTaskProgressDlg&) = delete;
  CCTaskProgressDlg& operator=(const CCTaskProgressDlg&) = delete;

  int Type() const { return m_type; }
  int Subtype() const { return m_subtype; }

  // ---- the worker's side (any thread)
  void SetTaskConut(int n);
  int GetTaskConut() const { return m_taskCount.load(); }
  int GetCurrentTaskCount() const { return m_doneCount.load(); }
  void SetCurrentTaskCount(int n) { m_doneCount.store(n); }
  int GetTaskQuitState() const { return m_quitState.load(); }
  void SetProgress(int percent);
  // The time-left and speed labels at rest: after a file nothing was sent for.
  void ShowIdleLabels();
  void AddUploadAllDeal(std::uint64_t bytes) { m_processedBytes.fetch_add(bytes); }
  void QuitCollectModel();
  void SetTaskName(std::u16string_view text);
  void SetUploadTarget(std::u16string_view text);
  void SetTotalCntAndSize(std::uint32_t count, std::uint64_t bytes, std::u16string_view title);
  bool IsFakeSucc() const { return false; }
  // Takes the caller's reference. The previous transfer is let go once its
  // event is signalled; one still running is kept until the next swap.
  void SetCurrentTransfer(TransferObject* transfer);
  // The current transfer with a reference for the caller, or null.
  TransferObject* CurrentTransfer() const;
  void SetTransferring(bool on) { m_transferring.store(on ? 1 : 0); }
  // Books the end of the current transfer once, whoever sees it first: the
  // timer, or the worker woken by the transfer itself. A finished item (done
  // bit, or the fifteenth retry) counts. True for the one that booked it.
  bool ClaimTransferEnd(std::uint32_t status);
  bool IsTransferring() const { return m_transferring.load() != 0; }
  void SetRetryDisplay(int round) { m_retryDisplay.store(round); }
  int GetRetryDisplay() const { return m_retryDisplay.load(); }
  // The waiting texts until QueryWaitingProcess admits the task.
  void SetWaiting();
  bool IsWaiting() const { return m_waiting.load() != 0; }
  // Downloads: the collect phase and what it found so far.
  void SetCollectMode(bool on);
  void SetCollected(std::uint32_t count, std::uint64_t bytes, bool finished);
  bool IsCollecting() const { return m_collectMode.load() != 0; }
  // The worker's wait; signalled on admission, on a transfer's end and on a
  // cancel. Auto-reset.
  bool WaitEvent(std::uint32_t timeoutMs);
  // The worker's waits. For the dialog's signal (admission, a finished
  // collect, a cancel); for the transfer's end or a cancel. Neither outlives
  // the window.
  void WaitForSignal();
  void WaitForTransfer(TransferObject* transfer);
  // True once the window has gone, whatever the cause.
  bool IsClosed() const { return m_closed.load() != 0; }
  bool WaitDestroyed(std::uint32_t timeoutMs);
  // The task ended: a window still open closes itself.
  void Finish();

  // ---- the window's side (its thread)
  void Attach(IProgressWindow* window);
  void OnInitDialog();
  void OnTimer();
  void OnClickedOK();
  void OnClickedCancel();
  void OnClose();
  // The window is gone. Gone before every item was done (its owner closed,
  // say) counts as a cancel, so no worker waits for a timer that is no more.
  void OnDestroyed();
  // Shows what the workers changed since the last call.
  void ApplyPending();
  void QueryWaitingProcess();
  void QueryCollectProcess();

  // Texts as they stand (tests and the window's first paint).
  std::u16string Text(int control) const;
  int Bar() const;

 private:
  void SetTextLocked(int control, std::u16string text);
  void SetBarLocked(int percent);
  void RestoreNormalTexts();
  void Invalidate();
  void UpdateSpeed(std::uint64_t transferred);
  void CloseAtEnd();

  const int m_type;
  const int m_subtype;
  std::unique_ptr<platform::NamedEvent> m_event;         // g_hEvent
  std::unique_ptr<platform::NamedEvent> m_eventDestroy;  // hEventDestroy
  std::atomic<int> m_doneCount{0};
  std::atomic<int> m_taskCount{0};
  std::atomic<int> m_quitState{0};
  std::atomic<int> m_transferring{0};
  std::atomic<int> m_retryDisplay{0};
  std::atomic<int> m_waiting{0};
  std::atomic<int> m_collectMode{0};
  std::atomic<int> m_closed{0};
  std::atomic<std::uint64_t> m_processedBytes{0};
  std::uint32_t m_tick = 0;  // window thread
  SpeedWindow m_speed;       // window thread
  int m_collectPhase = 1;    // window thread

  mutable std::mutex m_lock;  // everything below
  IProgressWindow* m_window = nullptr;
  TransferObject* m_transfer = nullptr;
  TransferObject* m_previous = nullptr;  // swapped out while still running
  std::uint32_t m_totalCount = 0;
  std::uint64_t m_totalBytes = 0;
  std::u16string m_header;
  std::u16string m_itemText;
  std::u16string m_targetText;
  std::uint32_t m_collectedCount = 0;
  std::uint64_t m_collectedBytes = 0;
  bool m_collectFinished = false;
  std::map<int, std::u16string> m_texts;  // what the controls show
  std::map<int, bool> m_dirty;
  int m_bar = 0;
  bool m_barDirty = false;
};

}  // namespace vdtransfer
