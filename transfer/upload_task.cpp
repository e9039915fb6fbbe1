#include "upload_task.h"

#include "platform/clock.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "platform/text.h"
#include "string_table.h"
#include "trace.h"
#include "transfer_text.h"
#include "transfer_util.h"

namespace vdtransfer {

using namespace vd::resources;

namespace {

std::mutex g_timingsLock;
UploadTimings g_timings;

// The extension with its dot, or empty.
std::string ExtensionOf(const std::string& path) {
  const std::string leaf = LeafName(path);
  const auto dot = leaf.rfind('.');
  return dot == std::string::npos ? std::string() : leaf.substr(dot);
}

UploadResultItem Record(const std::string& path, std::string id, bool folder, int code) {
  UploadResultItem item;
  item.localPath = path;
  item.name = LeafName(path);
  item.time = LocalTimeText();
  item.id = std::move(id);
  item.isFolder = folder ? 1 : 0;
  item.resultCode = code;
  return item;
}

// Codes whose message goes into the report's summary.
bool IsSummaryCode(int code) {
  const int rest = code % 10000;
  for (int c : {9405, 9403, 9424}) {
    if (code == c || rest == c) return true;
  }
  return code == 9470;
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace


void SetUploadTimings(UploadTimings timings) {
  std::lock_guard lock(g_timingsLock);
  g_timings = timings;
}

// ---------------------------------------------------------------- helpers

std::string LeafName(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LocalTimeText() {
  const std::int64_t now = platform::UnixTimeMs() / 1000;
  const std::tm t = platform::LocalTime(now);
  if (t.tm_year <= 0 && t.tm_mday == 0) return "0";
  return Sprintf("%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                 t.tm_sec);
}

int ExtensionTypeCode(const std::string& name) {
  std::string ext = ExtensionOf(name);
  if (ext.empty()) return 0;
  ext.erase(0, 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  static const std::map<std::string, int> kTypes = {
      {"jpg", 1}, {"jpeg", 1}, {"png", 1}, {"bmp", 1}, {"gif", 1},  {"mp3", 2}, {"wav", 2}, {"wma", 2},
      {"aac", 2}, {"flac", 2}, {"mp4", 3}, {"avi", 3}, {"mkv", 3}, {"wmv", 3}, {"mov", 3}, {"3gp", 3}};
  const auto it = kTypes.find(ext);
  return it == kTypes.end() ? 0 : it->second;
}

std::u16string ReplacedFilesText(const std::vector<std::string>& names) {
  if (names.empty()) return {};
  const std::string a(LoadText(IDS_REPLACED_A)), b(LoadText(IDS_REPLACED_B)), c(LoadText(IDS_REPLACED_C));
  const std::u16string first = platform::AnsiToWide(names[0]);
  if (names.size() == 1) return Wide(a) + first + u" 1" + Wide(c);
  const std::u16string second = platform::AnsiToWide(names[1]);
  if (names.size() == 2) return Wide(a) + first + u"," + second + u" 2" + Wide(c);
  return Wide(a) + first + u"," + second + Wide(b) + u" " + Wide(std::to_string(names.size())) + u" " + Wide(c);
}

std::optional<UploadReport> BuildUploadReport(const std::vector<UploadResultItem>& results,
                                              const std::vector<std::string>& sameNameFolders,
                                              const std::function<std::string(int)>& resultMessage) {
  UploadReport report;
  report.summary = TableText(IDS_UPLOAD_DONE);
  report.details = TableText(IDS_UPLOAD_DETAILS);
  const int sameNameCount = static_cast<int>(sameNameFolders.size());
  if (sameNameCount > 0) {
    report.summary += TableText(IDS_SAME_NAME_SUMMARY) + Wide(std::to_string(sameNameCount)) +
                      TableText(IDS_SAME_NAME_SUMMARY_END);
    for (const auto& name : sameNameFolders)
      report.details += TableText(IDS_SAME_NAME_FOLDER) + platform::AnsiToWide(name) + u"\r\n";
  }
  report.summary += TableText(IDS_THERE_ARE);
  int failures = 0;
  std::u16string suffix;
  for (const auto& item : results) {
    if (item.resultCode == 0) continue;
    report.details += TableText(item.isFolder ? IDS_FAILED_FOLDER : IDS_FAILED_FILE) + platform::AnsiToWide(item.localPath);
    ++failures;
    const std::u16string message = resultMessage ? Wide(resultMessage(item.resultCode)) : std::u16string();
    if (IsSummaryCode(item.resultCode)) suffix = message + u"！";
    if (item.resultCode != kUploadGaveUp) report.details += u" （原因：" + message + u")";
    report.details += u"\r\n";
  }
  if (failures == 0 && sameNameCount == 0) return std::nullopt;
  report.summary += Wide(std::to_string(failures + sameNameCount)) + TableText(IDS_UPLOAD_FAILED_COUNT) + suffix;
  return report;
}

// ---------------------------------------------------------------- checker

CVDUploadChecker& CVDUploadChecker::GetInstance() {
  static CVDUploadChecker* checker = new CVDUploadChecker();  // never destroyed: workers may outlive statics
  return *checker;
}

void CVDUploadChecker::AssertUploadfiles(UploadDirNode& node) {
  std::lock_guard lock(m_lock);
  AssertLocked(node);
}

void CVDUploadChecker::RomeveUploadfiles(const UploadDirNode& node) {
  std::lock_guard lock(m_lock);
  RemoveLocked(node);
}

bool CVDUploadChecker::Holds(const std::string& path) const {
  std::lock_guard lock(m_lock);
  return m_paths.count(path) != 0;
}

void CVDUploadChecker::AssertLocked(UploadDirNode& node) {
  std::vector<std::string> kept;
  for (auto& path : node.files) {
    if (m_paths.insert(path).second) {
      kept.push_back(std::move(path));
    } else {
      VD_LOG_INFO("%s is being uploaded by another task", path.c_str());
    }
  }
  node.files = std::move(kept);
  for (auto& sub : node.subdirs) AssertLocked(sub);
}

void CVDUploadChecker::RemoveLocked(const UploadDirNode& node) {
  for (const auto& path : node.files) m_paths.erase(path);
  for (const auto& sub : node.subdirs) RemoveLocked(sub);
}

// ---------------------------------------------------------------- task

UploadTimings CurrentUploadTimings() {
  std::lock_guard lock(g_timingsLock);
  return g_timings;
}

CVDUploadFileTask::CVDUploadFileTask() : m_host(CurrentTransferHost()), m_timings(CurrentUploadTimings()) {}

CVDUploadFileTask::~CVDUploadFileTask() {
  if (m_dialog) m_dialog->Finish();
}

int CVDUploadFileTask::StatisticsTask(const UploadDirNode& node) {
  int n = static_cast<int>(node.files.size()) + static_cast<int>(node.subdirs.size());
  for (const auto& sub : node.subdirs) n += StatisticsTask(sub);
  return n;
}

bool GzipApplies(const std::string& list, std::uint64_t size, const std::string& extension) {
  if (extension.empty() || size <= kGzipMinBytes) return false;
  return std::string_view(list).substr(0, 259).find(extension) != std::string_view::npos;
}

bool CVDUploadFileTask::IsGzip(std::uint64_t size, const std::string& extension) {
  ITransferHost* host = CurrentTransferHost();
  return host && GzipApplies(host->GzipSuffixes(), size, extension);
}

int CVDUploadFileTask::StartUploadServer(const UploadDirNode& root, const std::string& ownerAccount,
                                         vd::PcPidl targetItems, int emptyCount,
                                         const std::vector<std::string>& emptyFiles, int sameNameCount,
                                         const std::vector<std::string>& sameNameFolders, std::uint32_t itemCount,
                                         std::uint64_t byteTotal, const std::u16string& targetText,
                                         void* parentWindow, UploadCallback callback) {
  VD_TRACE("CVDUploadFileTask::StartUploadServer");
  m_startTick = platform::TickCountMs();
  VD_LOG_INFO("文件上传开始时间：%d毫秒", static_cast<int>(m_startTick));
  if (!m_host || !(m_sdk = m_host->Sdk())) {
    VD_LOG_ERROR("no upload host or SDK");
    delete this;
    return -1;
  }
  if (!m_host->IsNetworkAvailable()) {
    m_host->ShowMessage(parentWindow, TableText(IDS_NETWORK_UNAVAILABLE));
    delete this;
    return -10;
  }
  m_root = root;
  m_ownerAccount = ownerAccount;
  m_callback = std::move(callback);
  if (targetItems) m_target = vd::VDPidlMgr().Own(vd::VDPidlMgr().Copy(targetItems));
  m_emptyCount = emptyCount;
  m_emptyFiles = emptyFiles;
  m_sameNameCount = sameNameCount;
  m_sameNameFolders = sameNameFolders;
  m_parentWindow = parentWindow;

  CVDUploadChecker::GetInstance().AssertUploadfiles(m_root);
  const int n = StatisticsTask(m_root);
  if (n <= 0) {
    CVDUploadChecker::GetInstance().RomeveUploadfiles(m_root);
    delete this;
    return -1;
  }
  m_dialog = std::make_shared<CCTaskProgressDlg>(CCTaskProgressDlg::kUpload,
                                                 mode == 13 ? CCTaskProgressDlg::kSilent : 0);
  m_dialog->SetUploadTarget(title.empty() ? targetText : title);
  m_dialog->SetTotalCntAndSize(itemCount, byteTotal, u"");
  m_dialog->SetTaskConut(n);
  if (!m_host->CreateProgressWindow(m_dialog, parentWindow, mode != 13, false)) {
    VD_LOG_ERROR("the progress dialog could not be made");
    CVDUploadChecker::GetInstance().RomeveUploadfiles(m_root);
    delete this;
    return -1;
  }
  VD_LOG_INFO("Thead Upload!");
  try {
    std::thread([this] { UploadThreadProc(this); }).detach();
  } catch (const std::system_error&) {
    VD_LOG_ERROR("创建上传服务线程失败");
    CVDUploadChecker::GetInstance().RomeveUploadfiles(m_root);
    delete this;
    return -1;
  }
  return 0;
}

unsigned CVDUploadFileTask::UploadThreadProc(CVDUploadFileTask* task) {
  int result = -1;
  if (!platform::RaiseCurrentThreadPriority()) VD_LOG_WARN("SetThreadPriority Fail!!! ");
  if (!platform::NoThrow("CVDUploadFileTask::UploadThreadProc", [&] { result = task->Run(); })) {
    // The files stay claimed no longer than the task.
    CVDUploadChecker::GetInstance().RomeveUploadfiles(task->m_root);
    if (task->m_holdsSlot) ReleaseSlot(RunningUploads());
    delete task;
  }
  return static_cast<unsigned>(result);
}

int CVDUploadFileTask::Run() {
  VD_TRACE("CVDUploadFileTask::UploadThreadProc");
  if (TryTakeSlot(RunningUploads())) {
    m_holdsSlot = true;
  } else {
    m_dialog->SetWaiting();
    m_dialog->WaitForSignal();
    // Admission took the slot for us, unless the user quit first.
    m_holdsSlot = !m_dialog->IsWaiting();
    if (m_dialog->GetTaskQuitState() == 1 || !m_holdsSlot) {
      CVDUploadChecker::GetInstance().RomeveUploadfiles(m_root);
      if (m_holdsSlot) ReleaseSlot(RunningUploads());
      delete this;
      return 0;
    }
  }

  if (m_target) {
    char16_t buffer[1024];
    std::size_t length = std::size(buffer);
    if (vd::VDPidlMgr::GetFullName(m_target.get(), buffer, length) >= 0)
      m_targetPath = platform::WideToAnsi(std::u16string_view(buffer, length));
  }
  m_catalogPaths[m_root.catalogId] = m_targetPath;

  std::vector<UploadResultItem> results, eventList;
  int netFailures = 0, callCount = 0;
  VD_LOG_INFO("UploadFileTask Begin");
  int result = UploadFileTask(m_root, results, &netFailures, &callCount, eventList);
  VD_LOG_INFO("UploadFileTask End");
  CVDUploadChecker::GetInstance().RomeveUploadfiles(m_root);

  if (StopRequested()) {
    // Signed out: no report, no messages, no callback.
    if (m_holdsSlot) ReleaseSlot(RunningUploads());
    delete this;
    return -2;
  }
  if (netFailures > 1) m_host->ShowMessage(m_parentWindow, TableText(IDS_NETWORK_UNAVAILABLE));
  if (!eventList.empty()) SendNewEvent(eventList);

  std::vector<std::string> replaced;
  for (const auto& item : results) {
    if (item.resultCode != 0) result = 1;
    if (item.replacedExisting == 1) replaced.push_back(item.name);
  }
  if (!replaced.empty() && mode != 13) m_host->ShowMessage(m_parentWindow, ReplacedFilesText(replaced));

  VD_LOG_INFO("虚拟盘上传结束");
  if (m_callback) {
    SleepMs(m_timings.settleMs);
    ShowUploadTaskDlg(result, results);
    m_callback(result, results, m_target.get());
  }
  const std::uint64_t end = platform::TickCountMs();
  VD_LOG_INFO("文件上传结束时间：%d毫秒", static_cast<int>(end));
  VD_LOG_INFO("文件上传耗费时间：%d毫秒", static_cast<int>(end - m_startTick));
  if (m_holdsSlot) ReleaseSlot(RunningUploads());
  delete this;
  return result;
}

std::string CVDUploadFileTask::ParentPath(const std::string& catalogId) const {
  if (!shareTarget) return {};
  if (IsValuePath(listedPath) && catalogId == m_root.catalogId) return listedPath;
  if (catalogId == m_root.catalogId) VD_LOG_WARN("Error full Path: %s", listedPath.c_str());
  const auto it = m_catalogPaths.find(catalogId);
  return it == m_catalogPaths.end() ? std::string() : it->second;
}

int CVDUploadFileTask::UploadFileTask(UploadDirNode& node, std::vector<UploadResultItem>& results, int* netFailures,
                                      int* callCount, std::vector<UploadResultItem>& eventList) {
  VD_TRACE("CVDUploadFileTask::UploadFileTask");
  ++*callCount;
  const int fileCount = static_cast<int>(node.files.size());
  const int folderCount = static_cast<int>(node.subdirs.size());
  const bool pushEvent = IsNeedPushNewEventF(*callCount, fileCount, folderCount);
  const bool notify = JudgeNeglectFile(*callCount, fileCount == 1 && folderCount == 0);

  for (const std::string& path : node.files) {
    if (StopRequested()) break;
    if (m_dialog->GetTaskConut() == 0) return -1;
    const std::size_t before = results.size();
    const int r = UploadOneFile(node, path, results, netFailures, notify);
    if (pushEvent && results.size() > before && results.back().resultCode == 0) eventList.push_back(results.back());
    if (r != 0) return r;
  }

  for (UploadDirNode& sub : node.subdirs) {
    if (StopRequested()) break;
    if (!sub.catalogId.empty()) continue;
    m_dialog->SetTaskName(platform::AnsiToWide(sub.localPath));
    m_dialog->SetProgress(0);
    const std::string name = LeafName(sub.localPath);
    int code = kUploadNotTried;
    MkdirResult made;
    if (*netFailures < 2) {
      MkdirRequest request;
      request.account = m_ownerAccount;
      request.parentCatalogID = node.catalogId;
      request.catalogName = name;
      request.catalogDesc = "0";
      request.path = ParentPath(node.catalogId);
      request.flag = "1";
      code = m_sdk->SyncMkdir(request, &made);
      if (code != 0 && !m_host->IsNetworkAvailable()) ++*netFailures;
    }
    if (code == 0 && *netFailures < 2) {
      m_dialog->SetProgress(100);
      UploadResultItem item = Record(sub.localPath, made.catalogID, true, 0);
      results.push_back(item);
      if (*callCount == 1) eventList.push_back(item);
      sub.catalogId = made.catalogID;
      if (!made.path.empty()) m_catalogPaths[made.catalogID] = made.path;
      const int r = UploadFileTask(sub, results, netFailures, callCount, eventList);
      if (r != 0) return r;
    } else {
      results.push_back(Record(sub.localPath, {}, true, code == 0 ? kUploadNotTried : code));
      // Ends the run: every later walk stops at its first file.
      m_dialog->SetTaskConut(0);
    }
    m_dialog->SetCurrentTaskCount(m_dialog->GetCurrentTaskCount() + 1);
  }
  return 0;
}

int CVDUploadFileTask::UploadOneFile(UploadDirNode& node, const std::string& path,
                                     std::vector<UploadResultItem>& results, int* netFailures, bool notify) {
  const std::u16string widePath = platform::AnsiToWide(path);
  m_dialog->SetTaskName(widePath);
  m_dialog->SetProgress(0);
  const std::string name = LeafName(path);
  m_account = m_host->Account();
  m_curPath = path;
  const auto countDone = [&] { m_dialog->SetCurrentTaskCount(m_dialog->GetCurrentTaskCount() + 1); };

  const std::optional<std::uint64_t> size = LocalFileSize(path);
  if (!size || *netFailures > 1) {
    results.push_back(Record(path, {}, false, kUploadGaveUp));
    countDone();
    return 0;
  }

  UploadFileRequest request;
  request.account = m_ownerAccount;
  request.uploadType = "1";
  request.totalSize = Sprintf("%llu", static_cast<unsigned long long>(*size));
  request.parentCatalogID = node.catalogId;
  request.path = ParentPath(node.catalogId);
  m_cloudPath = request.path;
  request.notify = notify ? "1" : "0";
  UploadFileEntry entry;
  entry.contentName = name;
  entry.contentSize = request.totalSize;
  m_sdk->Md5CalFile(path, &entry.digest);
  request.files.push_back(entry);

  if (m_dialog->GetTaskQuitState() == 1) return -1;
  UploadFileResult answer;
  const int code = m_sdk->SyncUploadFileRequest(request, &answer);
  if (code != 0 || answer.entries.empty()) {
    results.push_back(Record(path, {}, false, code != 0 ? code : kSdkFailed));
    countDone();
    if (!m_host->IsNetworkAvailable()) ++*netFailures;
    return 0;
  }
  m_answer = answer;
  for (const UploadFileAnswer& got : answer.entries) {
    m_contentId = got.contentID;
    m_contentName = got.contentName.empty() ? name : got.contentName;
    UploadResultItem item = Record(path, got.contentID, false, 0);
    item.replacedExisting = got.isExist == "1" ? 1 : 0;

    if (got.isNeedUpload == "0") {
      VD_LOG_INFO("文件秒传! %s", path.c_str());
      results.push_back(item);
      m_dialog->SetProgress(100);
      m_dialog->ShowIdleLabels();
      SleepMs(m_timings.settleMs);
      countDone();
      if (m_dialog->GetTaskQuitState() == 1) return -1;
      continue;
    }

    const bool gzip = IsGzip(*size, ExtensionOf(path));
    UploadHeaderRequest header;
    header.account = m_ownerAccount;
    header.contentName = m_contentName;
    header.uploadMode = "0";
    header.rangeStart = "0";
    header.rangeEnd = Sprintf("%llu", static_cast<unsigned long long>(*size ? *size - 1 : 0));
    header.totalSize = request.totalSize;
    header.uploadTaskID = answer.uploadTaskID;
    header.contentEncoding = gzip ? "gzip, deflate" : "";
    header.contentLength = request.totalSize;
    std::string headerText;
    m_sdk->makeUploadFileHttpHeader(header, &headerText);
    TransferObject* transfer = TransferObject::Create(path, 0, true, kNormalAttributes);
    transfer->SetHttpHeader(headerText);
    transfer->SetUrl(answer.uploadURL);
    transfer->SetGzip(gzip);
    m_dialog->SetCurrentTransfer(transfer);
    const int started = m_sdk->uploadFile(transfer);
    if (started != 0) transfer->SetStatus(kTransferStatusFailed);
    m_dialog->SetTransferring(true);
    m_dialog->WaitForTransfer(transfer);

    if (m_dialog->GetTaskQuitState() == 1) {
      CancelCurrent();
      return -1;
    }
    if (transfer->GetStatus() & kTransferStatusDone) {
      results.push_back(item);
    } else {
      VD_LOG_WARN("%s upLoad fail, Begin retry!", path.c_str());
      const int resumed = DoResumeUpload();
      if (resumed == 1) {
        results.push_back(item);
      } else if (resumed == -1) {
        CancelCurrent();
        return -1;
      } else {
        VD_LOG_WARN("after Retry 15times! upload file %s still fail!", path.c_str());
        item.id.clear();
        item.resultCode = kUploadGaveUp;
        results.push_back(item);
        m_sdk->SyncDelUploadTask(m_ownerAccount, m_answer, m_contentName, "");
      }
    }
  }
  m_dialog->AddUploadAllDeal(*size);
  return 0;
}

void CVDUploadFileTask::CancelCurrent() {
  if (TransferObject* transfer = m_dialog->CurrentTransfer()) {
    transfer->Cancel();
    transfer->Release();
  }
  m_sdk->SyncDelUploadTask(m_ownerAccount, m_answer, m_contentName, "");
}

int CVDUploadFileTask::DoResumeUpload() {
  VD_LOG_INFO("Begin DoResumeUpload file %s!", m_curPath.c_str());
  m_dialog->SetRetryDisplay(0);
  int result = 0;
  while (m_retries < kMaxUploadRetries) {
    if (AlreadyUploadFileSucc()) {
      VD_LOG_INFO("Not fail!,Already UploadFile %s Succeed!", m_curPath.c_str());
      m_dialog->SetCurrentTaskCount(m_dialog->GetCurrentTaskCount() + 1);
      result = 1;
      break;
    }
    if (StopRequested()) break;
    SleepMs(m_timings.retryPauseMs);
    ++m_retries;
    m_dialog->SetRetryDisplay(m_retries);
    VD_LOG_INFO("Upload File %s failed! retry: %d times", m_curPath.c_str(), m_retries);
    if (ResumeUploadFile("")) {
      VD_LOG_INFO("%s DoResumeUpload:WaitForSingleObject...", m_curPath.c_str());
      if (TransferObject* resumed = m_dialog->CurrentTransfer()) {
        m_dialog->WaitForTransfer(resumed);
        resumed->Release();
      }
      if (m_dialog->GetTaskQuitState() == 1) {
        VD_LOG_INFO("User cancel retry upload file %s! retry: %d times", m_curPath.c_str(), m_retries);
        result = -1;
        break;
      }
      TransferObject* transfer = m_dialog->CurrentTransfer();
      const bool done = transfer && (transfer->GetStatus() & kTransferStatusDone);
      if (transfer) transfer->Release();
      if (done) {
        VD_LOG_INFO("Retry upload file %s succeed! retry: %d times", m_curPath.c_str(), m_retries);
        result = 1;
        break;
      }
    } else {
      VD_LOG_WARN("ResumeUploadFile %s fail! retry!", m_curPath.c_str());
      if (m_dialog->GetTaskQuitState() == 1) {
        result = -1;
        break;
      }
    }
  }
  m_retries = 0;
  m_dialog->SetRetryDisplay(0);
  VD_LOG_INFO("End DoResumeUpload file %s! return %d", m_curPath.c_str(), result);
  return result;
}

int CVDUploadFileTask::QueryTaskInfo(UploadTaskInfoResult* list) {
  UploadTaskInfoRequest request;
  request.account = m_account;
  request.contentID = m_contentId;
  request.uploadTaskID = m_answer.uploadTaskID;
  request.path = m_cloudPath;
  return m_sdk->getUploadTaskInfoN(request, list);
}

bool CVDUploadFileTask::ResumeUploadFile(const std::string& empty) {
  (void)empty;
  UploadTaskInfoResult info;
  const int code = QueryTaskInfo(&info);
  if (code != 0) {
    VD_LOG_WARN("%s ResumeUploadFile:getUploadTaskInfoN failed!,return false,RetCode: %d", m_curPath.c_str(), code);
    return false;
  }
  if (info.taskInfos.empty() || info.taskInfos[0].blocks.empty()) {
    VD_LOG_WARN("%s ResumeUploadFile:vecPcUploadTaskInfo.size()==0, return false", m_curPath.c_str());
    return false;
  }
  const std::uint64_t uploaded = std::strtoull(info.taskInfos[0].blocks[0].uploadedSize.c_str(), nullptr, 10);
  const std::optional<std::uint64_t> size = LocalFileSize(m_curPath);
  if (!size) return false;
  if (uploaded == *size) {
    VD_LOG_INFO("%s ResumeUploadFile:总大小等于已上传大小任务已上传成功, return false", m_curPath.c_str());
    return false;
  }
  if (uploaded > *size) return false;  // the local file shrank: only a new request can help
  UploadHeaderRequest header;
  header.account = m_ownerAccount;
  header.contentName = m_contentName;
  header.uploadMode = "0";
  header.rangeStart = std::to_string(uploaded);
  header.rangeEnd = std::to_string(*size ? *size - 1 : 0);
  header.totalSize = std::to_string(*size);
  header.uploadTaskID = m_answer.uploadTaskID;
  header.contentEncoding = "";
  header.contentLength = std::to_string(*size - uploaded);
  header.extra = LeafName(m_curPath);
  std::string headerText;
  m_sdk->makeUploadFileHttpHeader(header, &headerText);
  TransferObject* transfer = TransferObject::Create(m_curPath, 0, true, kNormalAttributes);
  transfer->SetTransferred(uploaded);
  transfer->SetHttpHeader(headerText);
  transfer->SetUrl(m_answer.uploadURL);
  transfer->AddRef();  // kept for the start's result
  m_dialog->SetCurrentTransfer(transfer);
  m_dialog->SetTransferring(true);
  const int started = m_sdk->uploadFile(transfer);
  if (started != 0) {
    m_dialog->SetTransferring(false);
    transfer->Release();
    VD_LOG_WARN("%s ResumeUploadFile:UploadFile failed!return false,RetCode: %d", m_curPath.c_str(), started);
    return false;
  }
  transfer->Release();
  VD_LOG_INFO("%s Call ResumeUploadFile succeed!, return true", m_curPath.c_str());
  return true;
}

bool CVDUploadFileTask::AlreadyUploadFileSucc() {
  UploadTaskInfoResult info;
  const int code = QueryTaskInfo(&info);
  bool done = false;
  if (code != 0) {
    VD_LOG_WARN("AlreadyUploadFileSucc:UploadFile %s failed! getUploadTaskInfoN RetCode: %d", m_curPath.c_str(), code);
  } else if (!info.taskInfos.empty() && !info.taskInfos[0].blocks.empty()) {
    const std::optional<std::uint64_t> size = LocalFileSize(m_curPath);
    done = size && std::strtoull(info.taskInfos[0].blocks[0].uploadedSize.c_str(), nullptr, 10) == *size;
    if (done) VD_LOG_INFO("上传文件完成啊~~");
  }
  VD_LOG_INFO("AlreadyUploadFileSucc %s,return %d", m_curPath.c_str(), done ? 1 : 0);
  return done;
}

void CVDUploadFileTask::SendNewEvent(const std::vector<UploadResultItem>& eventList) {
  NewEventRequest request;
  request.account = m_ownerAccount;
  request.eventType = "1";
  // Every 20-character component is a catalog's fixed part: the user id goes in front.
  const std::string userId = platform::WideToAnsi(m_host->UserId());
  std::string path;
  std::size_t start = 0;
  while (start <= m_targetPath.size()) {
    std::size_t end = m_targetPath.find('\\', start);
    if (end == std::string::npos) end = m_targetPath.size();
    const std::string part = m_targetPath.substr(start, end - start);
    path += (part.size() == 20 ? userId + part : part);
    if (end == m_targetPath.size()) break;
    path += '\\';
    start = end + 1;
  }
  request.path = path;
  int count = 0;
  for (const auto& item : eventList) {
    if (count == 8) break;
    if (item.resultCode != 0) continue;
    request.items += "<obj>" + item.name + "|" + std::to_string(item.isFolder + 1) + "|" + item.id + "||" +
                     std::to_string(ExtensionTypeCode(item.name)) + "|" + item.time + "</obj>";
    ++count;
  }
  request.itemCount = std::to_string(count);
  const std::string pname = m_target ? platform::WideToAnsi(vd::VDPidlMgr::GetName(vd::VDPidlMgr::GetLastItem(m_target.get())))
                                     : std::string();
  request.extInfo = "{\"ppath\":\"" + JsonEscape(m_targetPath) + "\",\"pname\":\"" + JsonEscape(pname) + "\"}";
  OprResult out;
  const int code = m_sdk->NewEvent(request, &out, nullptr, nullptr);
  VD_LOG_INFO("NewEventReCallback %d", code);
}

void CVDUploadFileTask::ShowUploadTaskDlg(int result, const std::vector<UploadResultItem>& results) {
  VD_TRACE("CVDUploadFileTask::ShowUploadTaskDlg");
  (void)result;
  const auto report = BuildUploadReport(results, m_sameNameFolders,
                                        [this](int code) { return m_host->ResultMessage(code); });
  if (report) m_host->ShowReport(m_parentWindow, TableText(IDS_UPLOAD_RESULT), report->summary, report->details);
}

void CVDUploadFileTask::UploadFileTaskOne(const std::string& catalogId, const std::string& localPath, int* resultCode,
                                          std::uint32_t* status) {
  VD_TRACE("CVDUploadFileTask::UploadFileTaskOne");
  ITransferHost* host = CurrentTransferHost();
  ICloudSdk* sdk = host ? host->Sdk() : nullptr;
  if (status) *status = 0;
  const std::optional<std::uint64_t> size = LocalFileSize(localPath);
  if (!size || !sdk) {
    VD_LOG_WARN("获取文件属性失败!");
    if (resultCode) *resultCode = -1;
    return;
  }
  const std::string account = host->Account();
  UploadFileRequest request;
  request.account = account;
  request.totalSize = Sprintf("%llu", static_cast<unsigned long long>(*size));
  request.parentCatalogID = catalogId;
  UploadFileEntry entry;
  entry.contentName = LeafName(localPath);
  entry.contentSize = request.totalSize;
  sdk->Md5CalFile(localPath, &entry.digest);
  request.files.push_back(entry);
  UploadFileResult answer;
  const int code = sdk->SyncUploadFileRequest(request, &answer);
  if (resultCode) *resultCode = code;
  if (code != 0) return;
  if (answer.entries.empty()) {
    if (resultCode) *resultCode = kSdkFailed;
    return;
  }
  if (answer.entries[0].isNeedUpload == "0") {
    VD_LOG_INFO("文件秒传!");
    if (status) *status = kTransferStatusDone;
    return;
  }
  std::string ext = ExtensionOf(localPath);
  if (!ext.empty()) ext.erase(0, 1);
  UploadHeaderRequest header;
  header.account = account;
  header.contentName = answer.entries[0].contentName.empty() ? entry.contentName : answer.entries[0].contentName;
  header.rangeStart = "0";
  header.rangeEnd = Sprintf("%u", static_cast<unsigned>(*size ? *size - 1 : 0));
  header.totalSize = request.totalSize;
  header.uploadTaskID = answer.uploadTaskID;
  header.contentLength = request.totalSize;
  header.contentEncoding = IsGzip(*size, ext) ? "gzip, deflate" : "";
  std::string headerText;
  sdk->makeUploadFileHttpHeader(header, &headerText);
  TransferObject* transfer = TransferObject::Create(localPath, 0, true, kNormalAttributes);
  transfer->SetHttpHeader(headerText);
  transfer->SetUrl(answer.uploadURL);
  transfer->SetGzip(!header.contentEncoding.empty());
  std::uint32_t final = kTransferStatusFailed;
  if (sdk->uploadFile(transfer) == 0) {
    for (;;) {
      if (StopRequested()) transfer->Cancel();
      if (transfer->WaitSignalled(5000, &final) && (final & kTransferStopMask)) break;
    }
  }
  if (status) *status = final;
  transfer->Release();
}

}  // namespace vdtransfer
