#pragma once
// Native test support: the real service program as a child process on an
// ephemeral loopback port, a sign-in over plain HTTP, and a transfer record
// over a real file with hooks for fault injection.
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "cloud_sdk.h"
#include "service_account.h"
#include "temp_dir.h"

namespace corbel::test {

using TempDir = vd::testing::TempDir;

// cloudserver serve --data <dir>: seeded once before its first start.
class ServerProcess {
 public:
  explicit ServerProcess(std::filesystem::path dataDir, std::string extraArgs = {});
  ~ServerProcess();
  // Starts on `port` (0: any); false when no port line came.
  bool Start(int port = 0);
  void Kill();  // SIGKILL: no chance to finish anything
  int port() const { return port_; }

 private:
  std::filesystem::path dataDir_;
  std::string extraArgs_;
  pid_t pid_ = -1;
  int port_ = 0;
};

void WriteRandomFile(const std::string& path, std::uint64_t size, unsigned seed);
std::string ReadWholeFile(const std::string& path);
// Asks for the upload task of one local file into `parentCatalogID`; the
// SDK's code, and the file's MD5 as the SDK computed it in `md5`.
int RequestUpload(ICloudSdk& sdk, const std::string& account, const std::string& parentCatalogID,
                  const std::string& path, const std::string& name, std::uint64_t size, UploadFileResult* task,
                  std::string* md5);

// Transfer record over a file, in the way the product's transfer object
// works: status under a lock, an event signalled by SetStatus, reference
// counted.
class FileRecord final : public ITransferRecord {
 public:
  static FileRecord* Create(const std::string& path, bool readMode);  // one reference held by the caller

  void AddRef() override { ++refs_; }
  void Release() override {
    if (--refs_ == 0) delete this;
  }
  std::string GetLocalPath() const override { return path_; }
  std::string GetUrl() const override { return url; }
  std::string GetHttpHeader() const override { return header; }
  DownloadHeaderRequest GetHeaderFields() const override { return fields; }
  bool IsReadMode() const override { return readMode_; }
  bool IsGzip() const override { return false; }
  bool IsFileOpen() const override { return fd_ >= 0; }
  std::int64_t ReadFile(std::uint64_t offset, void* buffer, std::uint32_t size) override;
  bool WriteFile(std::uint64_t offset, const void* data, std::uint32_t size) override;
  bool TruncateFile(std::uint64_t size) override;
  std::uint32_t GetStatus() const override;
  void SetStatus(std::uint32_t status) override;
  std::uint64_t GetFileSize() const override { return fileSize_.load(); }
  void SetFileSize(std::uint64_t bytes) override { fileSize_ = bytes; }
  std::uint64_t GetTransferred() const override { return transferred_.load(); }
  void SetTransferred(std::uint64_t bytes) override { transferred_ = bytes; }

  // The product's cancel: the status bit, then the event.
  void Cancel();
  // Waits for an end or cancel bit; the status word then.
  std::uint32_t Wait(int timeoutMs);
  int EndWrites() const { return endWrites_.load(); }
  int refs() const { return refs_.load(); }

  std::string url;
  std::string header;
  DownloadHeaderRequest fields;
  // Called before every read or write with its offset (fault injection).
  std::function<void(std::uint64_t offset)> onIo;

 private:
  FileRecord(std::string path, bool readMode, int fd);
  ~FileRecord();

  std::string path_;
  bool readMode_;
  int fd_;
  std::atomic<int> refs_{1};
  mutable std::mutex mutex_;
  std::condition_variable event_;
  std::uint32_t status_ = kTransferStatusNone;
  std::atomic<int> endWrites_{0};
  std::atomic<std::uint64_t> fileSize_{0};
  std::atomic<std::uint64_t> transferred_{0};
};

// Collects one callback and lets the test wait for it.
template <class Result>
struct CallbackBox {
  std::mutex mutex;
  std::condition_variable cv;
  int calls = 0;
  int code = -12345;
  Result result;
  std::thread::id thread;

  static void Invoke(int code, Result* result, void* user) {
    auto* box = static_cast<CallbackBox*>(user);
    std::lock_guard lock(box->mutex);
    ++box->calls;
    box->code = code;
    box->result = *result;
    box->thread = std::this_thread::get_id();
    box->cv.notify_all();
  }
  bool Wait(int timeoutMs = 20000) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return calls > 0; });
  }
};

}  // namespace corbel::test
