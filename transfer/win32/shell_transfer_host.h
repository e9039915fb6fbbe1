#pragma once
// The transfer engines' view of the library's process: the signed-in account,
// the desktop client's word on the network, sdkconfig.ini, the result-code
// texts, and the real dialogs and message boxes.
#include <windows.h>

#include <string>

#include "upload_task.h"

namespace vdtransfer {

class ShellTransferHost final : public ITransferHost {
 public:
  // `moduleParent` holds sdkconfig.ini.
  explicit ShellTransferHost(std::u16string moduleParent) : m_moduleParent(std::move(moduleParent)) {}

  ICloudSdk* Sdk() override;
  std::string Account() override;
  std::u16string UserId() override;
  bool IsNetworkAvailable() override;
  std::string GzipSuffixes() override;
  std::string ResultMessage(int code) override;
  bool ListCatalog(const std::string& catalogId, std::vector<CloudEntry>* children) override;
  void OpenAndWait(const std::string& ansiPath) override;
  bool AskYesNo(void* parent, const std::u16string& text) override;
  bool CreateProgressWindow(const std::shared_ptr<CCTaskProgressDlg>& dialog, void* parent, bool show,
                            bool ownThread) override;
  void ShowMessage(void* parent, const std::u16string& text) override;
  void ShowReport(void* parent, const std::u16string& title, const std::u16string& summary,
                  const std::u16string& details) override;
  void CutItemsMoved(const std::string& parentCatalogId) override;

 private:
  std::u16string m_moduleParent;
};

}  // namespace vdtransfer
