#include "task_progress_window.h"

#include <commctrl.h>

#include <future>
#include <string>
#include <system_error>
#include <thread>

#include "platform/fault.h"
#include "trace.h"
#include "transfer_dialog_ids.h"

namespace vdtransfer {
namespace {

constexpr UINT kTimerId = 1;
constexpr UINT kRepaintMessage = WM_APP + 1;

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace

HMODULE TransferResourceModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&TransferResourceModule), &module);
  return module;
}

HWND ProgressWindow::Create(const std::shared_ptr<CCTaskProgressDlg>& dialog, HWND owner, bool show, UINT timerMs) {
  return Make(dialog, owner, show, timerMs, false);
}

HWND ProgressWindow::CreateOnOwnThread(const std::shared_ptr<CCTaskProgressDlg>& dialog, HWND owner, bool show,
                                       UINT timerMs) {
  std::promise<HWND> made;
  std::future<HWND> window = made.get_future();
  try {
    std::thread([dialog, owner, show, timerMs, made = std::move(made)]() mutable {
      HWND window = nullptr;
      platform::NoThrow("CCTaskProgressDlg::Create", [&] { window = Make(dialog, owner, show, timerMs, true); });
      made.set_value(window);
      if (!window) return;
      // WM_NCDESTROY posts the quit that ends this loop.
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (::IsWindow(window) && ::IsDialogMessageW(window, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  return window.get();
}

HWND ProgressWindow::Make(const std::shared_ptr<CCTaskProgressDlg>& dialog, HWND owner, bool show, UINT timerMs,
                          bool ownThread) {
  VD_TRACE("CCTaskProgressDlg::Create");
  static const bool controls = [] {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)controls;
  auto* self = new ProgressWindow(dialog, timerMs, ownThread);
  HWND top = owner ? ::GetAncestor(owner, GA_ROOT) : nullptr;
  HWND window = ::CreateDialogParamW(TransferResourceModule(), MAKEINTRESOURCEW(IDD_TASK_PROGRESS), top, DialogProc,
                                     reinterpret_cast<LPARAM>(self));
  if (!window) {
    VD_LOG_ERROR("CreateDialogParamW failed: %lu", ::GetLastError());
    delete self;  // WM_INITDIALOG never ran, so nothing else holds it
    return nullptr;
  }
  if (show) {
    ::SetForegroundWindow(window);
    ::ShowWindow(window, SW_SHOW);
  } else {
    ::ShowWindow(window, SW_HIDE);
  }
  return window;
}

INT_PTR CALLBACK ProgressWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<ProgressWindow*>(lParam);
    self->m_window = window;
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
  }
  auto* self = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  INT_PTR handled = FALSE;
  platform::NoThrow("CCTaskProgressDlg::DialogProc", [&] { handled = self->Handle(message, wParam, lParam); });
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    if (self->m_ownThread) ::PostQuitMessage(0);
    delete self;
  }
  return handled;
}

INT_PTR ProgressWindow::Handle(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      Layout();
      ::SendDlgItemMessageW(m_window, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 100);
      m_dialog->Attach(this);
      m_dialog->OnInitDialog();
      ::SetTimer(m_window, kTimerId, m_timerMs, nullptr);
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == kTimerId) m_dialog->OnTimer();
      return TRUE;
    case kRepaintMessage:
      m_repaintPosted = false;
      m_dialog->ApplyPending();
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) m_dialog->OnClickedOK();
      if (LOWORD(wParam) == IDCANCEL) m_dialog->OnClickedCancel();
      return TRUE;
    case WM_CLOSE:
      m_dialog->OnClose();
      return TRUE;
    case WM_DESTROY:
      ::KillTimer(m_window, kTimerId);
      return FALSE;
    case WM_NCDESTROY:
      m_dialog->OnDestroyed();
      return FALSE;
    default:
      return FALSE;
  }
}

void ProgressWindow::Layout() {
  // The window has a fixed size in pixels; the controls are placed in pixels
  // too, so that no dialog font stretches them past its edge.
  RECT work = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  ::SetWindowPos(m_window, nullptr, work.left + (work.right - work.left - kProgressWidth) / 2,
                 work.top + (work.bottom - work.top - kProgressHeight) / 2, kProgressWidth, kProgressHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  ::GetClientRect(m_window, &client);
  const int margin = 12, width = client.right - 2 * margin, line = 18;
  const auto place = [&](int control, int x, int y, int w, int h) {
    ::SetWindowPos(::GetDlgItem(m_window, control), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  };
  place(IDC_PROGRESS_HEADER, margin, 10, width, line);
  place(IDC_PROGRESS_ITEM, margin, 32, width, line);
  place(IDC_PROGRESS_TARGET, margin, 52, width, line);
  place(IDC_PROGRESS_BAR, margin, 76, width, 16);
  place(IDC_PROGRESS_TIME_LEFT, margin, 102, width / 2 - 4, line);
  place(IDC_PROGRESS_SPEED, margin + width / 2 + 4, 102, width / 2 - 4, line);
  place(IDCANCEL, client.right - margin - 80, client.bottom - margin - 26, 80, 26);
}

void ProgressWindow::Invalidate() {
  // One repaint in the queue at a time, however often the worker writes.
  if (m_window && !m_repaintPosted.exchange(true)) {
    if (!::PostMessageW(m_window, kRepaintMessage, 0, 0)) m_repaintPosted = false;
  }
}

void ProgressWindow::SetTitle(std::u16string_view text) { ::SetWindowTextW(m_window, W(std::u16string(text))); }

void ProgressWindow::SetText(int control, std::u16string_view text) {
  ::SetDlgItemTextW(m_window, control, W(std::u16string(text)));
}

void ProgressWindow::ShowControl(int control, bool show) {
  ::ShowWindow(::GetDlgItem(m_window, control), show ? SW_SHOW : SW_HIDE);
}

void ProgressWindow::SetBar(int percent) { ::SendDlgItemMessageW(m_window, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0); }

void ProgressWindow::Destroy() {
  ::KillTimer(m_window, kTimerId);
  ::DestroyWindow(m_window);
}

void ProgressWindow::PostClose() { ::PostMessageW(m_window, WM_CLOSE, 0, 0); }

}  // namespace vdtransfer
