#pragma once
// The cloud SDK (CorbelSdk64.dll) as the product uses it: every call the
// product makes. Nothing else in the product reaches the cloud service.
//
// Results: every call returns 0 on success, otherwise a result code (the
// service's own codes passed through, or one of the kSdk* codes below), which
// the product turns into a message. init alone answers true/false.
//
// Asynchronous calls take a callback and a user pointer. They return 0 when
// the work was queued, and then the callback runs exactly once, on an SDK
// thread, never inside the call itself; a non-zero return means no callback
// will come. The callback gets the result code, a result record owned by the
// SDK that lives until the callback returns (never null), and the user pointer
// untouched. The calls that also take an out record run synchronously when
// the callback is null and fill the out record (which may be null to discard
// it); with a callback the out record is not touched.
//
// Requests are copied before a call returns, so the caller may free or reuse
// them at once, also from inside a callback. Transfers report through the
// transfer record instead of a callback (cloud_sdk_transfer.h).
//
// The virtual-table order is part of the DLL's binary contract: append only.
#include <atomic>
#include <string>

#include "cloud_sdk_api.h"
#include "cloud_sdk_records.h"
#include "cloud_sdk_transfer.h"

// Result codes the SDK itself produces.
constexpr int kSdkOk = 0;
constexpr int kSdkFailed = -1;               // bad argument, not initialised, local failure
constexpr int kSdkNetworkUnavailable = -10;  // the service could not be reached
constexpr int kSdkTokenInvalid = 102;        // the sign-in token is no longer accepted

template <class Result>
using SdkCallback = void (*)(int code, Result* result, void* user);

class ICloudSdk {
 public:
  // ---- sign-in
  // Once per process: logFolder receives the SDK's log; moduleFolder holds
  // "sdkconfig.ini" (the service address among its settings). The product
  // passes 0 and 1 for the two numbers. True on success; may be retried.
  virtual bool init(const std::string& logFolder, int reserved, const std::string& moduleFolder,
                    int mode) = 0;
  // The system's proxy, empty texts when there is none.
  virtual int GetIEProxy(std::string* host, std::string* port) = 0;
  // Proxy for every later request; empty host: direct connection.
  virtual int InitHttpX(const std::string& host, const std::string& port, const std::string& user,
                        const std::string& password) = 0;
  virtual int SetTokenInfo(const std::string& account, const std::string& token,
                           const std::string& opToken) = 0;
  virtual int SetTokenInfoEx(const TokenInfoEx& token) = 0;
  // A web token for the named service domain (e.g. "AAS").
  virtual int getTokenByDomain(const std::string& domain, std::string* token) = 0;

  // ---- listing
  // One page, asynchronous; a callback is required. Code kSdkTokenInvalid
  // (102) means the desktop client must sign in again.
  virtual int ls(const ListRequest& request, SdkCallback<ListResult> callback, void* user) = 0;
  virtual int SyncLs(const ListRequest& request, ListResult* result) = 0;
  virtual int SyncLsAll(const LsAllRequest& request, ListResult* result) = 0;
  virtual int itemGetList(const ItemGetListRequest& request, ItemGetListResult* result,
                          SdkCallback<ItemGetListResult> callback, void* user) = 0;
  // Quota, asynchronous; a callback is required.
  virtual int getDiskInfo(const DiskInfoRequest& request, SdkCallback<DiskInfoResult> callback,
                          void* user) = 0;

  // ---- changes
  virtual int SyncMkdir(const MkdirRequest& request, MkdirResult* result) = 0;
  virtual int updateCatalogInfo(const UpdateCatalogRequest& request, OprResult* result,
                                SdkCallback<OprResult> callback, void* user) = 0;
  virtual int updateFile(const UpdateFileRequest& request, OprResult* result,
                         SdkCallback<OprResult> callback, void* user) = 0;
  virtual int SyncMgtVirDirInfo(const MgtVirDirRequest& request, OprResult* result) = 0;
  virtual int SyncCopy(const CopyMoveRequest& request, OprResult* result) = 0;
  virtual int SyncMove(const CopyMoveRequest& request, OprResult* result) = 0;

  // ---- shares
  virtual int GetShareList(const ShareListRequest& request, ShareListResult* result,
                           SdkCallback<ShareListResult> callback, void* user) = 0;
  virtual int CancelShare(const CancelShareRequest& request, OprResult* result,
                          SdkCallback<OprResult> callback, void* user) = 0;
  virtual int LeaveShare(const LeaveShareRequest& request, OprResult* result,
                         SdkCallback<OprResult> callback, void* user) = 0;
  virtual int ReplyShare(const ReplyShareRequest& request, OprResult* result,
                         SdkCallback<OprResult> callback, void* user) = 0;

  // ---- upload
  // MD5 of a local file as 32 lower-case hex characters.
  virtual int Md5CalFile(const std::string& path, std::string* md5) = 0;
  // Opens an upload task; an entry with isNeedUpload "0" needs no transfer.
  virtual int SyncUploadFileRequest(const UploadFileRequest& request, UploadFileResult* result) = 0;
  virtual int makeUploadFileHttpHeader(const UploadHeaderRequest& request, std::string* header) = 0;
  // Sends the record's file to its URL with its header; asynchronous.
  virtual int uploadFile(ITransferRecord* transfer) = 0;
  virtual int getUploadTaskInfoN(const UploadTaskInfoRequest& request,
                                 UploadTaskInfoResult* result) = 0;
  // Drops the service-side task of an answer (cancel, or given up after retries).
  virtual int SyncDelUploadTask(const std::string& account, const UploadFileResult& answer,
                                const std::string& contentName, const std::string& extra) = 0;

  // ---- download
  // Finds the content's download address and fetches it into the record with
  // the record's header; asynchronous.
  virtual int pcDownloadFileRequest(const DownloadFileRequest& request,
                                    ITransferRecord* transfer) = 0;
  virtual int makeDownloadFileHttpHeader(const DownloadHeaderRequest& request,
                                         std::string* header) = 0;
  // Fetches the record's URL (a thumbnail, an installer) into it; asynchronous.
  virtual int downloadFile(ITransferRecord* transfer) = 0;
  // Fetches a content by its full ID straight into localPath; synchronous
  // without a callback.
  virtual int downloadFileEx(const std::string& userID, const std::string& fullID,
                             const std::string& localPath, const std::string& token,
                             SdkCallback<DownloadFileExResult> callback, void* user) = 0;

  // ---- records
  virtual int NewEvent(const NewEventRequest& request, OprResult* result,
                       SdkCallback<OprResult> callback, void* user) = 0;
  // The product passes 1 for flag.
  virtual int RecordOprLogExAndXML(const OprLogRecord& record, int flag) = 0;

 protected:
  ~ICloudSdk() = default;
};

// Defined by the SDK library: the process's one instance, created on the
// first call and never destroyed. C linkage so that it can also be found with
// GetProcAddress.
extern "C" VD_SDK_API ICloudSdk* GetCloudSdk();

// The instance product code talks to. Start-up installs GetCloudSdk(); tests
// install their own. Null until then.
inline std::atomic<ICloudSdk*>& CloudSdkSlot() {
  static std::atomic<ICloudSdk*> slot{nullptr};
  return slot;
}
inline ICloudSdk* CurrentCloudSdk() { return CloudSdkSlot().load(std::memory_order_acquire); }
inline void InstallCloudSdk(ICloudSdk* sdk) {
  CloudSdkSlot().store(sdk, std::memory_order_release);
}
