#pragma once
// The transfer engines' host in the benchmarks: the real SDK signed in as
// alice, a headless progress window ticking at the product's period, and no
// message boxes.
#include <memory>
#include <string>
#include <vector>

#include "cloud_sdk.h"
#include "headless_progress_window.h"
#include "transfer_host.h"

namespace vdtransfer {

// Every child of alice's catalog, all pages.
inline LsAllRequest AllOf(const std::string& catalogId) {
  LsAllRequest request;
  request.account = "alice";
  request.catalogID = catalogId;
  return request;
}

class BenchHost final : public ITransferHost {
 public:
  explicit BenchHost(ICloudSdk* sdk) : m_sdk(sdk) {}
  ICloudSdk* Sdk() override { return m_sdk; }
  std::string Account() override { return "alice"; }
  std::u16string UserId() override { return u""; }
  bool IsNetworkAvailable() override { return true; }
  std::string GzipSuffixes() override { return {}; }
  std::string ResultMessage(int code) override { return std::to_string(code); }
  void OpenAndWait(const std::string&) override {}
  bool AskYesNo(void*, const std::u16string&) override { return false; }
  bool ListCatalog(const std::string& catalogId, std::vector<CloudEntry>* children) override {
    ListResult result;
    if (m_sdk->SyncLsAll(AllOf(catalogId), &result) != kSdkOk) return false;
    for (const auto& c : result.catalogs) children->push_back({true, c.catalogID, c.catalogName, 0, c.catalogID, catalogId});
    for (const auto& c : result.contents)
      children->push_back({false, c.contentID, c.contentName, std::stoull(c.contentSize), c.contentID, catalogId});
    return true;
  }
  bool CreateProgressWindow(const std::shared_ptr<CCTaskProgressDlg>& dialog, void*, bool, bool) override {
    window = std::make_unique<HeadlessProgressWindow>(dialog, kProgressTimerMs);  // the product's period
    return true;
  }
  void ShowMessage(void*, const std::u16string&) override {}
  void ShowReport(void*, const std::u16string&, const std::u16string&, const std::u16string&) override {}
  std::unique_ptr<HeadlessProgressWindow> window;

 private:
  ICloudSdk* m_sdk;
};

}  // namespace vdtransfer
