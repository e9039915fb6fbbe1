#pragma once
// What the transfer engines need of their process. The library installs the
// real one at start-up; tests and tools install their own windows, dialogs
// and catalog listings.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cloud_sdk.h"
#include "task_progress_dlg.h"

namespace vdtransfer {

// A cloud item as a download sees it.
struct CloudEntry {
  bool isCatalog = false;
  std::string id;        // catalog or content ID
  std::string name;      // as the service names it, ANSI
  std::uint64_t size = 0;
  std::string fullId;    // the second identifier a download request carries
  std::string parentId;  // the catalog holding it: where an opened file is sent back to
};

class ITransferHost {
 public:
  virtual ICloudSdk* Sdk() = 0;
  virtual std::string Account() = 0;  // signed in now
  virtual std::u16string UserId() = 0;
  virtual bool IsNetworkAvailable() = 0;
  // sdkconfig.ini [SDK] Gzip: the extensions sent compressed.
  virtual std::string GzipSuffixes() = 0;
  virtual std::string ResultMessage(int code) = 0;  // UTF-8
  // A catalog's children, as the catalog cache holds them; false when it cannot say.
  virtual bool ListCatalog(const std::string& catalogId, std::vector<CloudEntry>* children) = 0;
  // Makes the dialog's window, owned by `parent`, hidden unless `show`. A
  // caller that waits on transfers and runs no messages (a download's worker)
  // asks for `ownThread`: the window then runs on a thread of its own.
  virtual bool CreateProgressWindow(const std::shared_ptr<CCTaskProgressDlg>& dialog, void* parent, bool show,
                                    bool ownThread) = 0;
  // A message box with caption 124 over `parent` (null: no window of ours).
  virtual void ShowMessage(void* parent, const std::u16string& text) = 0;
  // Opens a downloaded file with its associated program and returns when the
  // user is done with it (the program ended and the file is no longer in use).
  virtual void OpenAndWait(const std::string& ansiPath) = 0;
  // A yes/no question with caption 124; true for yes.
  virtual bool AskYesNo(void* parent, const std::u16string& text) = 0;
  // A transfer report (dialog 123), modal over `parent`.
  virtual void ShowReport(void* parent, const std::u16string& title, const std::u16string& summary,
                          const std::u16string& details) = 0;
  // Cut items went away on the service after their download: the folder
  // they were in is read again and the clipboard that held them emptied.
  virtual void CutItemsMoved(const std::string& parentCatalogId) { (void)parentCatalogId; }

 protected:
  ~ITransferHost() = default;
};

void SetTransferHost(ITransferHost* host);
ITransferHost* CurrentTransferHost();

}  // namespace vdtransfer
