#pragma once
// The SDK behind ICloudSdk. GetCloudSdk() hands out the process's one
// instance; tests may make their own, each with its own threads.
#include <memory>
#include <mutex>

#include "cloud_sdk.h"
#include "service_client.h"
#include "worker_pool.h"

namespace corbel {

class CloudSdk final : public ICloudSdk {
 public:
  CloudSdk();
  explicit CloudSdk(std::unique_ptr<http::IHttpClient> http);
  // Ends running transfers as failed, runs the callbacks still queued, joins.
  ~CloudSdk();
  CloudSdk(const CloudSdk&) = delete;
  CloudSdk& operator=(const CloudSdk&) = delete;

  bool init(const std::string& logFolder, int reserved, const std::string& moduleFolder, int mode) override;
  int GetIEProxy(std::string* host, std::string* port) override;
  int InitHttpX(const std::string& host, const std::string& port, const std::string& user,
                const std::string& password) override;
  int SetTokenInfo(const std::string& account, const std::string& token, const std::string& opToken) override;
  int SetTokenInfoEx(const TokenInfoEx& token) override;
  int getTokenByDomain(const std::string& domain, std::string* token) override;

  int ls(const ListRequest& request, SdkCallback<ListResult> callback, void* user) override;
  int SyncLs(const ListRequest& request, ListResult* result) override;
  int SyncLsAll(const LsAllRequest& request, ListResult* result) override;
  int itemGetList(const ItemGetListRequest& request, ItemGetListResult* result,
                  SdkCallback<ItemGetListResult> callback, void* user) override;
  int getDiskInfo(const DiskInfoRequest& request, SdkCallback<DiskInfoResult> callback, void* user) override;

  int SyncMkdir(const MkdirRequest& request, MkdirResult* result) override;
  int updateCatalogInfo(const UpdateCatalogRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                        void* user) override;
  int updateFile(const UpdateFileRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                 void* user) override;
  int SyncMgtVirDirInfo(const MgtVirDirRequest& request, OprResult* result) override;
  int SyncCopy(const CopyMoveRequest& request, OprResult* result) override;
  int SyncMove(const CopyMoveRequest& request, OprResult* result) override;

  int GetShareList(const ShareListRequest& request, ShareListResult* result, SdkCallback<ShareListResult> callback,
                   void* user) override;
  int CancelShare(const CancelShareRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                  void* user) override;
  int LeaveShare(const LeaveShareRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                 void* user) override;
  int ReplyShare(const ReplyShareRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                 void* user) override;

  int Md5CalFile(const std::string& path, std::string* md5) override;
  int SyncUploadFileRequest(const UploadFileRequest& request, UploadFileResult* result) override;
  int makeUploadFileHttpHeader(const UploadHeaderRequest& request, std::string* header) override;
  int uploadFile(ITransferRecord* transfer) override;
  int getUploadTaskInfoN(const UploadTaskInfoRequest& request, UploadTaskInfoResult* result) override;
  int SyncDelUploadTask(const std::string& account, const UploadFileResult& answer, const std::string& contentName,
                        const std::string& extra) override;

  int pcDownloadFileRequest(const DownloadFileRequest& request, ITransferRecord* transfer) override;
  int makeDownloadFileHttpHeader(const DownloadHeaderRequest& request, std::string* header) override;
  int downloadFile(ITransferRecord* transfer) override;
  int downloadFileEx(const std::string& userID, const std::string& fullID, const std::string& localPath,
                     const std::string& token, SdkCallback<DownloadFileExResult> callback, void* user) override;

  int NewEvent(const NewEventRequest& request, OprResult* result, SdkCallback<OprResult> callback,
               void* user) override;
  int RecordOprLogExAndXML(const OprLogRecord& record, int flag) override;

  // Threads started so far (none before the first asynchronous call).
  std::size_t ThreadCount();

 private:
  WorkerPool* Pool();
  template <class Result, class Work>
  int Dispatch(Result* out, SdkCallback<Result> callback, void* user, Work work);
  int Transfer(ITransferRecord* transfer, std::function<void(ITransferRecord*)> run);

  int ListPage(const ListRequest& request, ListResult* result);
  int Opr(const char* name, const std::string& account, Json body, Repeat repeat, OprResult* result);

  ServiceClient service_;
  std::mutex poolMutex_;
  std::unique_ptr<WorkerPool> pool_;
};

}  // namespace corbel
