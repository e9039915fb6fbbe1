#include "download_task.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "drag_out.h"
#include "local_name.h"
#include "platform/clock.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "platform/text.h"
#include "string_table.h"
#include "trace.h"
#include "transfer_text.h"
#include "transfer_util.h"
#include "upload_task.h"

namespace vdtransfer {

using namespace vd::resources;

namespace {

std::u16string Wide16(const std::string& ansi) { return platform::AnsiToWide(ansi); }

bool FileExists(const std::string& ansiPath) { return platform::SystemFileSystem().Exists(Wide16(ansiPath)); }

std::uint64_t SizeOf(const DownloadItem& record) { return std::strtoull(record.size.c_str(), nullptr, 10); }

char Separator() { return static_cast<char>(platform::PathSeparator()); }

// Cloud paths being opened (mode 3), process-wide.
std::mutex g_openLock;
std::set<std::string> g_opening;

}  // namespace

std::string SwitchToNoSameName(const std::string& path) {
  if (!FileExists(path)) return path;
  const auto slash = path.find_last_of("\\/");
  const auto dot = path.rfind('.');
  const bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = hasDot ? path.substr(0, dot) : path;
  const std::string ext = hasDot ? path.substr(dot) : std::string();
  for (int n = 1;; ++n) {
    const std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
    if (!FileExists(candidate)) return candidate;
  }
}

// ---------------------------------------------------------------- checker

CVDDownloadChecker& CVDDownloadChecker::GetInstance() {
  static CVDDownloadChecker* checker = new CVDDownloadChecker();  // never destroyed: workers may outlive statics
  return *checker;
}

void CVDDownloadChecker::AssertDownloadfiles(std::vector<DownloadItem>& records) {
  std::lock_guard lock(m_lock);
  std::vector<DownloadItem> kept;
  for (auto& r : records) {
    if (m_paths.insert(r.finalPath).second) kept.push_back(std::move(r));
    else VD_LOG_INFO("%s is being downloaded by another task", r.finalPath.c_str());
  }
  records = std::move(kept);
}

void CVDDownloadChecker::RomeveDownloadfiles(const std::vector<DownloadItem>& records) {
  std::lock_guard lock(m_lock);
  for (const auto& r : records) m_paths.erase(r.finalPath);
}

bool CVDDownloadChecker::Holds(const std::string& path) const {
  std::lock_guard lock(m_lock);
  return m_paths.count(path) != 0;
}

// ---------------------------------------------------------------- task

CVDDownloadFileTask::CVDDownloadFileTask() : m_host(CurrentTransferHost()) {}

CVDDownloadFileTask::~CVDDownloadFileTask() {
  if (m_dialog) m_dialog->Finish();
}

int CVDDownloadFileTask::StartDownloadServer(std::vector<CloudEntry> items, void* ownerWindow, int mode,
                                             bool cutToDownload, const std::string& targetDir,
                                             const std::string& nameOverride, DownloadDone done) {
  VD_TRACE("CVDDownloadFileTask::StartDownloadServer");
  VD_LOG_INFO("虚拟盘下载开始");
  if (StopRequested() || !m_host || !m_host->Sdk() || items.empty()) {
    delete this;
    return -1;
  }
  m_items = std::move(items);
  m_owner = ownerWindow;
  m_mode = mode;
  m_cutToDownload = cutToDownload;
  m_targetDir = targetDir;
  m_nameOverride = nameOverride;
  m_done = std::move(done);
  try {
    std::thread([this] {
      if (!platform::RaiseCurrentThreadPriority()) VD_LOG_WARN("SetThreadPriority Fail!!! ");
      if (!platform::NoThrow("CVDDownloadFileTask::DownloadThreadProc", [this] { Run(); })) EndRun();
    }).detach();
  } catch (const std::system_error&) {
    delete this;
    return -1;
  }
  return 0;
}

void CVDDownloadFileTask::EndRun(bool report) {
  CVDDownloadChecker::GetInstance().RomeveDownloadfiles(m_records);
  if (m_openRegistered) {
    std::lock_guard lock(g_openLock);
    g_opening.erase(m_items[0].id);
  }
  if (m_holdsSlot) ReleaseSlot(RunningDownloads());
  // The caller hears of the end only once everything the task held is free:
  // the same file may be opened again from inside the callback.
  DownloadDone done = report ? std::move(m_done) : DownloadDone();
  std::vector<DownloadResult> results = std::move(m_results);
  delete this;
  if (done) done(results);
}

int CVDDownloadFileTask::Run() {
  VD_TRACE("CVDDownloadFileTask::DownloadThreadProc");
  m_account = m_host->Account();
  if (m_mode == kOpen) {
    std::lock_guard lock(g_openLock);
    if (!g_opening.insert(m_items[0].id).second) {
      m_host->ShowMessage(m_owner, u"文件  " + Wide16(m_items[0].name) + u"  正在处理或已打开, 请稍后再试");
      EndRun();
      return 0;
    }
    m_openRegistered = true;
  }
  if (m_targetDir.empty()) {
    // A drag out: the copy hook hands over where the placeholder was dropped.
    VD_LOG_INFO("WaitForSingleObject(hWait, INFINITE);");
    const bool dropped = DragOutHandOver::Instance().WaitDropped(kDragOutWaitMs);
    const std::string destination = platform::WideToAnsi(DragOutHandOver::Instance().Destination());
    VD_LOG_INFO("m_strDownLoadDir %s", destination.c_str());
    const auto cut = destination.find_last_of("\\/");
    if (!dropped || cut == std::string::npos) {
      VD_LOG_WARN("m_strDownLoadDir || dwWait = %X", dropped ? 0u : 0x102u);
      EndRun();
      return 0;
    }
    m_targetDir = destination.substr(0, cut + 1);
  }
  if (!m_host->IsNetworkAvailable()) {
    m_host->ShowMessage(m_owner, TableText(IDS_NETWORK_UNAVAILABLE));
    EndRun();
    return 0;
  }

  // A catalog never merges into a local folder of its name.
  std::u16string clashes;
  for (std::size_t i = 0; i < m_items.size(); ++i) {
    if (!m_items[i].isCatalog) continue;
    const std::string name = i == 0 && !m_nameOverride.empty() ? m_nameOverride : m_items[i].name;
    const auto local = vd::localname::JoinUnderAnsi(m_targetDir.substr(0, m_targetDir.size() - 1), name, Separator());
    if (local && FileExists(*local)) clashes += Wide16(*local) + u"\r\n";
  }
  if (!clashes.empty()) {
    m_host->ShowMessage(m_owner, u"本地文件夹：" + clashes + u"已存在，请改名后再试");
    EndRun();
    return 0;
  }

  m_dialog = std::make_shared<CCTaskProgressDlg>(CCTaskProgressDlg::kDownload, m_mode);
  m_dialog->SetCollectMode(true);
  m_dialog->SetTaskConut(0);
  if (!m_host->CreateProgressWindow(m_dialog, m_owner, true, true)) {
    EndRun();
    return 0;
  }
  // The collect runs beside the dialog, which animates and says when it ends.
  // The end of the collect wakes the worker at once; a cancel is seen within 200 ms.
  std::mutex collectLock;
  std::condition_variable collectEnded;
  std::thread collector([&] {
    platform::NoThrow("CVDDownloadFileTask::CollectThreadProc", [this] { m_collectFailed = !Collect(); });
    m_dialog->SetCollected(static_cast<std::uint32_t>(m_records.size()), m_collectedBytes, true);
    std::lock_guard lock(collectLock);
    m_collectDone = true;
    collectEnded.notify_all();
  });
  {
    std::unique_lock lock(collectLock);
    while (!m_collectDone.load() && m_dialog->GetTaskQuitState() != 1 && !m_dialog->IsClosed()) {
      collectEnded.wait_for(lock, std::chrono::milliseconds(200));
    }
  }
  collector.join();
  if (m_dialog->GetTaskQuitState() == 1) {
    EndRun();
    return 0;
  }
  if (m_collectFailed) {
    m_host->ShowMessage(m_owner, TableText(IDS_LOCAL_FOLDER_CLASH));
    EndRun();
    return 0;
  }
  if (m_records.empty() && m_folderCount == 0 && m_refused.empty()) {
    m_host->ShowMessage(m_owner, TableText(IDS_NOTHING_TO_DOWNLOAD));
    EndRun();
    return 0;
  }

  // The checker may take out files another task is fetching: total what is left.
  CVDDownloadChecker::GetInstance().AssertDownloadfiles(m_records);
  std::uint64_t total = 0;
  for (const auto& r : m_records) total += SizeOf(r);
  m_dialog->SetTotalCntAndSize(static_cast<std::uint32_t>(m_records.size()), total,
                               m_mode == kOpen ? Wide16(m_items[0].name) : std::u16string());
  m_dialog->SetUploadTarget(Wide16(m_targetDir));
  m_dialog->SetTaskConut(static_cast<int>(m_records.size()));
  m_dialog->QuitCollectModel();

  if (TryTakeSlot(RunningDownloads())) {
    m_holdsSlot = true;
  } else {
    m_dialog->SetWaiting();
    m_dialog->WaitForSignal();
    m_holdsSlot = !m_dialog->IsWaiting();
    if (m_dialog->GetTaskQuitState() == 1 || !m_holdsSlot) {
      EndRun();
      return 0;
    }
  }

  VD_LOG_INFO("DownloadFileTask Begin");
  const int result = DownloadFileTask();
  VD_LOG_INFO("DownloadFileTask End");
  if (StopRequested()) {
    EndRun();
    return -2;
  }
  if (m_mode != kOpen) SendNewEvent();
  VD_LOG_INFO("虚拟盘下载结束");
  if (m_mode == kOpen && !m_results.empty() && m_results[0].resultCode == 0) UploadChangeFile();
  ShowDownloadFailDlg();
  EndRun(true);
  return result;
}

bool CVDDownloadFileTask::Collect() {
  VD_TRACE("CVDDownloadFileTask::putDirToVecEx");
  const std::string folder = m_targetDir.substr(0, m_targetDir.size() - 1);
  for (std::size_t i = 0; i < m_items.size(); ++i) {
    if (m_dialog->GetTaskQuitState() == 1) return true;
    if (!CollectEntry(m_items[i], folder, i == 0 ? m_nameOverride : std::string())) return false;
  }
  return true;
}

bool CVDDownloadFileTask::CollectEntry(const CloudEntry& entry, const std::string& folder,
                                       const std::string& nameOverride) {
  if (m_dialog->GetTaskQuitState() == 1 || StopRequested()) return true;
  const std::string cloudName = nameOverride.empty() ? entry.name : nameOverride;
  // The service's names are not trusted: each becomes one safe component of a
  // path below the target, or a recorded failure.
  const std::size_t room = entry.isCatalog || m_mode == kOpen ? 0 : kDownloadNameRoom;
  const std::optional<std::string> local = vd::localname::JoinUnderAnsiWithinPath(folder, cloudName, Separator(), room);
  if (!local) {
    VD_LOG_WARN("no local name for %s", cloudName.c_str());
    m_refused.push_back(cloudName);
    return true;
  }
  if (!entry.isCatalog) {
    DownloadItem record;
    record.display = cloudName;
    record.contentId = entry.id;
    record.fullId = entry.fullId;
    record.size = std::to_string(entry.size);
    if (m_mode == kOpen) {
      record.finalPath = *local;
      record.downloadPath = *local;
    } else {
      record.finalPath = SwitchToNoSameName(*local);
      record.downloadPath = record.finalPath + ".tmp";
    }
    m_records.push_back(std::move(record));
    m_collectedBytes += entry.size;
    m_dialog->SetCollected(static_cast<std::uint32_t>(m_records.size()), m_collectedBytes, false);
    return true;
  }
  const platform::Result made = platform::SystemFileSystem().CreateDirectories(Wide16(*local));
  if (made != platform::kOk) {
    VD_LOG_WARN(" !bCreat CreateDirectoryW %s", local->c_str());
    return false;
  }
  ++m_folderCount;
  std::vector<CloudEntry> children;
  if (!m_host->ListCatalog(entry.id, &children)) {
    VD_LOG_WARN("the catalog %s could not be listed", entry.id.c_str());
    m_refused.push_back(cloudName);
    return true;
  }
  for (const auto& child : children) {
    if (!CollectEntry(child, *local, std::string())) return false;
  }
  return true;
}

TransferObject* CVDDownloadFileTask::StartTransfer(const DownloadItem& record, std::uint64_t rangeStart) {
  const std::uint64_t size = SizeOf(record);
  const std::uint32_t attributes = record.attributes ? record.attributes
                                   : m_mode == kOpen ? kNormalAttributes
                                                     : kPartialAttributes;
  TransferObject* transfer = TransferObject::Create(record.downloadPath, 0, false, attributes);
  DownloadFileRequest request;
  request.account = m_account;
  request.contentID = record.contentId;
  request.fullID = record.fullId;
  request.batch = m_mode == kOpen || m_records.size() > 1 || m_folderCount > 0 ? "1" : "0";
  request.offset = rangeStart ? "-1" : "0";
  DownloadHeaderRequest fields;
  fields.account = m_account;
  fields.contentID = record.contentId;
  fields.rangeStart = std::to_string(rangeStart);
  fields.rangeEnd = size ? std::to_string(size - 1) : std::string();
  fields.totalSize = record.size;
  fields.acceptEncoding = "gzip, deflate";
  std::string header;
  m_host->Sdk()->makeDownloadFileHttpHeader(fields, &header);
  transfer->SetHttpHeader(header);
  transfer->SetHeaderFields(fields);
  transfer->SetTransferred(rangeStart);
  m_dialog->SetCurrentTransfer(transfer);
  m_dialog->SetTransferring(true);
  if (!m_host->IsNetworkAvailable()) {
    ++m_netFailures;
    VD_LOG_WARN("下载文件%s途中，网络异常", record.finalPath.c_str());
    transfer->SetStatus(kTransferStatusFailed);
  } else if (m_host->Sdk()->pcDownloadFileRequest(request, transfer) != 0) {
    transfer->SetStatus(kTransferStatusFailed);
  }
  return transfer;
}

int CVDDownloadFileTask::DownloadFileTask() {
  VD_TRACE("CVDDownloadFileTask::DownloadFileTask");
  for (const std::string& name : m_refused) {
    DownloadResult refused;
    refused.name = name;
    refused.resultCode = kDownloadGaveUp;
    m_results.push_back(refused);
  }
  if (m_records.empty()) {
    m_dialog->SetTaskConut(0);
    return 0;
  }
  for (const DownloadItem& record : m_records) {
    if (StopRequested()) break;
    m_dialog->SetTaskName(Wide16(record.display));
    m_dialog->SetUploadTarget(Wide16(record.finalPath));
    m_dialog->SetProgress(0);
    DownloadResult result;
    result.item = record;
    result.name = record.display;
    TransferObject* transfer = StartTransfer(record, 0);
    m_dialog->WaitForTransfer(transfer);
    int code = 0;
    if (m_dialog->GetTaskQuitState() == 1) {
      transfer->Cancel();
      code = kDownloadCancelled;
      VD_LOG_INFO("用户点击取消，%s退出下载", record.display.c_str());
    } else if (!(transfer->GetStatus() & kTransferStatusDone)) {
      VD_LOG_WARN("%s downLoad fail, Begin retry!", record.display.c_str());
      const int resumed = DoResumeDownload(record);
      code = resumed == 1 ? 0 : resumed == -1 ? kDownloadCancelled : kDownloadGaveUp;
      if (code == kDownloadGaveUp) VD_LOG_WARN("After retry %d times! %s download still fail!", kMaxDownloadRetries, record.display.c_str());
    }
    result.resultCode = code;
    m_results.push_back(result);
    if (code == kDownloadCancelled) return -1;
    m_dialog->AddUploadAllDeal(SizeOf(record));
  }
  return 0;
}

int CVDDownloadFileTask::DoResumeDownload(const DownloadItem& record) {
  VD_LOG_INFO("Begin DoResumeDownload file %s!", record.display.c_str());
  m_dialog->SetRetryDisplay(0);
  const std::uint32_t pause = CurrentUploadTimings().retryPauseMs;
  int result = 0;
  const std::uint64_t size = SizeOf(record);
  for (int round = 1; round <= kMaxDownloadRetries; ++round) {
    // No transfer runs between rounds: one look at the partial file serves both uses.
    const std::optional<std::uint64_t> have = LocalFileSize(record.downloadPath);
    if (have == size) {
      VD_LOG_INFO("%s Already DownloadFile Succeed! Not need to retry!", record.display.c_str());
      m_dialog->SetCurrentTaskCount(m_dialog->GetCurrentTaskCount() + 1);
      result = 1;
      break;
    }
    if (StopRequested()) break;
    SleepMs(pause);
    m_dialog->SetRetryDisplay(round);
    VD_LOG_INFO("Download File %s failed! retry: %d times", record.display.c_str(), round);
    // The range starts where the partial file ends.
    TransferObject* transfer = StartTransfer(record, have && *have < size ? *have : 0);
    m_dialog->WaitForTransfer(transfer);
    if (m_dialog->GetTaskQuitState() == 1) {
      VD_LOG_INFO("User cancel retry download file %s! retry: %d times", record.display.c_str(), round);
      transfer->Cancel();
      result = -1;
      break;
    }
    if (transfer->GetStatus() & kTransferStatusDone) {
      VD_LOG_INFO("Retry download file %s succeed! retry: %d times", record.display.c_str(), round);
      result = 1;
      break;
    }
  }
  m_dialog->SetRetryDisplay(0);
  return result;
}

void CVDDownloadFileTask::ShowDownloadFailDlg() {
  VD_TRACE("CVDDownloadFileTask::ShowDownloadFailDlg");
  // The files are let go by the transfers before they are renamed.
  m_dialog->SetCurrentTransfer(nullptr);
  auto& files = platform::SystemFileSystem();
  std::u16string failures;
  int failed = 0;
  for (DownloadResult& result : m_results) {
    if (result.resultCode == kDownloadCancelled) break;
    const DownloadItem& item = result.item;
    if (result.resultCode != 0) {
      if (!item.downloadPath.empty() && files.RemoveFile(Wide16(item.downloadPath)) != platform::kOk &&
          FileExists(item.downloadPath))
        VD_LOG_WARN("DeleteFile Fail %s", item.downloadPath.c_str());
      if (result.resultCode == kDownloadGaveUp) {
        failures += Wide16(result.name) + u"\r\n";
        ++failed;
      }
      continue;
    }
    if (!platform::SetNormalAttributes(item.downloadPath)) VD_LOG_WARN("SetFileAttributesA== FALSE");
    if (item.downloadPath == item.finalPath) continue;
    if (files.Rename(Wide16(item.downloadPath), Wide16(item.finalPath)) != platform::kOk) {
      VD_LOG_WARN("EACCES %s", item.finalPath.c_str());
      m_host->ShowMessage(m_owner, Wide16(item.finalPath) + TableText(IDS_SAME_NAME_FILE_EXISTS));
      result.resultCode = kDownloadGaveUp;
    }
  }
  // A cut is a move: the cloud items go only when every byte of them arrived.
  bool complete = failed == 0 && m_refused.empty() && m_results.size() == m_records.size();
  for (const DownloadResult& result : m_results) complete = complete && result.resultCode == 0;
  if (m_cutToDownload && !complete) VD_LOG_WARN("cut to download incomplete: the cloud items stay");
  if (m_cutToDownload && complete) {
    VD_LOG_INFO("m_bIsCutToDownload%d", 1);
    MgtVirDirRequest request;
    request.account = m_account;
    for (const auto& item : m_items) (item.isCatalog ? request.catalogIDs : request.contentIDs).push_back(item.id);
    OprResult out;
    const int code = m_host->Sdk()->SyncMgtVirDirInfo(request, &out);
    VD_LOG_INFO("SyncMgtVirDirInfo %d", code);
    m_host->CutItemsMoved(m_items.front().parentId);
  }
  if (failed == 0) return;
  if (m_netFailures > 1) m_host->ShowMessage(m_owner, TableText(IDS_NETWORK_UNAVAILABLE));
  m_host->ShowReport(m_owner, TableText(IDS_DOWNLOAD_RESULT),
                     TableText(IDS_DOWNLOAD_THERE_ARE) + Wide(std::to_string(failed)) + TableText(IDS_DOWNLOAD_FAILED_COUNT),
                     TableText(IDS_DOWNLOAD_DETAILS) + failures);
}

namespace {

// Last-write time and size of a file, or nothing when it is gone.
std::optional<std::pair<std::int64_t, std::uint64_t>> Stamp(const std::string& ansiPath) {
  const std::u16string path = Wide16(ansiPath);
  const auto cut = path.find_last_of(u"\\/");
  if (cut == std::u16string::npos) return std::nullopt;
  std::vector<platform::DirEntry> entries;
  if (platform::SystemFileSystem().List(path.substr(0, cut), entries) != platform::kOk) return std::nullopt;
  for (const auto& e : entries)
    if (!e.is_directory && e.name == path.substr(cut + 1)) return std::make_pair(e.modified_unix, e.size);
  return std::nullopt;
}

}  // namespace

void CVDDownloadFileTask::UploadChangeFile() {
  VD_TRACE("CVDDownloadFileTask::UploadChangeFile");
  const DownloadItem& item = m_results[0].item;
  const std::string& path = item.downloadPath;
  const auto before = Stamp(path);
  if (!before || StopRequested()) return;
  m_host->OpenAndWait(path);
  const auto after = Stamp(path);
  if (!after) {
    m_host->ShowMessage(m_owner, u"在线编辑不支持重命名文件");
    return;
  }
  if (*after == *before) {
    VD_LOG_INFO("Compare File No Change %s", path.c_str());
    return;
  }
  VD_LOG_INFO("Compare File and Uploading %s", path.c_str());
  if (m_items[0].parentId.empty()) {
    m_host->ShowMessage(m_owner, u"此文件夹下文件不支持修改");
    platform::SystemFileSystem().RemoveFile(Wide16(path));
    return;
  }
  const std::uint32_t pause = CurrentUploadTimings().retryPauseMs;
  for (;;) {
    int code = -1;
    std::uint32_t status = 0;
    for (int attempt = 0; attempt <= kSendBackRetries && !StopRequested(); ++attempt) {
      if (attempt > 0) {
        VD_LOG_WARN("回传文件%s失败，错误码：%d,开始第%d重传", path.c_str(), code, attempt);
        SleepMs(pause);
      }
      CVDUploadFileTask::UploadFileTaskOne(m_items[0].parentId, path, &code, &status);
      if (code == 0 && (status & kTransferStatusDone)) break;
    }
    if ((code == 0 && (status & kTransferStatusDone)) || StopRequested()) break;
    const std::string reason = code != 0 ? m_host->ResultMessage(code) : std::string();
    if (!m_host->AskYesNo(m_owner, Wide(Sprintf("文件 %s 上传失败%s\n是否重传？", LeafName(path).c_str(), reason.c_str()))))
      break;
  }
  // Sent back or given up: the local copy goes either way.
  platform::SystemFileSystem().RemoveFile(Wide16(path));
}

void CVDDownloadFileTask::SendNewEvent() {
  NewEventRequest request;
  request.account = m_account;
  request.eventType = "12";
  int count = 0;
  for (const auto& result : m_results) {
    if (count == 8) break;
    if (result.resultCode != 0 || result.item.contentId.empty()) continue;
    request.items += "<obj>" + result.name + "|1|" + result.item.contentId + "||" +
                     std::to_string(ExtensionTypeCode(result.name)) + "|" + LocalTimeText() + "</obj>";
    ++count;
  }
  if (count == 0) return;
  request.itemCount = std::to_string(count);
  OprResult out;
  VD_LOG_INFO("DownLoadNewEventReCallback %d", m_host->Sdk()->NewEvent(request, &out, nullptr, nullptr));
}

}  // namespace vdtransfer
