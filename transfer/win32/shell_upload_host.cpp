#include "shell_upload_host.h"

#include "login.h"
#include "message_box.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "result_msg.h"
#include "string_table.h"
#include "task_progress_window.h"
#include "trace.h"
#include "transfer_text.h"
#include "upload_ret_dlg.h"
#include "vd_settings.h"

namespace vdtransfer {

ICloudSdk* ShellUploadHost::Sdk() { return CurrentCloudSdk(); }

std::string ShellUploadHost::Account() { return vd::CVDLogin::GetInstance().GetAccount(); }

std::u16string ShellUploadHost::UserId() { return vd::CVDLogin::GetInstance().GetUserID(); }

bool ShellUploadHost::IsNetworkAvailable() { return vd::config::IsNetworkAvailable(platform::SystemRegistry()); }

std::string ShellUploadHost::GzipSuffixes() {
  return platform::WideToAnsi(vd::config::ReadGzipSuffixes(platform::SystemProfile(), m_moduleParent));
}

std::string ShellUploadHost::ResultMessage(int code) { return vd::CResultMsg::GetInstance().GetMsg(code); }

bool ShellUploadHost::CreateProgressWindow(const std::shared_ptr<CCTaskProgressDlg>& dialog, void* parent, bool show) {
  return ProgressWindow::Create(dialog, static_cast<HWND>(parent), show) != nullptr;
}

void ShellUploadHost::ShowMessage(void* parent, const std::u16string& text) {
  vd::ui::ShowText(static_cast<HWND>(parent), text, TableText(vd::resources::IDS_CAPTION), MB_OK);
}

void ShellUploadHost::ShowReport(void* parent, const std::u16string& title, const std::u16string& summary,
                                 const std::u16string& details) {
  VD_TRACE("CVDUploadFileTask::ShowUploadTaskDlg");
  // Modal: without a window of ours to own it, nobody may be there to close it.
  HWND owner = vd::ui::OwnerFor(static_cast<HWND>(parent));
  if (!owner) {
    VD_LOG_WARN("no window of ours to own the upload report, not shown: %s", platform::Utf16ToUtf8(summary).c_str());
    return;
  }
  CUploadRetDlg dialog;
  dialog.SetTitle(title);
  dialog.SetSmallShow(summary);
  dialog.SetFullDail(details);
  dialog.DoModal(owner);
}

}  // namespace vdtransfer
