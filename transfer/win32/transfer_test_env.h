#pragma once
// What the Windows transfer tests share: a message pump with a deadline, the
// engines' host over the real SDK and dialogs, and a fixture signed in to the
// cloudserver fixture's service once per process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cloud_sdk.h"
#include "login.h"
#include "md5.h"
#include "message_pump.h"
#include "platform/text.h"
#include "service_account.h"
#include "task_progress_window.h"
#include "transfer_host.h"
#include "upload_task.h"
#include "wine_test_support.h"

namespace vdtransfer {
namespace {

namespace fs = std::filesystem;

inline std::string U8(const std::wstring& text) { return platform::Utf16ToUtf8(std::u16string(text.begin(), text.end())); }

using vd::testing::PumpUntil;

class WineHost final : public ITransferHost {
 public:
  ICloudSdk* Sdk() override { return GetCloudSdk(); }
  std::string Account() override { return "alice"; }
  std::u16string UserId() override { return platform::Utf8ToUtf16(userId); }
  bool IsNetworkAvailable() override { return true; }
  std::string GzipSuffixes() override { return ".txt"; }
  std::string ResultMessage(int code) override { return std::to_string(code); }
  void OpenAndWait(const std::string&) override {}
  bool AskYesNo(void*, const std::u16string&) override { return false; }
  bool ListCatalog(const std::string& catalogId, std::vector<CloudEntry>* children) override {
    if (beforeList) beforeList();
    {
      std::lock_guard l(lock);
      if (auto it = listings.find(catalogId); it != listings.end()) {
        *children = it->second;
        return true;
      }
    }
    ListRequest request;
    request.account = "alice";
    request.catalogID = catalogId;
    ListResult result;
    if (GetCloudSdk()->SyncLs(request, &result) != kSdkOk) return false;
    for (const auto& c : result.catalogs) children->push_back({true, c.catalogID, c.catalogName, 0, c.catalogID, catalogId});
    for (const auto& c : result.contents)
      children->push_back({false, c.contentID, c.contentName, std::stoull(c.contentSize), c.contentID, catalogId});
    return true;
  }
  bool CreateProgressWindow(const std::shared_ptr<CCTaskProgressDlg>& dialog, void* parent, bool show,
                            bool ownThread) override {
    const HWND owner = static_cast<HWND>(parent);
    progress = ownThread ? ProgressWindow::CreateOnOwnThread(dialog, owner, show, tickMs)
                         : ProgressWindow::Create(dialog, owner, show, tickMs);
    return progress.load() != nullptr;
  }
  void ShowMessage(void*, const std::u16string& text) override {
    std::lock_guard l(lock);
    messages.push_back(platform::Utf16ToUtf8(text));
  }
  void ShowReport(void*, const std::u16string&, const std::u16string& summary, const std::u16string&) override {
    std::lock_guard l(lock);
    reports.push_back(platform::Utf16ToUtf8(summary));
  }

  std::string userId;
  // Fast ticks: a transfer on loopback lasts well under a second.
  UINT tickMs = 20;
  std::atomic<HWND> progress{nullptr};
  // Runs before every listing: a test holds a download's collect here.
  std::function<void()> beforeList;
  // Listings answered as given, before the service is asked: what a hostile
  // service could send.
  std::map<std::string, std::vector<CloudEntry>> listings;
  std::mutex lock;
  std::vector<std::string> messages, reports;
};

std::string ToAnsi(const fs::path& path) { return platform::WideToAnsi(path.u16string()); }

std::string FileMd5(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return corbel::Md5::HexOf(bytes);
}

void WriteBytes(const fs::path& path, std::uint64_t size, unsigned seed) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  std::string chunk(1 << 16, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::uint64_t done = 0; done < size;) {
    for (char& c : chunk) {
      x = x * 1664525u + 1013904223u;
      c = static_cast<char>(x >> 24);
    }
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - done));
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    done += n;
  }
}

ListResult List(ICloudSdk* sdk, const std::string& catalog) {
  ListRequest request;
  request.account = "alice";
  request.catalogID = catalog;
  ListResult result;
  EXPECT_EQ(sdk->SyncLs(request, &result), kSdkOk);
  return result;
}

// Signed in once per process against the fixture's service.
class TransferEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_port = vd::testing::CloudserverFixturePort();
    if (s_port <= 0 || !corbel::test::SignIn(s_port, "alice", "alice-pass", &s_alice)) return;
    s_folder = fs::temp_directory_path() / ("upload-e2e-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(s_folder);
    corbel::test::WriteSdkConfig(s_folder, s_port);
    s_ready = GetCloudSdk()->init(s_folder.string(), 0, s_folder.string(), 1) &&
              GetCloudSdk()->SetTokenInfo("alice", s_alice.token, s_alice.opToken) == kSdkOk;
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(s_folder, ec);
  }
  void SetUp() override {
    ASSERT_TRUE(s_ready) << "no service from the cloudserver fixture, or no sign-in";
    host.userId = s_alice.userID;
    SetTransferHost(&host);
    SetUploadTimings({50, 200});
    vd::SignedOutFlag() = 0;
  }
  void TearDown() override {
    // Every worker gives its slot back after its callback.
    PumpUntil([] { return RunningUploads().load() == 0; }, 30000);
    EXPECT_EQ(RunningUploads().load(), 0);
    SetTransferHost(nullptr);
  }
  // Uploads `root` through the engine and waits for its end: true when every item arrived.
  bool UploadTree(const UploadDirNode& root, std::uint32_t items, const std::u16string& title) {
    std::atomic<bool> uploaded{false};
    int result = -1;
    auto* up = new CVDUploadFileTask();
    if (up->StartUploadServer(root, "alice", nullptr, 0, {}, 0, {}, items, 0, title, nullptr,
                              [&](int r, const std::vector<UploadResultItem>&, vd::PcPidl) {
                                result = r;
                                uploaded = true;
                              }) != 0)
      return false;
    return PumpUntil([&] { return uploaded.load(); }, 120000) && result == 0;
  }
  std::string NewCatalog(const std::string& name) {
    return corbel::test::Mkdir(s_port, s_alice.token, s_alice.root, name + std::to_string(::GetCurrentProcessId()));
  }

  static inline int s_port = 0;
  static inline corbel::test::Account s_alice;
  static inline fs::path s_folder;
  static inline bool s_ready = false;
  WineHost host;
  ICloudSdk* sdk = GetCloudSdk();
};

}  // namespace
}  // namespace vdtransfer
