// vdupload.exe: uploads a local folder into a new catalog of the signed-in
// user's cloud disk through the upload engine, with its progress dialog and
// report, the way a drop on the cloud disk does. The desktop client must have
// signed in; the program sits beside CorbelSdk64.dll and sdkconfig.ini.
//
//   vdupload.exe <local folder> <new catalog name>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "cloud_sdk.h"
#include "login.h"
#include "message_box.h"
#include "pidl.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "string_table.h"
#include "task_progress_window.h"
#include "transfer_text.h"
#include "upload_ret_dlg.h"
#include "upload_task.h"

namespace {

using namespace vdtransfer;

class ToolHost final : public ITransferHost {
 public:
  ToolHost(std::string account, std::u16string userId) : m_account(std::move(account)), m_userId(std::move(userId)) {}
  ICloudSdk* Sdk() override { return GetCloudSdk(); }
  std::string Account() override { return m_account; }
  std::u16string UserId() override { return m_userId; }
  bool IsNetworkAvailable() override { return true; }
  std::string GzipSuffixes() override { return {}; }
  std::string ResultMessage(int code) override { return std::to_string(code); }
  void OpenAndWait(const std::string&) override {}
  bool AskYesNo(void*, const std::u16string&) override { return false; }
  bool ListCatalog(const std::string&, std::vector<CloudEntry>*) override { return false; }
  bool CreateProgressWindow(const std::shared_ptr<CCTaskProgressDlg>& dialog, void* parent, bool show, bool) override {
    return ProgressWindow::Create(dialog, static_cast<HWND>(parent), show) != nullptr;
  }
  void ShowMessage(void* parent, const std::u16string& text) override {
    vd::ui::ShowText(static_cast<HWND>(parent), text, TableText(vd::resources::IDS_CAPTION), MB_OK);
  }
  void ShowReport(void* parent, const std::u16string& title, const std::u16string& summary,
                  const std::u16string& details) override {
    CUploadRetDlg dialog;
    dialog.SetTitle(title);
    dialog.SetSmallShow(summary);
    dialog.SetFullDail(details);
    dialog.DoModal(static_cast<HWND>(parent));
  }

 private:
  std::string m_account;
  std::u16string m_userId;
};

// The folder's tree as a drop collects it: dot names and hidden or system
// entries left out.
void Collect(UploadDirNode& node, const std::u16string& folder, std::uint32_t* items, std::uint64_t* bytes) {
  std::vector<platform::DirEntry> entries;
  if (platform::SystemFileSystem().List(folder, entries) != platform::kOk) return;
  for (const auto& e : entries) {
    if (e.name.empty() || e.name[0] == u'.') continue;
    const std::u16string full = platform::JoinPath(folder, e.name);
    const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(full.c_str()));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) continue;
    if (e.is_directory) {
      UploadDirNode sub;
      sub.localPath = platform::WideToAnsi(full);
      Collect(sub, full, items, bytes);
      node.subdirs.push_back(std::move(sub));
    } else {
      node.files.push_back(platform::WideToAnsi(full));
      *bytes += e.size;
    }
    ++*items;
  }
}

int Fail(const char* what) {
  std::fprintf(stderr, "vdupload: %s\n", what);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return Fail("usage: vdupload.exe <local folder> <new catalog name>");
  const std::u16string folder = reinterpret_cast<const char16_t*>(argv[1]);
  const std::u16string name = reinterpret_cast<const char16_t*>(argv[2]);
  auto& registry = platform::SystemRegistry();
  const auto info = vd::ReadSignInValue(registry, vd::kLarkmereKey, u"RCSLoginInfo");
  const auto login = info ? vd::SplitLoginInfo(*info) : std::nullopt;
  const std::u16string userId = vd::ReadSignInValue(registry, vd::kOrloKey, u"User_ID").value_or(u"");
  if (!login || userId.empty()) return Fail("nobody is signed in");
  const std::string account = platform::WideToAnsi(login->account);

  std::u16string exeFolder = platform::ExecutablePath();
  exeFolder.resize(exeFolder.find_last_of(u'\\'));
  ICloudSdk* sdk = GetCloudSdk();
  if (!sdk->init(platform::WideToAnsi(exeFolder), 0, platform::WideToAnsi(exeFolder), 1)) return Fail("SDK init");
  sdk->SetTokenInfo(account, platform::WideToAnsi(login->token), platform::WideToAnsi(login->opToken));

  MkdirRequest mkdir;
  mkdir.account = account;
  mkdir.parentCatalogID = platform::WideToAnsi(userId + std::u16string(vd::kRootCatalogId));
  mkdir.catalogName = platform::WideToAnsi(name);
  MkdirResult made;
  if (const int code = sdk->SyncMkdir(mkdir, &made)) {
    std::fprintf(stderr, "vdupload: the catalog could not be made: %d\n", code);
    return 1;
  }

  UploadDirNode root;
  root.catalogId = made.catalogID;
  std::uint32_t items = 0;
  std::uint64_t bytes = 0;
  Collect(root, folder, &items, &bytes);
  ToolHost host(account, userId);
  SetTransferHost(&host);

  std::atomic<bool> done{false};
  int result = -1;
  std::size_t records = 0;
  auto* task = new CVDUploadFileTask();
  task->title = u"Veyra云盘\\" + name;
  const int started = task->StartUploadServer(
      root, account, nullptr, 0, {}, 0, {}, items, bytes, task->title, nullptr,
      [&](int r, const std::vector<UploadResultItem>& results, vd::PcPidl) {
        result = r;
        records = results.size();
        done = true;
      });
  if (started != 0) {
    std::fprintf(stderr, "vdupload: the upload did not start: %d\n", started);
    return 1;
  }
  // The dialog lives on this thread: it needs its messages.
  MSG msg;
  while (!done) {
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0) {
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
  }
  std::printf("uploaded %zu items of %u (%llu bytes) into %s: result %d\n", records, items,
              static_cast<unsigned long long>(bytes), made.catalogID.c_str(), result);
  return result == 0 ? 0 : 2;
}
