#include "task_progress_dlg.h"

#include <utility>
#include <vector>

#include "string_table.h"
#include "trace.h"
#include "transfer_text.h"
#include "transfer_util.h"

namespace vdtransfer {

using namespace vd::resources;

std::atomic<int>& RunningUploads() {
  static std::atomic<int> running{0};
  return running;
}

std::atomic<int>& RunningDownloads() {
  static std::atomic<int> running{0};
  return running;
}

bool TryTakeSlot(std::atomic<int>& running) {
  int now = running.load();
  while (now < kMaxRunningTransfers) {
    if (running.compare_exchange_weak(now, now + 1)) return true;
  }
  return false;
}

void ReleaseSlot(std::atomic<int>& running) {
  int now = running.load();
  while (now > 0 && !running.compare_exchange_weak(now, now - 1)) {
  }
}

// ---------------------------------------------------------------- texts

namespace {

// The thresholds of the header and the collect text, on kilobytes that keep
// their fraction: 1,048,576,001 bytes is past the gigabyte line.
enum class Scale { GB, MB, KB, B };
Scale ScaleOf(std::uint64_t bytes) {
  const double kb = static_cast<double>(bytes) / 1024.0;
  if (kb > 1024000.0) return Scale::GB;
  if (kb > 1024.0) return Scale::MB;
  if (bytes > 1024) return Scale::KB;
  return Scale::B;
}

double ScaledValue(Scale scale, std::uint64_t bytes) {
  const double kb = static_cast<double>(bytes) / 1024.0;
  switch (scale) {
    case Scale::GB: return kb / 1048576.0;
    case Scale::MB: return kb / 1024.0;
    default: return kb;
  }
}

}  // namespace

std::u16string HeaderText(bool upload, std::uint32_t count, std::uint64_t bytes, std::u16string_view title) {
  const std::string verb(LoadText(upload ? IDS_VERB_UPLOAD : IDS_VERB_DOWNLOAD));
  const Scale scale = ScaleOf(bytes);
  const double value = ScaledValue(scale, bytes);
  const int plainBytes = static_cast<int>(bytes);  // at most 1024 here
  std::string header, tag;
  switch (scale) {
    case Scale::GB:
      header = SprintfTable(IDS_PROGRESS_HEADER_GB, verb.c_str(), count, value);
      tag = Sprintf("（%.2fGB）", value);
      break;
    case Scale::MB:
      header = SprintfTable(IDS_PROGRESS_HEADER_MB, verb.c_str(), count, value);
      tag = Sprintf("（%.2fMB）", value);
      break;
    case Scale::KB:
      header = SprintfTable(IDS_PROGRESS_HEADER_KB, verb.c_str(), count, value);
      tag = Sprintf("（%.2fKB）", value);
      break;
    case Scale::B:
      header = Sprintf("正在%s%u个项目（共%dB）", verb.c_str(), count, plainBytes);
      tag = Sprintf("（%dB）", plainBytes);
      break;
  }
  if (title.empty()) return Wide(header);
  return TableText(IDS_LOADING) + u" " + std::u16string(title) + Wide(tag);
}

std::u16string CollectText(std::uint32_t count, std::uint64_t bytes) {
  const Scale scale = ScaleOf(bytes);
  const double value = ScaledValue(scale, bytes);
  switch (scale) {
    case Scale::GB: return Wide(Sprintf("已收集%u个待下载数据（共%.2fGB）", count, value));
    case Scale::MB: return Wide(Sprintf("已收集%u个待下载数据（共%.2fMB）", count, value));
    case Scale::KB: return Wide(Sprintf("已收集%u个待下载数据（共%.2fkB）", count, value));
    case Scale::B: break;
  }
  return Wide(Sprintf("已收集%u个待下载数据（共%dB）", count, static_cast<int>(bytes)));
}

std::u16string TimeLeftText(std::uint64_t seconds) {
  const unsigned long long hours = seconds / 3600;
  const std::string hourPart = hours > 0 ? Sprintf("%llu小时", hours) : std::string();
  return Wide(Sprintf("剩余时间: %s%d分%d秒", hourPart.c_str(), static_cast<int>(seconds / 60 % 60),
                      static_cast<int>(seconds % 60)));
}

std::u16string SpeedText(std::uint64_t speed) {
  if (speed >= 1048576) return Wide(Sprintf("速度: %.2fMB/S", static_cast<double>(speed) / 1048576.0));
  if (speed >= 1024) return Wide(Sprintf("速度: %.2fKB/S", static_cast<double>(speed) / 1024.0));
  return Wide(Sprintf("速度: %dB/S", static_cast<int>(speed)));
}

std::uint64_t SpeedWindow::Sample(std::uint64_t done) {
  // Samples are 2 s apart: the oldest of three is 6 s back.
  const int span = m_count >= 3 ? 3 : m_count;
  const std::uint64_t base = m_samples[span - 1];
  const std::uint64_t speed = done > base ? (done - base) / (2 * static_cast<std::uint64_t>(span)) : 0;
  m_samples[2] = m_samples[1];
  m_samples[1] = m_samples[0];
  m_samples[0] = done;
  if (m_count < 3) ++m_count;
  return speed;
}

// ---------------------------------------------------------------- dialog

CCTaskProgressDlg::CCTaskProgressDlg(int type, int subtype)
    : m_type(type),
      m_subtype(subtype),
      m_event(platform::NamedEvent::Create(u"", false, false)),
      m_eventDestroy(platform::NamedEvent::Create(u"", false, false)) {
  VD_TRACE("CCTaskProgressDlg::CCTaskProgressDlg");
  VD_LOG_DEBUG("g_hEvent =%d m_hEventDestroy=%d", m_event ? 1 : 0, m_eventDestroy ? 1 : 0);
}

CCTaskProgressDlg::~CCTaskProgressDlg() {
  if (m_transfer) m_transfer->Release();
  if (m_previous) m_previous->Release();
}

void CCTaskProgressDlg::SetTaskConut(int n) { m_taskCount.store(n); }

void CCTaskProgressDlg::SetProgress(int percent) {
  {
    std::lock_guard lock(m_lock);
    SetBarLocked(percent);
  }
  Invalidate();
}

void CCTaskProgressDlg::ShowIdleLabels() {
  {
    std::lock_guard lock(m_lock);
    SetTextLocked(kCtlTimeLeft, TableText(IDS_TIME_LEFT_NONE));
    SetTextLocked(kCtlSpeed, TableText(IDS_SPEED_NONE));
  }
  Invalidate();
}

void CCTaskProgressDlg::QuitCollectModel() {
  m_collectMode.store(0);
  {
    std::lock_guard lock(m_lock);
    if (m_waiting.load() || m_header.empty()) return;
    SetTextLocked(kCtlHeader, m_header);
  }
  Invalidate();
}

void CCTaskProgressDlg::SetTaskName(std::u16string_view text) {
  {
    std::lock_guard lock(m_lock);
    m_itemText = TableText(IDS_FROM) + std::u16string(text);
    if (!m_waiting.load()) SetTextLocked(kCtlItemText, m_itemText);
  }
  Invalidate();
}

void CCTaskProgressDlg::SetUploadTarget(std::u16string_view text) {
  {
    std::lock_guard lock(m_lock);
    m_targetText = TableText(IDS_TO) + std::u16string(text);
    if (!m_waiting.load()) SetTextLocked(kCtlTarget, m_targetText);
  }
  Invalidate();
}

void CCTaskProgressDlg::SetTotalCntAndSize(std::uint32_t count, std::uint64_t bytes, std::u16string_view title) {
  {
    std::lock_guard lock(m_lock);
    m_totalCount = count;
    m_totalBytes = bytes;
    m_header = HeaderText(m_type == kUpload, count, bytes, title);
    if (!m_waiting.load() && !m_collectMode.load()) SetTextLocked(kCtlHeader, m_header);
  }
  Invalidate();
}

void CCTaskProgressDlg::SetCurrentTransfer(TransferObject* transfer) {
  TransferObject* drop = nullptr;
  {
    std::lock_guard lock(m_lock);
    if (m_transfer) {
      if (m_transfer->IsEnded() || (m_transfer->GetStatus() & kTransferStatusCancel)) {
        drop = m_transfer;
      } else {
        // Still running: kept until it ends, so the timer never reads freed memory.
        if (m_previous) m_previous->Release();
        m_previous = m_transfer;
      }
    }
    m_transfer = transfer;
  }
  if (drop) drop->Release();
}

TransferObject* CCTaskProgressDlg::CurrentTransfer() const {
  std::lock_guard lock(m_lock);
  if (m_transfer) m_transfer->AddRef();
  return m_transfer;
}

void CCTaskProgressDlg::SetWaiting() {
  m_waiting.store(1);
  {
    std::lock_guard lock(m_lock);
    const std::u16string text = TableText(m_type == kUpload ? IDS_WAITING_UPLOAD : IDS_WAITING_DOWNLOAD);
    SetTextLocked(kCtlItemText, text);
    SetTextLocked(kCtlTarget, text);
    SetTextLocked(kCtlHeader, text);
    SetBarLocked(0);
  }
  Invalidate();
}

void CCTaskProgressDlg::SetCollectMode(bool on) {
  m_collectMode.store(on ? 1 : 0);
  if (on) {
    {
      std::lock_guard lock(m_lock);
      SetTextLocked(kCtlHeader, TableText(IDS_COLLECTING));
    }
    Invalidate();
  }
}

void CCTaskProgressDlg::SetCollected(std::uint32_t count, std::uint64_t bytes, bool finished) {
  std::lock_guard lock(m_lock);
  m_collectedCount = count;
  m_collectedBytes = bytes;
  m_collectFinished = finished;
}

bool CCTaskProgressDlg::WaitEvent(std::uint32_t timeoutMs) {
  return m_event && m_event->Wait(timeoutMs) == platform::WaitResult::Signaled;
}

void CCTaskProgressDlg::WaitForSignal() {
  // A window that went away signals too; the check covers one that never came.
  while (!WaitEvent(1000)) {
    if (IsClosed()) return;
  }
}

void CCTaskProgressDlg::WaitForTransfer(TransferObject* transfer) {
  // The transfer's own event wakes the worker at once; waiting for the next
  // tick would cost up to a second a file.
  for (;;) {
    std::uint32_t status = 0;
    if (transfer->WaitSignalled(100, &status) && (status & kTransferStopMask)) {
      ClaimTransferEnd(status);
      return;
    }
    // A cancel, the timer's booking of the end, or a stale signal: look again.
    if (WaitEvent(0) && GetTaskQuitState() == 1) return;
    if (IsClosed()) return;
  }
}

bool CCTaskProgressDlg::WaitDestroyed(std::uint32_t timeoutMs) {
  if (m_closed.load()) return true;
  return m_eventDestroy && m_eventDestroy->Wait(timeoutMs) == platform::WaitResult::Signaled;
}

void CCTaskProgressDlg::Finish() {
  std::lock_guard lock(m_lock);
  if (m_window && !m_closed.load()) m_window->PostClose();
}

void CCTaskProgressDlg::Attach(IProgressWindow* window) {
  std::lock_guard lock(m_lock);
  m_window = window;
}

void CCTaskProgressDlg::OnInitDialog() {
  VD_TRACE("CCTaskProgressDlg::OnInitDialog");
  IProgressWindow* window;
  {
    std::lock_guard lock(m_lock);
    window = m_window;
  }
  if (!window) return;
  int title = IDS_PROGRESS_TITLE_UPLOAD;
  if (m_type == kDownload) {
    switch (m_subtype) {
      case kDownloadCopy: title = IDS_PROGRESS_TITLE_COPY; break;
      case kDownloadCut: title = IDS_PROGRESS_TITLE_CUT; break;
      case kDownloadOpen: title = IDS_PROGRESS_TITLE_OPEN; break;
      default: title = IDS_PROGRESS_TITLE_DOWNLOAD; break;
    }
  }
  window->SetTitle(TableText(title));
  if (m_type == kDownload && m_subtype == kDownloadOpen) {
    window->ShowControl(kCtlTarget, false);
    window->ShowControl(kCtlItemText, false);
  }
  {
    std::lock_guard lock(m_lock);
    SetBarLocked(0);
    SetTextLocked(kCtlTimeLeft, TableText(IDS_TIME_LEFT_NONE));
    SetTextLocked(kCtlSpeed, TableText(IDS_SPEED_NONE));
    if (m_collectMode.load()) SetTextLocked(kCtlHeader, TableText(IDS_COLLECTING));
    // Whatever the setters stored before the window existed shows now.
    for (auto& [control, dirty] : m_dirty) dirty = true;
    m_barDirty = true;
  }
  ApplyPending();
}

void CCTaskProgressDlg::OnTimer() {
  ++m_tick;
  TransferObject* transfer = m_transferring.load() ? CurrentTransfer() : nullptr;
  std::uint32_t status = 0;
  std::uint64_t transferred = 0;
  if (transfer) {
    status = transfer->GetStatus();
    transferred = transfer->GetTransferred();
    const std::uint64_t size = transfer->GetFileSize();
    const int percent = size ? static_cast<int>(transferred * 100 / size) : 0;
    if (!(m_retryDisplay.load() > 0 && percent == 0)) {
      std::lock_guard lock(m_lock);
      SetBarLocked(percent > 100 ? 100 : percent);
    }
  }
  if (m_tick % 2 == 0) UpdateSpeed(transferred);

  if (transfer && (status & kTransferStopMask) && transfer->WaitSignalled(0, nullptr) && ClaimTransferEnd(status)) {
    if (m_event) m_event->Set();
  }
  if (StopRequested()) {
    if (transfer) transfer->SetStatus(kTransferStatusCancel);
    if (m_type == kDownload) {
      std::lock_guard lock(m_lock);
      if (m_window) m_window->PostClose();
    }
  }
  if (transfer) transfer->Release();

  if (m_doneCount.load() >= m_taskCount.load() && !m_collectMode.load()) {
    CloseAtEnd();
    return;
  }
  if (m_collectMode.load()) QueryCollectProcess();
  if (m_waiting.load()) QueryWaitingProcess();
  ApplyPending();
}

bool CCTaskProgressDlg::ClaimTransferEnd(std::uint32_t status) {
  if (m_transferring.exchange(0) != 1) return false;
  if ((status & kTransferStatusDone) || m_retryDisplay.load() == 15) m_doneCount.fetch_add(1);
  return true;
}

void CCTaskProgressDlg::UpdateSpeed(std::uint64_t transferred) {
  const std::uint64_t done = m_processedBytes.load() + transferred;
  const std::uint64_t speed = m_speed.Sample(done);
  std::lock_guard lock(m_lock);
  VD_LOG_DEBUG("%s, TotalSize %lld m_llUploadAllDeal %lld m_llLastUploadAllDeal.QuadPart %lld  速度%lld\n",
               m_type == kUpload ? "upload" : "download", static_cast<long long>(m_totalBytes),
               static_cast<long long>(done), static_cast<long long>(m_processedBytes.load()),
               static_cast<long long>(speed));
  if (speed == 0) return;
  const std::int64_t left = (static_cast<std::int64_t>(m_totalBytes) - static_cast<std::int64_t>(done)) /
                            static_cast<std::int64_t>(speed);
  if (left < 1 && !(left == 0 && done == m_totalBytes)) return;
  SetTextLocked(kCtlTimeLeft, TimeLeftText(static_cast<std::uint64_t>(left)));
  SetTextLocked(kCtlSpeed, SpeedText(speed));
}

void CCTaskProgressDlg::CloseAtEnd() {
  // The window may hold the last reference to this object.
  const auto keep = weak_from_this().lock();
  IProgressWindow* window;
  {
    std::lock_guard lock(m_lock);
    window = m_window;
  }
  m_closed.store(1);
  if (window) window->Destroy();
  if (m_eventDestroy) m_eventDestroy->Set();
}

void CCTaskProgressDlg::OnClickedOK() {
  const auto keep = weak_from_this().lock();
  IProgressWindow* window;
  {
    std::lock_guard lock(m_lock);
    window = m_window;
  }
  if (window) window->Destroy();
}

void CCTaskProgressDlg::OnClickedCancel() {
  VD_TRACE("CCTaskProgressDlg::OnClickedCancel");
  m_quitState.store(1);
  m_taskCount.store(0);
  if (m_event) m_event->Set();
  OnClickedOK();
}

void CCTaskProgressDlg::OnClose() { OnClickedCancel(); }

void CCTaskProgressDlg::OnDestroyed() {
  {
    std::lock_guard lock(m_lock);
    m_window = nullptr;
  }
  if (!m_closed.exchange(1) && m_doneCount.load() < m_taskCount.load()) {
    VD_LOG_WARN("progress window gone before its task ended: the task stops");
    m_quitState.store(1);
    m_taskCount.store(0);
  }
  if (m_event) m_event->Set();
  if (m_eventDestroy) m_eventDestroy->Set();
}

void CCTaskProgressDlg::QueryWaitingProcess() {
  if (!TryTakeSlot(m_type == kUpload ? RunningUploads() : RunningDownloads())) return;
  m_waiting.store(0);
  RestoreNormalTexts();
  if (m_event) m_event->Set();
}

void CCTaskProgressDlg::QueryCollectProcess() {
  bool finished;
  {
    std::lock_guard lock(m_lock);
    SetBarLocked(m_collectPhase * 20 > 100 ? 100 : m_collectPhase * 20);
    SetTextLocked(kCtlItemText, CollectText(m_collectedCount, m_collectedBytes));
    finished = m_collectFinished;
  }
  m_collectPhase = (m_collectPhase + 1) % 6;
  if (finished && m_event) m_event->Set();
}

void CCTaskProgressDlg::RestoreNormalTexts() {
  std::lock_guard lock(m_lock);
  SetTextLocked(kCtlItemText, m_itemText);
  SetTextLocked(kCtlTarget, m_targetText);
  SetTextLocked(kCtlHeader, m_header);
}

void CCTaskProgressDlg::ApplyPending() {
  // Collected under the lock, shown outside it: a control may send its
  // parent messages that come back here.
  std::vector<std::pair<int, std::u16string>> texts;
  int bar = -1;
  IProgressWindow* window;
  {
    std::lock_guard lock(m_lock);
    window = m_window;  // cleared only on this thread
    if (!window) return;
    for (auto& [control, dirty] : m_dirty) {
      if (!dirty) continue;
      dirty = false;
      texts.emplace_back(control, m_texts[control]);
    }
    if (m_barDirty) {
      m_barDirty = false;
      bar = m_bar;
    }
  }
  for (const auto& [control, text] : texts) window->SetText(control, text);
  if (bar >= 0) window->SetBar(bar);
}

std::u16string CCTaskProgressDlg::Text(int control) const {
  std::lock_guard lock(m_lock);
  const auto it = m_texts.find(control);
  return it == m_texts.end() ? std::u16string() : it->second;
}

int CCTaskProgressDlg::Bar() const {
  std::lock_guard lock(m_lock);
  return m_bar;
}

void CCTaskProgressDlg::SetTextLocked(int control, std::u16string text) {
  auto& slot = m_texts[control];
  if (slot == text && m_dirty.count(control)) return;
  slot = std::move(text);
  m_dirty[control] = true;
}

void CCTaskProgressDlg::SetBarLocked(int percent) {
  if (m_bar == percent) return;
  m_bar = percent;
  m_barDirty = true;
}

void CCTaskProgressDlg::Invalidate() {
  std::lock_guard lock(m_lock);
  if (m_window) m_window->Invalidate();
}

}  // namespace vdtransfer
