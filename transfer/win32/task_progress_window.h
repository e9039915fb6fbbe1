#pragma once
// The progress dialog's window (dialog 120): a modeless dialog on the thread
// that creates it. Its timer drives CCTaskProgressDlg::OnTimer; workers'
// changes arrive as one posted repaint. The window keeps the dialog's logic
// alive until it is destroyed.
#include <windows.h>

#include <atomic>
#include <memory>

#include "task_progress_dlg.h"

namespace vdtransfer {

// The module the transfer dialogs' resources are linked into.
HMODULE TransferResourceModule();

class ProgressWindow final : public IProgressWindow {
 public:
  // Creates and shows (or hides) the window, owned by `owner`'s top-level
  // window; null when it could not be made. `timerMs` is the clock's period.
  static HWND Create(const std::shared_ptr<CCTaskProgressDlg>& dialog, HWND owner, bool show,
                     UINT timerMs = kProgressTimerMs);
  // The same on a thread of the window's own that runs its messages until it
  // is destroyed: for a caller that waits on transfers and runs none.
  static HWND CreateOnOwnThread(const std::shared_ptr<CCTaskProgressDlg>& dialog, HWND owner, bool show,
                                UINT timerMs = kProgressTimerMs);

  // IProgressWindow
  void Invalidate() override;
  void SetTitle(std::u16string_view text) override;
  void SetText(int control, std::u16string_view text) override;
  void ShowControl(int control, bool show) override;
  void SetBar(int percent) override;
  void Destroy() override;
  void PostClose() override;

 private:
  ProgressWindow(std::shared_ptr<CCTaskProgressDlg> dialog, UINT timerMs, bool ownThread)
      : m_dialog(std::move(dialog)), m_timerMs(timerMs), m_ownThread(ownThread) {}
  static HWND Make(const std::shared_ptr<CCTaskProgressDlg>& dialog, HWND owner, bool show, UINT timerMs,
                   bool ownThread);
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Layout();

  std::shared_ptr<CCTaskProgressDlg> m_dialog;
  HWND m_window = nullptr;
  const UINT m_timerMs;
  const bool m_ownThread;  // the window's thread ends with it
  std::atomic<bool> m_repaintPosted{false};
};

}  // namespace vdtransfer
