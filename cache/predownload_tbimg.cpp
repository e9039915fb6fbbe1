#include "predownload_tbimg.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "cache_paths.h"
#include "local_name.h"
#include "platform/text.h"
#include "trace.h"

namespace vdcache {
namespace {

// The transfer record of one thumbnail: the temporary file, a status word
// and the completion event the SDK signals.
class ThumbnailTransfer final : public ITransferRecord {
 public:
  static ThumbnailTransfer* Create(const std::string& path, const std::string& url, const std::string& account) {
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    if (!file) return nullptr;
    return new ThumbnailTransfer(file, path, url, account);
  }

  void AddRef() override { m_refs.fetch_add(1); }
  void Release() override {
    if (m_refs.fetch_sub(1) == 1) delete this;
  }
  std::string GetLocalPath() const override { return m_path; }
  std::string GetUrl() const override { return m_url; }
  std::string GetHttpHeader() const override { return {}; }
  // The account tells the SDK whose token the service's thumbnail address wants.
  DownloadHeaderRequest GetHeaderFields() const override {
    DownloadHeaderRequest fields;
    fields.account = m_account;
    return fields;
  }
  bool IsReadMode() const override { return false; }
  bool IsGzip() const override { return false; }
  bool IsFileOpen() const override { return m_file != nullptr; }
  std::int64_t ReadFile(std::uint64_t, void*, std::uint32_t) override { return -1; }
  bool WriteFile(std::uint64_t offset, const void* data, std::uint32_t size) override {
    std::lock_guard<std::mutex> lock(m_fileLock);
    if (!m_file || std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fwrite(data, 1, size, m_file) == size;
  }
  bool TruncateFile(std::uint64_t size) override { return size == 0; }
  std::uint32_t GetStatus() const override {
    std::lock_guard<std::mutex> lock(m_statusLock);
    return m_status;
  }
  void SetStatus(std::uint32_t status) override {
    {
      std::lock_guard<std::mutex> lock(m_statusLock);
      m_status = status;
      m_signaled = true;
    }
    m_event.notify_all();
  }
  std::uint64_t GetFileSize() const override { return m_size.load(); }
  void SetFileSize(std::uint64_t bytes) override { m_size = bytes; }
  std::uint64_t GetTransferred() const override { return m_done.load(); }
  void SetTransferred(std::uint64_t bytes) override { m_done = bytes; }

  // Waits for the event; false on a time-out (the event is then reset).
  bool Wait(uint32_t ms) {
    std::unique_lock<std::mutex> lock(m_statusLock);
    const bool signaled = m_event.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_signaled; });
    m_signaled = false;
    return signaled;
  }
  void CloseFile() {
    std::lock_guard<std::mutex> lock(m_fileLock);
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
  }

 private:
  ThumbnailTransfer(std::FILE* file, std::string path, std::string url, std::string account)
      : m_file(file), m_path(std::move(path)), m_url(std::move(url)), m_account(std::move(account)) {}
  ~ThumbnailTransfer() { CloseFile(); }

  std::atomic<int> m_refs{1};
  mutable std::mutex m_fileLock;
  std::FILE* m_file;
  std::string m_path, m_url, m_account;
  mutable std::mutex m_statusLock;
  std::condition_variable m_event;
  bool m_signaled = false;
  std::uint32_t m_status = kTransferStatusNone;
  std::atomic<std::uint64_t> m_size{0}, m_done{0};
};

struct TransferRef {
  ThumbnailTransfer* p;
  ~TransferRef() {
    if (p) p->Release();
  }
};

// One catalog's thumbnails on the pool.
class PreDownloadTbimgJob final : public ThreadJob {
 public:
  PreDownloadTbimgJob(PreDownloadTbimg* owner, std::string catalogID, ListResult listing)
      : m_owner(owner), m_catalogID(std::move(catalogID)), m_listing(std::move(listing)) {}
  void DoJob(void*) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_owner->PreDownloadTbimgFiles(m_catalogID, m_listing);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

 private:
  PreDownloadTbimg* m_owner;
  std::string m_catalogID;
  ListResult m_listing;
};

// The display path's names, each made a safe local name; nothing when one
// of them cannot be. Split as UTF-16: a trail byte of a double-byte
// character in the code page may look like a backslash.
std::optional<std::string> LocalFolderPath(const std::string& displayPath) {
  const std::u16string wide = platform::AnsiToWide(displayPath);
  std::string path;
  std::size_t start = 0;
  while (start <= wide.size()) {
    const std::size_t end = std::min(wide.find_first_of(u"\\/", start), wide.size());
    if (end > start) {
      const vd::localname::LocalName name = vd::localname::MakeLocalName(std::u16string_view(wide).substr(start, end - start));
      if (name.verdict == vd::localname::Verdict::Refused) {
        VD_LOG_WARN("catalog path %s: a name is refused (%s)", displayPath.c_str(), name.reason);
        return std::nullopt;
      }
      path = JoinAnsiPath(path, platform::WideToAnsi(name.name));
    }
    start = end + 1;
  }
  return path;
}

}  // namespace

PreDownloadTbimg::PreDownloadTbimg(ICloudSdk* sdk, ThumbnailRecords* records, ThreadPool* pool,
                                   std::string documentsFolder, std::string account,
                                   std::function<std::string(const std::string&)> catalogPath)
    : m_sdk(sdk),
      m_records(records),
      m_pool(pool),
      m_documents(std::move(documentsFolder)),
      m_account(std::move(account)),
      m_catalogPath(std::move(catalogPath)) {}

void PreDownloadTbimg::QueueCatalog(const std::string& catalogID, const ListResult& listing) {
  m_pool->CallJob(new PreDownloadTbimgJob(this, catalogID, listing));
}

std::string PreDownloadTbimg::GetBreviaryPath(const std::string& displayPath) const {
  if (displayPath.empty()) return {};
  const std::optional<std::string> local = LocalFolderPath(displayPath);
  if (!local || local->empty()) return {};
  std::string folder = JoinAnsiPath(JoinAnsiPath(JoinAnsiPath(m_documents, "ORLO"), m_account), "DownloadFile");
  return JoinAnsiPath(folder, *local);
}

std::vector<BreviaryItem> PreDownloadTbimg::GenerateBngRUL(const std::string& displayPath, const ListResult& listing) {
  std::vector<BreviaryItem> items;
  if (displayPath.empty()) return items;
  const std::string folder = GetBreviaryPath(displayPath);
  if (folder.empty()) return items;
  for (auto it = listing.contents.rbegin(); it != listing.contents.rend(); ++it) {
    const ContentInfo& c = *it;
    if (c.thumbnailURL.empty() || c.thumbnailURL == "0") continue;
    // IDs and extensions become file names: nothing that leaves the folder.
    if (c.contentID.empty() || c.contentID.find_first_of("/\\:.") != std::string::npos) continue;
    BreviaryItem item;
    const size_t dot = c.contentName.rfind('.');
    item.baseName = dot == std::string::npos ? c.contentName : c.contentName.substr(0, dot);
    item.extension = dot == std::string::npos ? std::string() : c.contentName.substr(dot + 1);
    const std::optional<std::string> fileName =
        vd::localname::MakeLocalNameAnsi(item.extension.empty() ? c.contentID : c.contentID + "." + item.extension);
    if (!fileName) continue;
    item.thumbnailURL = c.thumbnailURL;
    item.contentID = c.contentID;
    item.updateTime = c.updateTime;
    item.contentSize = c.contentSize;
    item.folder = folder;
    item.tempPath = JoinAnsiPath(folder, c.contentID + ".tmp");
    item.finalPath = JoinAnsiPath(folder, *fileName);
    std::string recorded;
    const bool known = m_records->Find(c.contentID, &recorded);
    if (known && recorded == c.updateTime && AnsiFileExists(item.finalPath)) continue;
    items.push_back(std::move(item));
  }
  return items;
}

bool PreDownloadTbimg::DownloadMyPerTask(const BreviaryItem& item) {
  TransferRef transfer{ThumbnailTransfer::Create(item.tempPath, item.thumbnailURL, m_account)};
  if (!transfer.p || !m_sdk) return false;
  if (m_sdk->downloadFile(transfer.p) != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
  uint32_t status = 0;
  for (;;) {
    transfer.p->Wait(5000);
    status = transfer.p->GetStatus();
    if (status & kTransferEndMask) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      transfer.p->SetStatus(kTransferStatusCancel);
      return false;
    }
  }
  transfer.p->CloseFile();
  if (!(status & kTransferStatusDone)) {
    AnsiRemoveFile(item.tempPath);
    return false;
  }
  if (AnsiFileExists(item.finalPath)) AnsiRemoveFile(item.finalPath);
  if (!AnsiRename(item.tempPath, item.finalPath)) VD_LOG_WARN("Move dir Error! %s", item.finalPath.c_str());
  m_records->Insert(item.contentID, item.updateTime);
  return true;
}

int PreDownloadTbimg::DoDownLoadBreviaryFiles(const std::vector<BreviaryItem>& items) {
  int arrived = 0, n = 0;
  for (const BreviaryItem& item : items) {
    AnsiCreateDirectories(item.folder);
    for (int attempt = 0; attempt < 2; ++attempt)
      if (DownloadMyPerTask(item)) {
        ++arrived;
        break;
      }
    if (++n % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return arrived;
}

int PreDownloadTbimg::PreDownloadTbimgFiles(const std::string& catalogID, const ListResult& listing) {
  VD_TRACE("PreDownloadTbimg::PreDownloadTbimgFiles");
  const std::vector<BreviaryItem> items = GenerateBngRUL(m_catalogPath(catalogID), listing);
  if (items.empty()) return 0;
  return DoDownLoadBreviaryFiles(items);
}

}  // namespace vdcache
