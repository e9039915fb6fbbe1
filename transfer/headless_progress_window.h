#pragma once
// The progress dialog's window where there is no screen (native tests and
// benchmarks): a timer thread stands in for the window's thread and ticks the
// dialog's real logic. It keeps what the controls would have shown, the most
// uploads it saw running, and the CPU its ticks took. Clicks are posted to
// it, as they would be to a window.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/clock.h"
#include "platform/text.h"
#include "task_progress_dlg.h"

namespace vdtransfer {

class HeadlessProgressWindow final : public IProgressWindow {
 public:
  HeadlessProgressWindow(std::shared_ptr<CCTaskProgressDlg> dlg, std::uint32_t periodMs) : m_dlg(std::move(dlg)) {
    m_dlg->Attach(this);
    m_dlg->OnInitDialog();
    m_timer = m_queue->Start(periodMs, periodMs, [this] { Tick(); });
  }
  ~HeadlessProgressWindow() {
    m_timer.reset();
    if (!m_gone) m_dlg->Attach(nullptr);
  }

  void Invalidate() override {}
  void SetTitle(std::u16string_view) override {}
  void SetText(int control, std::u16string_view text) override {
    std::lock_guard l(m_lock);
    m_seen[control].insert(std::u16string(text));
  }
  void ShowControl(int, bool) override {}
  void SetBar(int) override {}
  void Destroy() override {
    m_gone = true;
    m_dlg->OnDestroyed();
  }
  void PostClose() override { m_closeAsked = true; }

  void ClickCancel() { m_cancelAsked = true; }
  // True when the control once showed `utf8`.
  bool Saw(int control, const std::string& utf8) {
    std::lock_guard l(m_lock);
    return m_seen[control].count(platform::Utf8ToUtf16(utf8)) != 0;
  }
  std::shared_ptr<CCTaskProgressDlg> dlg() const { return m_dlg; }
  bool gone() const { return m_gone; }
  int peakRunning() const { return m_peak; }
  std::uint64_t cpu100ns() const { return m_cpu; }
  int ticks() const { return m_ticks; }

 private:
  void Tick() {
    if (m_gone) return;
    const std::uint64_t before = platform::ThreadCpuTime100ns();
    const int running = RunningUploads().load();
    if (running > m_peak) m_peak = running;
    if (m_cancelAsked.exchange(false)) {
      m_dlg->OnClickedCancel();
    } else if (m_closeAsked.exchange(false)) {
      m_dlg->OnClose();
    } else {
      m_dlg->OnTimer();
      if (!m_gone) m_dlg->ApplyPending();
    }
    m_cpu += platform::ThreadCpuTime100ns() - before;
    ++m_ticks;
  }

  std::shared_ptr<CCTaskProgressDlg> m_dlg;
  std::unique_ptr<platform::TimerQueue> m_queue = platform::TimerQueue::Create();
  std::unique_ptr<platform::TimerQueue::Timer> m_timer;
  std::atomic<bool> m_gone{false}, m_cancelAsked{false}, m_closeAsked{false};
  std::atomic<int> m_peak{0}, m_ticks{0};
  std::atomic<std::uint64_t> m_cpu{0};
  std::mutex m_lock;
  std::map<int, std::set<std::u16string>> m_seen;
};

}  // namespace vdtransfer
