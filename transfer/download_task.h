#pragma once
// Copies cloud items (contents and whole catalogs) into a local folder on a
// worker thread of its own: a collect phase that makes the local folders and
// lists the files, then the transfers with resume and retry, then the
// finishing step that gives each complete file its name and reports what
// failed. A file is written hidden under "<name>.tmp" and renamed into place
// only when complete, so no partial file ever carries its final name.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "task_progress_dlg.h"
#include "transfer_host.h"

namespace vdtransfer {

// One file to fetch.
struct DownloadItem {
  std::string display;       // shown while it transfers
  std::string downloadPath;  // finalPath + ".tmp", or finalPath when opening a file
  std::string finalPath;
  std::string contentId;
  std::string size;          // bytes, decimal
  std::string fullId;
  std::uint32_t attributes = 0;  // 0: the mode's default
};

struct DownloadResult {
  DownloadItem item;
  std::string name;
  int resultCode = 0;  // 0; kDownloadGaveUp; kDownloadCancelled
};

inline constexpr int kDownloadGaveUp = 1;
inline constexpr int kDownloadCancelled = 2;
inline constexpr int kMaxDownloadRetries = 15;
// Attributes of a partial file (hidden), and of a file being opened.
inline constexpr std::uint32_t kPartialAttributes = 2;
// Room a file's local name keeps for " (99)" and ".tmp".
inline constexpr std::size_t kDownloadNameRoom = 9;
// How long a drag out waits for the copy hook to say where it was dropped.
inline constexpr std::uint32_t kDragOutWaitMs = 2000;
// Attempts after the first to send back an opened file the user changed.
inline constexpr int kSendBackRetries = 10;

// The first free local name: the path itself, else " (1)", " (2)", ...
// before the extension (at the end when there is none).
std::string SwitchToNoSameName(const std::string& path);

// Local files being downloaded now, process-wide.
class CVDDownloadChecker {
 public:
  static CVDDownloadChecker& GetInstance();
  // Claims the records' paths; one another task holds is dropped from the list.
  void AssertDownloadfiles(std::vector<DownloadItem>& records);
  void RomeveDownloadfiles(const std::vector<DownloadItem>& records);
  bool Holds(const std::string& path) const;

 private:
  mutable std::mutex m_lock;
  std::set<std::string> m_paths;
};

// Called on the worker when a run ends, with what happened to every file,
// after the task has let go of its slot and files (not after a sign-out).
using DownloadDone = std::function<void(const std::vector<DownloadResult>& results)>;

class CVDDownloadFileTask {
 public:
  enum Mode : int { kPlain = 0, kOpen = 3 };

  CVDDownloadFileTask();
  ~CVDDownloadFileTask();
  CVDDownloadFileTask(const CVDDownloadFileTask&) = delete;
  CVDDownloadFileTask& operator=(const CVDDownloadFileTask&) = delete;

  // 0 when the worker runs (it owns the task now); -1 after a sign-out or
  // when no thread could be made (the task has deleted itself).
  // `targetDir` is an ANSI folder path ending with a separator.
  int StartDownloadServer(std::vector<CloudEntry> items, void* ownerWindow, int mode, bool cutToDownload,
                          const std::string& targetDir, const std::string& nameOverride, DownloadDone done = {});

 private:
  int Run();
  bool Collect();
  bool CollectEntry(const CloudEntry& entry, const std::string& folder, const std::string& nameOverride);
  int DownloadFileTask();
  TransferObject* StartTransfer(const DownloadItem& record, std::uint64_t rangeStart);
  int DoResumeDownload(const DownloadItem& record);
  void ShowDownloadFailDlg();
  void SendNewEvent();
  // Mode 3: opens the file, waits for the user, and sends it back when it changed.
  void UploadChangeFile();
  // Frees what the task holds and deletes it; then, for a run that got to
  // its report, tells the caller.
  void EndRun(bool report = false);

  ITransferHost* m_host;
  std::vector<CloudEntry> m_items;
  void* m_owner = nullptr;
  int m_mode = kPlain;
  bool m_cutToDownload = false;
  std::string m_targetDir;
  std::string m_nameOverride;
  std::vector<DownloadItem> m_records;
  std::vector<DownloadResult> m_results;
  std::vector<std::string> m_refused;  // cloud names no local name could be made of
  std::shared_ptr<CCTaskProgressDlg> m_dialog;
  int m_netFailures = 0;
  int m_folderCount = 0;
  std::uint64_t m_collectedBytes = 0;  // collect thread only, until it is joined
  bool m_collectFailed = false;
  bool m_holdsSlot = false;
  bool m_openRegistered = false;
  std::atomic<bool> m_collectDone{false};
  DownloadDone m_done;
  std::string m_account;
};

}  // namespace vdtransfer
