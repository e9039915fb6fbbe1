#pragma once
// One local file the cloud SDK reads (an upload's source) or writes (a
// download's target). The engines create it, the SDK moves the bytes and ends
// it with one status write, the progress dialog polls it and may cancel it.
// The status word and the byte counts each sit under a lock of their own,
// held for one read or write only; every status write signals the completion
// event.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "cloud_sdk_transfer.h"
#include "platform/files.h"
#include "platform/sync.h"

namespace vdtransfer {

// Attributes an upload opens its source with (FILE_ATTRIBUTE_NORMAL).
inline constexpr std::uint32_t kNormalAttributes = 128;

class TransferObject final : public ITransferRecord {
 public:
  // Opens the file; the caller holds the one reference. A file that does not
  // open leaves the failure bit in the status, with the event not signalled.
  // Read mode: an existing file others may read too. Write mode: opened or
  // created for this object alone, with `attributes`.
  static TransferObject* Create(const std::string& ansiPath, std::uint32_t status, bool readMode,
                                std::uint32_t attributes);

  // Set before the object is handed to the SDK; fixed afterwards.
  void SetUrl(std::string url) { m_url = std::move(url); }
  void SetHttpHeader(std::string header) { m_header = std::move(header); }
  void SetHeaderFields(DownloadHeaderRequest fields) { m_headerFields = std::move(fields); }
  void SetGzip(bool gzip) { m_gzip = gzip; }

  // The product's side: a cancel is a status write like any other, so the
  // waiting side wakes at once.
  void Cancel() { SetStatus(kTransferStatusCancel); }
  // True when the event was signalled within the time; the status word then.
  bool WaitSignalled(std::uint32_t timeoutMs, std::uint32_t* status) const;
  bool IsEnded() const { return (GetStatus() & kTransferEndMask) != 0; }
  // References held, the SDK's included while it still runs the transfer.
  int References() const { return m_refs.load(std::memory_order_acquire); }
  // Why the file did not open (platform::kOk when it did).
  platform::Result OpenError() const { return m_openError; }

  // ITransferRecord
  void AddRef() override { m_refs.fetch_add(1, std::memory_order_relaxed); }
  void Release() override;
  std::string GetLocalPath() const override { return m_path; }
  std::string GetUrl() const override { return m_url; }
  std::string GetHttpHeader() const override { return m_header; }
  DownloadHeaderRequest GetHeaderFields() const override { return m_headerFields; }
  bool IsReadMode() const override { return m_readMode; }
  bool IsGzip() const override { return m_gzip; }
  bool IsFileOpen() const override { return m_file != nullptr; }
  std::int64_t ReadFile(std::uint64_t offset, void* buffer, std::uint32_t size) override;
  bool WriteFile(std::uint64_t offset, const void* data, std::uint32_t size) override;
  bool TruncateFile(std::uint64_t size) override;
  std::uint32_t GetStatus() const override;
  void SetStatus(std::uint32_t status) override;
  std::uint64_t GetFileSize() const override;
  void SetFileSize(std::uint64_t bytes) override;
  std::uint64_t GetTransferred() const override;
  void SetTransferred(std::uint64_t bytes) override;

 private:
  TransferObject(std::string path, std::uint32_t status, bool readMode, std::uint32_t attributes);
  ~TransferObject() = default;

  std::atomic<int> m_refs{1};
  std::unique_ptr<platform::LocalFile> m_file;
  platform::Result m_openError = platform::kOk;
  const std::string m_path;
  std::string m_url;
  std::string m_header;
  DownloadHeaderRequest m_headerFields;
  std::unique_ptr<platform::NamedEvent> m_done;  // manual reset, set by every status write
  mutable std::mutex m_statusLock;
  std::uint32_t m_status;
  mutable std::mutex m_countLock;
  std::uint64_t m_fileSize = 0;
  std::uint64_t m_transferred = 0;  // a resumed upload starts at what the service holds
  const bool m_readMode;
  bool m_gzip = false;
  const std::uint32_t m_attributes;
};

}  // namespace vdtransfer
