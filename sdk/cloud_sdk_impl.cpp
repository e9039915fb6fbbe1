#include "cloud_sdk_impl.h"

#include <exception>
#include <vector>

#include "local_file.h"
#include "md5.h"
#include "platform/fault.h"
#include "transfers.h"
#include "wire.h"

namespace corbel {
namespace {

constexpr std::size_t kMaxThreads = 32;

// No exception leaves the SDK: each entry point answers a code instead.
template <class Fn>
int Guard(Fn fn) noexcept {
  try {
    return fn();
  } catch (...) {
    return kSdkFailed;
  }
}

bool IsDecimal(const std::string& s) { return ParseUnsigned(s).has_value(); }

std::string JoinFolder(const std::string& folder, const char* name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '/' || last == '\\') return folder + name;
  // Keep the folder's own separator style.
  return folder + (folder.find('\\') != std::string::npos ? "\\" : "/") + name;
}

}  // namespace

CloudSdk::CloudSdk() : CloudSdk(http::CreateHttpClient()) {}

CloudSdk::CloudSdk(std::unique_ptr<http::IHttpClient> http) : service_(std::move(http)) {}

CloudSdk::~CloudSdk() {
  service_.Stopping().store(true);
  std::unique_ptr<WorkerPool> pool;
  {
    std::lock_guard lock(poolMutex_);
    pool.swap(pool_);
  }
  pool.reset();
}

WorkerPool* CloudSdk::Pool() {
  std::lock_guard lock(poolMutex_);
  if (!pool_) pool_ = std::make_unique<WorkerPool>(kMaxThreads);
  return pool_.get();
}

std::size_t CloudSdk::ThreadCount() {
  std::lock_guard lock(poolMutex_);
  return pool_ ? pool_->ThreadCount() : 0;
}

template <class Result, class Work>
int CloudSdk::Dispatch(Result* out, SdkCallback<Result> callback, void* user, Work work) {
  return Guard([&] {
    if (!callback) {
      Result result;
      int code = work(result);
      if (out) *out = std::move(result);
      return code;
    }
    bool queued = Pool()->Post([work = std::move(work), callback, user]() mutable {
      Result result;
      int code = Guard([&] { return work(result); });
      // The caller's code runs here, on our thread: what it throws stays here.
      platform::NoThrow("corbel::callback", [&] { callback(code, &result, user); });
    });
    return queued ? kSdkOk : kSdkFailed;
  });
}

int CloudSdk::Transfer(ITransferRecord* transfer, std::function<void(ITransferRecord*)> run) {
  if (!transfer) return kSdkFailed;
  return Guard([&] {
    if (!service_.Config()) return kSdkFailed;
    auto ref = std::make_shared<RecordRef>(transfer);
    bool queued = Pool()->Post([ref, run = std::move(run)] {
      try {
        run(ref->get());
      } catch (...) {
        if (!(ref->get()->GetStatus() & kTransferStatusCancel)) ref->get()->SetStatus(kTransferStatusFailed);
      }
    });
    return queued ? kSdkOk : kSdkFailed;
  });
}

int CloudSdk::Opr(const char* name, const std::string& account, Json body, Repeat repeat, OprResult* result) {
  Json answer;
  int code = service_.Call(name, account, std::move(body), repeat, &answer);
  if (result) result->message = wire::Text(answer, "message");
  return code;
}

// ------------------------------------------------------------------ sign-in

bool CloudSdk::init(const std::string& /*logFolder*/, int, const std::string& moduleFolder, int) {
  try {
    auto file = LocalFile::OpenRead(JoinFolder(moduleFolder, "sdkconfig.ini"));
    if (!file) return false;
    std::string text;
    char buffer[4096];
    for (std::int64_t n; (n = file->Read(buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(n));
      if (text.size() > 64 * 1024) return false;
    }
    auto config = ParseSdkConfig(text);
    if (!config) return false;
    service_.Configure(*config);
    return true;
  } catch (...) {
    return false;
  }
}

int CloudSdk::GetIEProxy(std::string* host, std::string* port) {
  if (!host || !port) return kSdkFailed;
  return Guard([&] {
    http::SystemProxy(host, port);
    return kSdkOk;
  });
}

int CloudSdk::InitHttpX(const std::string& host, const std::string& port, const std::string& user,
                        const std::string& password) {
  return Guard([&] {
    if (!host.empty() && !port.empty() && !IsDecimal(port)) return kSdkFailed;
    service_.SetProxy(http::Proxy{host, port, user, password});
    return kSdkOk;
  });
}

int CloudSdk::SetTokenInfo(const std::string& account, const std::string& token, const std::string& opToken) {
  return Guard([&] {
    if (account.empty() || (token.empty() && opToken.empty())) return kSdkFailed;
    service_.SetTokens(account, Tokens{token, opToken});
    return kSdkOk;
  });
}

// The desktop client's operation-token value: account, token and operation
// token, refreshed together.
int CloudSdk::SetTokenInfoEx(const TokenInfoEx& token) {
  return SetTokenInfo(token.parts[0], token.parts[1], token.parts[2]);
}

int CloudSdk::getTokenByDomain(const std::string& domain, std::string* token) {
  return Guard([&] {
    if (domain.empty()) return kSdkFailed;
    Json answer;
    int code = service_.Call("getTokenByDomain", {}, Json{{"domain", wire::ToUtf8(domain)}}, Repeat::kSafe, &answer);
    if (code == kSdkOk && token) *token = wire::Text(answer, "domainToken");
    return code;
  });
}

// ------------------------------------------------------------------ listing

int CloudSdk::ListPage(const ListRequest& request, ListResult* result) {
  if (request.catalogID.empty() || !IsDecimal(request.startNumber) || !IsDecimal(request.endNumber))
    return kSdkFailed;
  Json answer;
  int code = service_.Call("ls", request.account,
                           Json{{"catalogID", wire::ToUtf8(request.catalogID)},
                                {"startNumber", request.startNumber},
                                {"endNumber", request.endNumber},
                                {"catalogSortType", request.catalogSortType},
                                {"contentSortType", request.contentSortType},
                                {"filterType", request.filterType}},
                           Repeat::kSafe, &answer);
  result->request = request;
  if (code != kSdkOk) return code;
  result->totalCount = wire::Text(answer, "totalCount");
  if (auto it = answer.find("catalogList"); it != answer.end() && it->is_array())
    for (const auto& c : *it) result->catalogs.push_back(wire::Catalog(c));
  if (auto it = answer.find("contentList"); it != answer.end() && it->is_array())
    for (const auto& c : *it) result->contents.push_back(wire::Content(c));
  return kSdkOk;
}

int CloudSdk::ls(const ListRequest& request, SdkCallback<ListResult> callback, void* user) {
  if (!callback) return kSdkFailed;
  return Dispatch<ListResult>(nullptr, callback, user,
                              [this, request](ListResult& r) { return ListPage(request, &r); });
}

int CloudSdk::SyncLs(const ListRequest& request, ListResult* result) {
  return Dispatch<ListResult>(result, nullptr, nullptr, [&](ListResult& r) { return ListPage(request, &r); });
}

int CloudSdk::SyncLsAll(const LsAllRequest& request, ListResult* result) {
  return Dispatch<ListResult>(result, nullptr, nullptr, [&](ListResult& r) {
    if (request.startNumber != "-1" || request.endNumber != "-1") {
      ListRequest page;
      page.account = request.account;
      page.catalogID = request.catalogID;
      page.startNumber = request.startNumber;
      page.endNumber = request.endNumber;
      page.path = request.path;
      return ListPage(page, &r);
    }
    if (request.catalogID.empty()) return kSdkFailed;
    r.request.account = request.account;
    r.request.catalogID = request.catalogID;
    r.request.startNumber = request.startNumber;
    r.request.endNumber = request.endNumber;
    r.request.path = request.path;
    Json answer;
    int code = service_.Call("SyncLsAll", request.account, Json{{"catalogID", wire::ToUtf8(request.catalogID)}},
                             Repeat::kSafe, &answer);
    if (code != kSdkOk) return code;
    r.totalCount = wire::Text(answer, "totalCount");
    if (auto it = answer.find("catalogList"); it != answer.end() && it->is_array())
      for (const auto& c : *it) r.catalogs.push_back(wire::Catalog(c));
    if (auto it = answer.find("contentList"); it != answer.end() && it->is_array())
      for (const auto& c : *it) r.contents.push_back(wire::Content(c));
    return kSdkOk;
  });
}

int CloudSdk::itemGetList(const ItemGetListRequest& request, ItemGetListResult* result,
                          SdkCallback<ItemGetListResult> callback, void* user) {
  return Dispatch<ItemGetListResult>(result, callback, user, [this, request](ItemGetListResult& r) {
    Json answer;
    int code = service_.Call("itemGetList", request.account, Json::object(), Repeat::kSafe, &answer);
    if (code != kSdkOk) return code;
    if (auto it = answer.find("itemList"); it != answer.end() && it->is_array()) {
      for (const auto& item : *it) {
        ItemInfo info;
        info.itemName = wire::Text(item, "name");
        info.itemID = wire::Text(item, "itemID");
        info.itemType = 1;
        if (auto accounts = item.find("accountList"); accounts != item.end() && accounts->is_array())
          for (const auto& a : *accounts)
            if (a.is_string()) info.accountList.push_back(wire::ToAnsi(a.get<std::string>()));
        r.items.push_back(std::move(info));
      }
    }
    return kSdkOk;
  });
}

int CloudSdk::getDiskInfo(const DiskInfoRequest& request, SdkCallback<DiskInfoResult> callback, void* user) {
  if (!callback) return kSdkFailed;
  return Dispatch<DiskInfoResult>(nullptr, callback, user, [this, request](DiskInfoResult& r) {
    Json answer;
    int code = service_.Call("getDiskInfo", request.account, Json::object(), Repeat::kSafe, &answer);
    if (code != kSdkOk) return code;
    r.totalSize = wire::Text(answer, "totalSize");
    r.freeSize = wire::Text(answer, "freeSize");
    return kSdkOk;
  });
}

// ------------------------------------------------------------------ changes

int CloudSdk::SyncMkdir(const MkdirRequest& request, MkdirResult* result) {
  return Dispatch<MkdirResult>(result, nullptr, nullptr, [&](MkdirResult& r) {
    if (request.parentCatalogID.empty() || request.catalogName.empty()) return kSdkFailed;
    Json answer;
    int code = service_.Call("SyncMkdir", request.account,
                             Json{{"parentCatalogID", wire::ToUtf8(wire::LastPathPart(request.parentCatalogID))},
                                  {"catalogName", wire::ToUtf8(request.catalogName)}},
                             Repeat::kUnsafe, &answer);
    if (code != kSdkOk) return code;
    r.catalogID = wire::Text(answer, "catalogID");
    r.createtime = wire::Text(answer, "createtime");
    r.path = wire::Text(answer, "path");
    return kSdkOk;
  });
}

int CloudSdk::updateCatalogInfo(const UpdateCatalogRequest& request, OprResult* result,
                                SdkCallback<OprResult> callback, void* user) {
  return Dispatch<OprResult>(result, callback, user, [this, request](OprResult& r) {
    return Opr("updateCatalogInfo", request.account,
               Json{{"catalogID", wire::ToUtf8(wire::LastPathPart(request.catalogID))},
                    {"catalogName", wire::ToUtf8(request.catalogName)}},
               Repeat::kUnsafe, &r);
  });
}

int CloudSdk::updateFile(const UpdateFileRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                         void* user) {
  return Dispatch<OprResult>(result, callback, user, [this, request](OprResult& r) {
    return Opr("updateFile", request.account,
               Json{{"contentID", wire::ToUtf8(wire::LastPathPart(request.contentID))},
                    {"contentName", wire::ToUtf8(request.contentName)}},
               Repeat::kUnsafe, &r);
  });
}

namespace {
std::vector<std::string> Ids(const std::vector<std::string>& paths) {
  std::vector<std::string> ids;
  ids.reserve(paths.size());
  for (const auto& p : paths) ids.push_back(wire::LastPathPart(p));
  return ids;
}
}  // namespace

int CloudSdk::SyncMgtVirDirInfo(const MgtVirDirRequest& request, OprResult* result) {
  return Dispatch<OprResult>(result, nullptr, nullptr, [&](OprResult& r) {
    return Opr("SyncMgtVirDirInfo", request.account,
               Json{{"oprType", request.oprType},
                    {"catalogIDs", wire::TextList(Ids(request.catalogIDs))},
                    {"contentIDs", wire::TextList(Ids(request.contentIDs))}},
               Repeat::kUnsafe, &r);
  });
}

int CloudSdk::SyncCopy(const CopyMoveRequest& request, OprResult* result) {
  return Dispatch<OprResult>(result, nullptr, nullptr, [&](OprResult& r) {
    return Opr("SyncCopy", request.account,
               Json{{"catalogIDs", wire::TextList(Ids(request.catalogIDs))},
                    {"contentIDs", wire::TextList(Ids(request.contentIDs))},
                    {"targetCatalogID", wire::ToUtf8(wire::LastPathPart(request.targetCatalogID))}},
               Repeat::kUnsafe, &r);
  });
}

int CloudSdk::SyncMove(const CopyMoveRequest& request, OprResult* result) {
  return Dispatch<OprResult>(result, nullptr, nullptr, [&](OprResult& r) {
    return Opr("SyncMove", request.account,
               Json{{"catalogIDs", wire::TextList(Ids(request.catalogIDs))},
                    {"contentIDs", wire::TextList(Ids(request.contentIDs))},
                    {"targetCatalogID", wire::ToUtf8(wire::LastPathPart(request.targetCatalogID))}},
               Repeat::kUnsafe, &r);
  });
}

// ------------------------------------------------------------------ shares

int CloudSdk::GetShareList(const ShareListRequest& request, ShareListResult* result,
                           SdkCallback<ShareListResult> callback, void* user) {
  return Dispatch<ShareListResult>(result, callback, user, [this, request](ShareListResult& r) {
    r.request = request;
    if (!IsDecimal(request.startNumber) || !IsDecimal(request.endNumber)) return kSdkFailed;
    Json answer;
    int code = service_.Call("GetShareList", request.account,
                             Json{{"shareKind", request.shareKind},
                                  {"startNumber", request.startNumber},
                                  {"endNumber", request.endNumber}},
                             Repeat::kSafe, &answer);
    if (code != kSdkOk) return code;
    r.totalCount = wire::Text(answer, "totalCount");
    if (auto it = answer.find("shareList"); it != answer.end() && it->is_array())
      for (const auto& s : *it) r.shares.push_back(wire::Share(s));
    return kSdkOk;
  });
}

int CloudSdk::CancelShare(const CancelShareRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                          void* user) {
  return Dispatch<OprResult>(result, callback, user, [this, request](OprResult& r) {
    return Opr("CancelShare", request.account, Json{{"itemID", wire::ToUtf8(wire::LastPathPart(request.itemID))}},
               Repeat::kUnsafe, &r);
  });
}

int CloudSdk::LeaveShare(const LeaveShareRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                         void* user) {
  return Dispatch<OprResult>(result, callback, user, [this, request](OprResult& r) {
    return Opr("LeaveShare", request.account,
               Json{{"catalogIDs", wire::TextList(Ids(request.catalogPaths))},
                    {"contentIDs", wire::TextList(Ids(request.contentPaths))}},
               Repeat::kUnsafe, &r);
  });
}

int CloudSdk::ReplyShare(const ReplyShareRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                         void* user) {
  return Dispatch<OprResult>(result, callback, user, [this, request](OprResult& r) {
    return Opr("ReplyShare", request.account,
               Json{{"catalogIDs", wire::TextList(Ids(request.catalogIDs))},
                    {"contentIDs", wire::TextList(Ids(request.contentIDs))},
                    {"accept", request.replyType == "1" ? "1" : "0"}},
               Repeat::kUnsafe, &r);
  });
}

// ------------------------------------------------------------------ upload

int CloudSdk::Md5CalFile(const std::string& path, std::string* md5) {
  if (!md5) return kSdkFailed;
  return Guard([&] {
    auto file = LocalFile::OpenRead(path);
    if (!file) return kSdkFailed;
    std::vector<char> buffer(1 << 20);
    Md5 hash;
    for (;;) {
      std::int64_t n = file->Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
      if (n < 0) return kSdkFailed;
      if (n == 0) break;
      hash.Update(buffer.data(), static_cast<std::size_t>(n));
    }
    *md5 = Md5::ToHex(hash.Final());
    return kSdkOk;
  });
}

int CloudSdk::SyncUploadFileRequest(const UploadFileRequest& request, UploadFileResult* result) {
  return Dispatch<UploadFileResult>(result, nullptr, nullptr, [&](UploadFileResult& r) {
    if (request.parentCatalogID.empty() || request.files.empty()) return kSdkFailed;
    Json files = Json::array();
    for (const auto& f : request.files) {
      if (!IsDecimal(f.contentSize)) return kSdkFailed;
      files.push_back(Json{{"name", wire::ToUtf8(f.contentName)}, {"size", f.contentSize}, {"md5", f.digest}});
    }
    Json answer;
    int code = service_.Call("SyncUploadFileRequest", request.account,
                             Json{{"parentCatalogID", wire::ToUtf8(wire::LastPathPart(request.parentCatalogID))},
                                  {"files", std::move(files)}},
                             Repeat::kUnsafe, &answer);
    if (code != kSdkOk) return code;
    r.uploadTaskID = wire::Text(answer, "uploadTaskID");
    r.uploadURL = service_.Resolve(wire::Text(answer, "uploadURL"));
    if (auto it = answer.find("files"); it != answer.end() && it->is_array()) {
      for (const auto& f : *it) {
        UploadFileAnswer a;
        a.contentID = wire::Text(f, "contentID");
        a.contentName = wire::Text(f, "contentName");
        a.isExist = wire::Text(f, "isExist");
        a.isNeedUpload = wire::Text(f, "needUpload");
        r.entries.push_back(std::move(a));
      }
    }
    return kSdkOk;
  });
}

int CloudSdk::makeUploadFileHttpHeader(const UploadHeaderRequest& request, std::string* header) {
  if (!header) return kSdkFailed;
  return Guard([&] {
    auto first = ParseUnsigned(request.rangeStart), last = ParseUnsigned(request.rangeEnd),
         total = ParseUnsigned(request.totalSize);
    if (!first || !last || !total || *first > *last || *last >= *total) return kSdkFailed;
    *header = MakeUploadHeader(ByteRange{*first, *last, *total});
    return kSdkOk;
  });
}

int CloudSdk::uploadFile(ITransferRecord* transfer) {
  return Transfer(transfer, [this](ITransferRecord* record) { RunUpload(service_, record); });
}

int CloudSdk::getUploadTaskInfoN(const UploadTaskInfoRequest& request, UploadTaskInfoResult* result) {
  return Dispatch<UploadTaskInfoResult>(result, nullptr, nullptr, [&](UploadTaskInfoResult& r) {
    if (request.uploadTaskID.empty()) return kSdkFailed;
    Json body{{"uploadTaskID", request.uploadTaskID}};
    if (!request.contentID.empty()) body["contentID"] = request.contentID;
    Json answer;
    int code = service_.Call("getUploadTaskInfoN", request.account, std::move(body), Repeat::kSafe, &answer);
    if (code != kSdkOk) return code;
    if (auto it = answer.find("taskInfoList"); it != answer.end() && it->is_array()) {
      for (const auto& t : *it) {
        PcUploadTaskInfo info;
        info.uploadTaskID = wire::Text(t, "uploadTaskID");
        info.contentID = wire::Text(t, "contentID");
        info.blocks.push_back(UploadBlockInfo{wire::Text(t, "uploadedSize")});
        r.taskInfos.push_back(std::move(info));
      }
    }
    return kSdkOk;
  });
}

int CloudSdk::SyncDelUploadTask(const std::string& account, const UploadFileResult& answer, const std::string&,
                                const std::string&) {
  return Guard([&] {
    if (answer.uploadTaskID.empty()) return kSdkFailed;
    return service_.Call("SyncDelUploadTask", account, Json{{"uploadTaskID", answer.uploadTaskID}}, Repeat::kSafe,
                         nullptr);
  });
}

// ------------------------------------------------------------------ download

int CloudSdk::pcDownloadFileRequest(const DownloadFileRequest& request, ITransferRecord* transfer) {
  if (request.contentID.empty()) return kSdkFailed;
  return Transfer(transfer, [this, request](ITransferRecord* record) {
    RunContentDownload(service_, request, record);
  });
}

int CloudSdk::makeDownloadFileHttpHeader(const DownloadHeaderRequest& request, std::string* header) {
  if (!header) return kSdkFailed;
  return Guard([&] {
    auto first = request.rangeStart.empty() ? std::optional<std::uint64_t>(0) : ParseUnsigned(request.rangeStart);
    std::optional<std::uint64_t> last;
    if (!request.rangeEnd.empty()) {
      last = ParseUnsigned(request.rangeEnd);
      if (!last) return kSdkFailed;
    }
    if (!first || (last && *last < *first)) return kSdkFailed;
    *header = MakeDownloadHeader(*first, last);
    return kSdkOk;
  });
}

int CloudSdk::downloadFile(ITransferRecord* transfer) {
  return Transfer(transfer, [this](ITransferRecord* record) { RunUrlDownload(service_, record); });
}

int CloudSdk::downloadFileEx(const std::string&, const std::string& fullID, const std::string& localPath,
                             const std::string& token, SdkCallback<DownloadFileExResult> callback, void* user) {
  return Dispatch<DownloadFileExResult>(
      nullptr, callback, user, [this, fullID, localPath, token](DownloadFileExResult& r) {
        int code = DownloadContentToPath(service_, token, wire::LastPathPart(fullID), localPath);
        if (code == kSdkOk) r.localPath = localPath;
        return code;
      });
}

// ------------------------------------------------------------------ records

int CloudSdk::NewEvent(const NewEventRequest& request, OprResult* result, SdkCallback<OprResult> callback,
                       void* user) {
  return Dispatch<OprResult>(result, callback, user, [this, request](OprResult& r) {
    Json event{{"eventType", request.eventType},
               {"path", wire::ToUtf8(request.path)},
               {"items", wire::ToUtf8(request.items)},
               {"itemCount", request.itemCount},
               {"extInfo", wire::ToUtf8(request.extInfo)}};
    return Opr("NewEvent", request.account, Json{{"event", std::move(event)}}, Repeat::kUnsafe, &r);
  });
}

int CloudSdk::RecordOprLogExAndXML(const OprLogRecord& record, int flag) {
  return Guard([&] {
    Json slots = Json::object();
    for (int i = 0; i < OprLogRecord::kSlotCount; ++i) {
      auto text = record.Get(i);
      if (!text.empty()) slots[std::to_string(i)] = wire::ToUtf8(std::string(text));
    }
    const std::string account(record.Get(OprLogRecord::kAccount));
    return service_.Call("RecordOprLogExAndXML", account,
                         Json{{"record", Json{{"flag", flag}, {"slots", std::move(slots)}}}}, Repeat::kUnsafe,
                         nullptr);
  });
}

}  // namespace corbel

// The process's instance; never destroyed, so callbacks still running at
// exit never meet a destroyed SDK.
extern "C" VD_SDK_API ICloudSdk* GetCloudSdk() {
  // Nothing may escape a C entry point; a failed construction is tried again next call.
  try {
    static corbel::CloudSdk* const sdk = new corbel::CloudSdk();
    return sdk;
  } catch (...) {
    return nullptr;
  }
}
