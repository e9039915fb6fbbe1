#pragma once
// Shared pieces of the cache tests: temporary folders, records, direct
// SQLite reads of what the cache wrote, and an SDK whose every call fails
// (the base of fault-injection doubles).
#include <filesystem>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cloud_sdk.h"
#include "temp_dir.h"

namespace vdcache::test {

using TempDir = vd::testing::TempDir;

CatalogInfo MakeCatalog(const std::string& id, const std::string& name, const std::string& updatetime = "20240101000000");
ContentInfo MakeContent(const std::string& id, const std::string& name, const std::string& updateTime = "20240101000000");

// Runs sql on the file and returns each row's columns joined by "|" (NULL as "<null>").
std::vector<std::string> QueryRows(const std::string& dbPath, const std::string& sql);

// Calls answered on threads of their own, as the SDK answers them; joined at
// the end (also the threads those calls start in turn).
class AsyncCalls {
 public:
  ~AsyncCalls() { JoinAll(); }
  void Run(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_threads.emplace_back(std::move(work));
  }
  void JoinAll() {
    for (;;) {
      std::list<std::thread> threads;
      {
        std::lock_guard<std::mutex> lock(m_lock);
        threads.swap(m_threads);
      }
      if (threads.empty()) return;
      for (auto& t : threads) t.join();
    }
  }

 private:
  std::mutex m_lock;
  std::list<std::thread> m_threads;
};

class FailingSdk : public ICloudSdk {
 public:
  virtual ~FailingSdk() = default;
  bool init(const std::string&, int, const std::string&, int) override { return false; }
  int GetIEProxy(std::string*, std::string*) override { return kSdkFailed; }
  int InitHttpX(const std::string&, const std::string&, const std::string&, const std::string&) override {
    return kSdkFailed;
  }
  int SetTokenInfo(const std::string&, const std::string&, const std::string&) override { return kSdkFailed; }
  int SetTokenInfoEx(const TokenInfoEx&) override { return kSdkFailed; }
  int getTokenByDomain(const std::string&, std::string*) override { return kSdkFailed; }
  int ls(const ListRequest&, SdkCallback<ListResult>, void*) override { return kSdkFailed; }
  int SyncLs(const ListRequest&, ListResult*) override { return kSdkFailed; }
  int SyncLsAll(const LsAllRequest&, ListResult*) override { return kSdkFailed; }
  int itemGetList(const ItemGetListRequest&, ItemGetListResult*, SdkCallback<ItemGetListResult>, void*) override {
    return kSdkFailed;
  }
  int getDiskInfo(const DiskInfoRequest&, SdkCallback<DiskInfoResult>, void*) override { return kSdkFailed; }
  int SyncMkdir(const MkdirRequest&, MkdirResult*) override { return kSdkFailed; }
  int updateCatalogInfo(const UpdateCatalogRequest&, OprResult*, SdkCallback<OprResult>, void*) override {
    return kSdkFailed;
  }
  int updateFile(const UpdateFileRequest&, OprResult*, SdkCallback<OprResult>, void*) override { return kSdkFailed; }
  int SyncMgtVirDirInfo(const MgtVirDirRequest&, OprResult*) override { return kSdkFailed; }
  int SyncCopy(const CopyMoveRequest&, OprResult*) override { return kSdkFailed; }
  int SyncMove(const CopyMoveRequest&, OprResult*) override { return kSdkFailed; }
  int GetShareList(const ShareListRequest&, ShareListResult*, SdkCallback<ShareListResult>, void*) override {
    return kSdkFailed;
  }
  int CancelShare(const CancelShareRequest&, OprResult*, SdkCallback<OprResult>, void*) override { return kSdkFailed; }
  int LeaveShare(const LeaveShareRequest&, OprResult*, SdkCallback<OprResult>, void*) override { return kSdkFailed; }
  int ReplyShare(const ReplyShareRequest&, OprResult*, SdkCallback<OprResult>, void*) override { return kSdkFailed; }
  int Md5CalFile(const std::string&, std::string*) override { return kSdkFailed; }
  int SyncUploadFileRequest(const UploadFileRequest&, UploadFileResult*) override { return kSdkFailed; }
  int makeUploadFileHttpHeader(const UploadHeaderRequest&, std::string*) override { return kSdkFailed; }
  int uploadFile(ITransferRecord*) override { return kSdkFailed; }
  int getUploadTaskInfoN(const UploadTaskInfoRequest&, UploadTaskInfoResult*) override { return kSdkFailed; }
  int SyncDelUploadTask(const std::string&, const UploadFileResult&, const std::string&, const std::string&) override {
    return kSdkFailed;
  }
  int pcDownloadFileRequest(const DownloadFileRequest&, ITransferRecord*) override { return kSdkFailed; }
  int makeDownloadFileHttpHeader(const DownloadHeaderRequest&, std::string*) override { return kSdkFailed; }
  int downloadFile(ITransferRecord*) override { return kSdkFailed; }
  int downloadFileEx(const std::string&, const std::string&, const std::string&, const std::string&,
                     SdkCallback<DownloadFileExResult>, void*) override {
    return kSdkFailed;
  }
  int NewEvent(const NewEventRequest&, OprResult*, SdkCallback<OprResult>, void*) override { return kSdkFailed; }
  int RecordOprLogExAndXML(const OprLogRecord&, int) override { return kSdkFailed; }
};

// The real SDK behind the calls the caches and the sign-in make, so that a
// test can count or fail one of them and pass the rest through.
class ForwardingSdk : public FailingSdk {
 public:
  explicit ForwardingSdk(ICloudSdk* real) : m_real(real) {}
  bool init(const std::string& log, int r, const std::string& module, int mode) override {
    return m_real->init(log, r, module, mode);
  }
  int GetIEProxy(std::string* h, std::string* p) override { return m_real->GetIEProxy(h, p); }
  int InitHttpX(const std::string& h, const std::string& p, const std::string& u, const std::string& w) override {
    return m_real->InitHttpX(h, p, u, w);
  }
  int SetTokenInfo(const std::string& a, const std::string& t, const std::string& o) override {
    return m_real->SetTokenInfo(a, t, o);
  }
  int SetTokenInfoEx(const TokenInfoEx& t) override { return m_real->SetTokenInfoEx(t); }
  int ls(const ListRequest& r, SdkCallback<ListResult> cb, void* user) override { return m_real->ls(r, cb, user); }
  int SyncLs(const ListRequest& r, ListResult* out) override { return m_real->SyncLs(r, out); }
  int GetShareList(const ShareListRequest& r, ShareListResult* out, SdkCallback<ShareListResult> cb,
                   void* user) override {
    return m_real->GetShareList(r, out, cb, user);
  }
  int itemGetList(const ItemGetListRequest& r, ItemGetListResult* out, SdkCallback<ItemGetListResult> cb,
                  void* user) override {
    return m_real->itemGetList(r, out, cb, user);
  }
  int downloadFile(ITransferRecord* t) override { return m_real->downloadFile(t); }

 private:
  ICloudSdk* m_real;
};

}  // namespace vdcache::test
