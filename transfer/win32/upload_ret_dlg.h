#pragma once
// The upload report (dialog 123): a bold summary with an icon, a hint, and
// the details folded away until the user asks for them.
#include <windows.h>

#include <string>

namespace vdtransfer {

class CUploadRetDlg {
 public:
  static constexpr int kCollapsedHeight = 186;
  static constexpr int kExpandedHeight = 400;

  CUploadRetDlg() = default;
  ~CUploadRetDlg();
  CUploadRetDlg(const CUploadRetDlg&) = delete;
  CUploadRetDlg& operator=(const CUploadRetDlg&) = delete;

  void SetTitle(std::u16string text) { m_title = std::move(text); }
  void SetSmallShow(std::u16string text) { m_summary = std::move(text); }
  void SetFullDail(std::u16string text) { m_details = std::move(text); }

  // Modal over `parent`; the button that closed it.
  INT_PTR DoModal(HWND parent);

  bool IsExpanded() const { return m_expanded; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnBnClickedBtnDetail();

  std::u16string m_title, m_summary, m_details;
  HWND m_window = nullptr;
  HFONT m_boldFont = nullptr;
  bool m_expanded = false;
};

}  // namespace vdtransfer
