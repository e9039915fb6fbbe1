#include "upload_ret_dlg.h"

#include "platform/fault.h"
#include "string_table.h"
#include "task_progress_window.h"
#include "trace.h"
#include "transfer_dialog_ids.h"
#include "transfer_text.h"

namespace vdtransfer {
namespace {

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

void Place(HWND dialog, int control, int x, int y, int width, int height) {
  ::SetWindowPos(::GetDlgItem(dialog, control), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CUploadRetDlg::~CUploadRetDlg() {
  if (m_boldFont) ::DeleteObject(m_boldFont);
}

INT_PTR CUploadRetDlg::DoModal(HWND parent) {
  VD_TRACE("CUploadRetDlg::DoModal");
  return ::DialogBoxParamW(TransferResourceModule(), MAKEINTRESOURCEW(IDD_UPLOAD_RESULT), parent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CUploadRetDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(window, DWLP_USER, lParam);
  auto* self = reinterpret_cast<CUploadRetDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  INT_PTR handled = FALSE;
  platform::NoThrow("CUploadRetDlg::DialogProc", [&] {
    switch (message) {
      case WM_INITDIALOG:
        self->m_window = window;
        self->OnInitDialog();
        handled = TRUE;
        break;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDC_RESULT_DETAIL) {
          self->OnBnClickedBtnDetail();
          handled = TRUE;
        } else if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
          ::EndDialog(window, LOWORD(wParam));
          handled = TRUE;
        }
        break;
      default:
        break;
    }
  });
  return handled;
}

void CUploadRetDlg::OnInitDialog() {
  VD_TRACE("CUploadRetDlg::OnInitDialog");
  Place(m_window, IDC_RESULT_ICON, 40, 19, 16, 16);
  Place(m_window, IDC_RESULT_SUMMARY, 69, 20, 406, 74);
  Place(m_window, IDC_RESULT_HINT, 69, 94, 163, 16);
  Place(m_window, IDC_RESULT_DETAIL, 264, 110, 92, 27);
  Place(m_window, IDOK, 375, 110, 92, 27);
  Place(m_window, IDC_RESULT_DETAILS, 20, 160, 453, 182);
  ::MoveWindow(m_window, 515, 292, 500, kExpandedHeight, FALSE);
  ::SetWindowPos(m_window, nullptr, 0, 0, 500, kCollapsedHeight, SWP_NOMOVE | SWP_NOZORDER);
  m_expanded = false;

  LOGFONTW font = {};
  if (::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font)) {
    font.lfWeight = FW_BOLD;
    m_boldFont = ::CreateFontIndirectW(&font);
    if (m_boldFont) ::SendDlgItemMessageW(m_window, IDC_RESULT_SUMMARY, WM_SETFONT, reinterpret_cast<WPARAM>(m_boldFont), FALSE);
  }
  ::SetWindowTextW(m_window, W(m_title));
  ::SetDlgItemTextW(m_window, IDC_RESULT_SUMMARY, W(m_summary));
  ::SetDlgItemTextW(m_window, IDC_RESULT_DETAILS, W(m_details));
  HICON icon = static_cast<HICON>(
      ::LoadImageW(TransferResourceModule(), MAKEINTRESOURCEW(IDI_UPLOAD_RESULT), IMAGE_ICON, 16, 16, LR_SHARED));
  if (icon) ::SendDlgItemMessageW(m_window, IDC_RESULT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  ::SetDlgItemTextW(m_window, IDC_RESULT_HINT, W(TableText(vd::resources::IDS_REPORT_HINT)));
}

void CUploadRetDlg::OnBnClickedBtnDetail() {
  m_expanded = !m_expanded;
  RECT rect;
  ::GetWindowRect(m_window, &rect);
  ::MoveWindow(m_window, rect.left, rect.top, rect.right - rect.left, m_expanded ? kExpandedHeight : kCollapsedHeight,
               TRUE);
}

}  // namespace vdtransfer
