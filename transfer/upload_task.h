#pragma once
// Uploads a tree of local files and folders into one cloud catalog. A drop
// builds the tree, creates a task and starts it; from then on the task owns
// itself: it shows its progress dialog, runs on a worker thread of its own,
// creates the cloud folders, sends every file through the SDK with resume
// and retry, reports what failed, calls the caller back and deletes itself.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cloud_sdk.h"
#include "pidl.h"
#include "task_progress_dlg.h"
#include "transfer_host.h"

namespace vdtransfer {

// One local folder of the tree; the root stands for the target catalog.
struct UploadDirNode {
  std::string catalogId;               // set on the root by the caller, on the others once made
  std::string localPath;               // ANSI; empty on the root
  std::vector<std::string> files;      // full ANSI paths of its plain files
  std::vector<UploadDirNode> subdirs;
};

// One file or folder the engine handled.
struct UploadResultItem {
  std::string localPath;
  std::string name;
  std::string time;  // local "%04d%02d%02d%02d%02d%02d", "0" when the clock is unreadable
  std::string id;    // content or catalog ID; empty on failure
  std::int32_t isFolder = 0;
  std::int32_t replacedExisting = 0;
  std::int32_t resultCode = 0;  // 0; an SDK code; 1 failed after retries or skipped; -1 folder not tried
};

// Codes of a record besides the SDK's own.
inline constexpr int kUploadGaveUp = 1;
inline constexpr int kUploadNotTried = -1;

using UploadCallback =
    std::function<void(int result, const std::vector<UploadResultItem>& results, vd::PcPidl target)>;


// Pauses of the engine, in milliseconds; tests shorten them.
struct UploadTimings {
  std::uint32_t settleMs = 500;       // after a file the service already had, and before the report
  std::uint32_t retryPauseMs = 1000;  // between two resume attempts
};
void SetUploadTimings(UploadTimings timings);
// The pauses in force; the download engine keeps the same ones.
UploadTimings CurrentUploadTimings();

inline constexpr int kMaxUploadRetries = 15;
// Bodies this size or smaller are never compressed.
inline constexpr std::uint64_t kGzipMinBytes = 2048;

// Local files being uploaded now, process-wide: a file is sent by one task at
// a time.
class CVDUploadChecker {
 public:
  static CVDUploadChecker& GetInstance();
  // Claims the tree's files; one another task holds is taken out of the tree.
  void AssertUploadfiles(UploadDirNode& node);
  // Gives the tree's files back.
  void RomeveUploadfiles(const UploadDirNode& node);
  bool Holds(const std::string& path) const;

 private:
  void AssertLocked(UploadDirNode& node);
  void RemoveLocked(const UploadDirNode& node);

  mutable std::mutex m_lock;
  std::set<std::string> m_paths;
};

// The upload report's texts, or nothing to show.
struct UploadReport {
  std::u16string summary;
  std::u16string details;
};
std::optional<UploadReport> BuildUploadReport(const std::vector<UploadResultItem>& results,
                                              const std::vector<std::string>& sameNameFolders,
                                              const std::function<std::string(int)>& resultMessage);
// The gzip rule: the extension (".txt" or "txt") occurs in the configured
// list, which is cut to 259 characters, and the body is above 2048 bytes.
bool GzipApplies(const std::string& list, std::uint64_t size, const std::string& extension);
// The notice about files that replaced ones of the same name; empty when none did.
std::u16string ReplacedFilesText(const std::vector<std::string>& names);
// Type code of a file name's extension in notices: 1 picture, 2 audio, 3 video, 0 other.
int ExtensionTypeCode(const std::string& name);
// "%04d%02d%02d%02d%02d%02d" of the local time now.
std::string LocalTimeText();
// The text after the last backslash (or slash).
std::string LeafName(const std::string& path);

class CVDUploadFileTask {
 public:
  CVDUploadFileTask();
  ~CVDUploadFileTask();
  CVDUploadFileTask(const CVDUploadFileTask&) = delete;
  CVDUploadFileTask& operator=(const CVDUploadFileTask&) = delete;

  // 0: the worker runs and owns the task; -10: no network; -1: anything
  // else. On a failure the task has deleted itself.
  int StartUploadServer(const UploadDirNode& root, const std::string& ownerAccount, vd::PcPidl targetItems,
                        int emptyCount, const std::vector<std::string>& emptyFiles, int sameNameCount,
                        const std::vector<std::string>& sameNameFolders, std::uint32_t itemCount,
                        std::uint64_t byteTotal, const std::u16string& targetText, void* parentWindow,
                        UploadCallback callback);

  // One file, no dialog, no thread: the send-back of an opened file.
  static void UploadFileTaskOne(const std::string& catalogId, const std::string& localPath, int* resultCode,
                                std::uint32_t* status);

  static int StatisticsTask(const UploadDirNode& node);
  // True for a configured extension (".txt" or "txt", as listed) above 2048 bytes.
  static bool IsGzip(std::uint64_t size, const std::string& extension);

  // Set by the caller before StartUploadServer.
  int mode = 10;
  std::u16string title;
  std::uint8_t shareTarget = 0;
  // Inside a received share: the share's cloud path prefix, for IsValuePath.
  std::string sharePathPrefix;
  // Inside a received share: the target catalog's cloud path as listed.
  std::string listedPath;

  // The dialog (tests drive it); null before the start.
  std::shared_ptr<CCTaskProgressDlg> Dialog() const { return m_dialog; }

 private:
  static unsigned UploadThreadProc(CVDUploadFileTask* task);
  int Run();
  int UploadFileTask(UploadDirNode& node, std::vector<UploadResultItem>& results, int* netFailures,
                     int* callCount, std::vector<UploadResultItem>& eventList);
  int UploadOneFile(UploadDirNode& node, const std::string& path, std::vector<UploadResultItem>& results,
                    int* netFailures, bool notify);
  int DoResumeUpload();
  bool ResumeUploadFile(const std::string& empty);
  bool AlreadyUploadFileSucc();
  int QueryTaskInfo(UploadTaskInfoResult* list);
  bool IsValuePath(const std::string& path) const { return shareTarget == 0 || path.find(sharePathPrefix) != std::string::npos; }
  static bool JudgeNeglectFile(int callCount, bool singleFile) { return !(callCount == 1 && singleFile); }
  static bool IsNeedPushNewEventF(int callCount, int fileCount, int folderCount) {
    return callCount == 1 && !(fileCount == 1 && folderCount == 0);
  }
  std::string ParentPath(const std::string& catalogId) const;
  void CancelCurrent();
  void SendNewEvent(const std::vector<UploadResultItem>& eventList);
  void ShowUploadTaskDlg(int result, const std::vector<UploadResultItem>& results);

  ITransferHost* m_host;
  UploadTimings m_timings;
  ICloudSdk* m_sdk = nullptr;
  std::string m_account;
  std::string m_curPath;
  UploadFileResult m_answer;  // the last request's answer
  std::string m_contentId;
  std::string m_contentName;
  std::string m_cloudPath;
  int m_retries = 0;
  UploadDirNode m_root;
  UploadCallback m_callback;
  std::shared_ptr<CCTaskProgressDlg> m_dialog;
  std::string m_ownerAccount;
  vd::UniquePidl m_target;
  int m_emptyCount = 0;
  std::vector<std::string> m_emptyFiles;
  int m_sameNameCount = 0;
  std::vector<std::string> m_sameNameFolders;
  std::string m_targetPath;
  std::map<std::string, std::string> m_catalogPaths;
  void* m_parentWindow = nullptr;
  std::uint64_t m_startTick = 0;
  bool m_holdsSlot = false;
};

}  // namespace vdtransfer
