#include "shell_transfer_host.h"

#include <cstdlib>

#include <shellapi.h>

#include "login.h"
#include "vd_cache.h"
#include "message_box.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "result_msg.h"
#include "string_table.h"
#include "task_progress_window.h"
#include "trace.h"
#include "transfer_text.h"
#include "transfer_util.h"
#include "upload_ret_dlg.h"
#include "vd_settings.h"

namespace vdtransfer {

ICloudSdk* ShellTransferHost::Sdk() { return CurrentCloudSdk(); }

std::string ShellTransferHost::Account() { return vd::CVDLogin::GetInstance().GetAccount(); }

std::u16string ShellTransferHost::UserId() { return vd::CVDLogin::GetInstance().GetUserID(); }

bool ShellTransferHost::IsNetworkAvailable() { return vd::config::IsNetworkAvailable(platform::SystemRegistry()); }

std::string ShellTransferHost::GzipSuffixes() {
  return platform::WideToAnsi(vd::config::ReadGzipSuffixes(platform::SystemProfile(), m_moduleParent));
}

std::string ShellTransferHost::ResultMessage(int code) { return vd::CResultMsg::GetInstance().GetMsg(code); }

bool ShellTransferHost::ListCatalog(const std::string& catalogId, std::vector<CloudEntry>* children) {
  vdcache::CVDCache* cache = vdcache::CVDCache::GetInstance();
  if (!cache) return false;
  ListRequest request;
  request.account = Account();
  request.catalogID = catalogId;
  ListResult listing;
  // On a worker: the cache may go to the service for a catalog it never listed.
  if (cache->GetDisk(request, &listing, true, false) != 0) return false;
  for (const auto& c : listing.catalogs) children->push_back({true, c.catalogID, c.catalogName, 0, c.catalogID, catalogId});
  for (const auto& c : listing.contents)
    children->push_back(
        {false, c.contentID, c.contentName, std::strtoull(c.contentSize.c_str(), nullptr, 10), c.contentID, catalogId});
  return true;
}

void ShellTransferHost::CutItemsMoved(const std::string& parentCatalogId) {
  if (vdcache::CVDCache* cache = vdcache::CVDCache::GetInstance()) {
    ListRequest request;
    request.account = Account();
    request.catalogID = parentCatalogId;
    request.startNumber = request.endNumber = "-1";
    ListResult listing;
    cache->GetDisk(request, &listing, false, true);
  }
  if (::OpenClipboard(nullptr)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }
}

void ShellTransferHost::OpenAndWait(const std::string& ansiPath) {
  const std::u16string path = platform::AnsiToWide(ansiPath);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = reinterpret_cast<const wchar_t*>(path.c_str());
  info.nShow = SW_SHOWNORMAL;
  const ULONGLONG start = ::GetTickCount64();
  const BOOL ran = ::ShellExecuteExW(&info);
  VD_LOG_INFO("Run Process %s  hInstApp=%d hProcess=%p", ansiPath.c_str(),
              static_cast<int>(reinterpret_cast<INT_PTR>(info.hInstApp)), static_cast<void*>(info.hProcess));
  if (!ran || !info.hProcess) return;
  // This worker owns no windows, but a program may still send it messages.
  while (::MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  ::CloseHandle(info.hProcess);
  if (::GetTickCount64() - start >= 3000) return;
  // Ended at once: the file went to a program already running. It is done
  // with the file when the file opens exclusively again.
  ::Sleep(5000);
  DWORD error = ERROR_SHARING_VIOLATION;
  while (error == ERROR_SHARING_VIOLATION && !StopRequested()) {
    HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = file == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    if (error == ERROR_SHARING_VIOLATION) ::Sleep(2000);
  }
  VD_LOG_INFO("After Process %s dwErr=%lu", ansiPath.c_str(), error);
}

bool ShellTransferHost::AskYesNo(void* parent, const std::u16string& text) {
  return vd::ui::ShowText(static_cast<HWND>(parent), text, TableText(vd::resources::IDS_CAPTION), MB_YESNO) == IDYES;
}

bool ShellTransferHost::CreateProgressWindow(const std::shared_ptr<CCTaskProgressDlg>& dialog, void* parent, bool show,
                                             bool ownThread) {
  const HWND owner = static_cast<HWND>(parent);
  return (ownThread ? ProgressWindow::CreateOnOwnThread(dialog, owner, show) : ProgressWindow::Create(dialog, owner, show)) !=
         nullptr;
}

void ShellTransferHost::ShowMessage(void* parent, const std::u16string& text) {
  vd::ui::ShowText(static_cast<HWND>(parent), text, TableText(vd::resources::IDS_CAPTION), MB_OK);
}

void ShellTransferHost::ShowReport(void* parent, const std::u16string& title, const std::u16string& summary,
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
