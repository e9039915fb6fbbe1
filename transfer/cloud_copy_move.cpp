#include "cloud_copy_move.h"

#include <vector>

#include "drop_blocks.h"
#include "pidl_enum.h"
#include "platform/text.h"
#include "string_table.h"
#include "trace.h"

namespace vdtransfer {
namespace {

using vd::PcPidl;
using vd::VDPidlMgr;

std::u16string Text(int id) { return platform::Utf8ToUtf16(vd::resources::LoadText(id)); }

bool IsEmptyList(PcPidl list) { return list == nullptr || (list[0] == 0 && list[1] == 0); }

bool UnderReceivedShares(PcPidl list) {
  for (PcPidl e = list; !IsEmptyList(e); e = VDPidlMgr::GetNextItem(e)) {
    if (VDPidlMgr::GetItemType(e) == vd::kKindNode && VDPidlMgr::GetNodeIndex(e) == vd::kNodeReceivedShares) return true;
  }
  return false;
}

// An item inside a received share is named to the service by its path.
std::string RequestName(PcPidl item, bool inShare) {
  const std::string id = platform::WideToAnsi(VDPidlMgr::GetIdString(item));
  if (!inShare) return id;
  const std::string path = vd::CIVDPidlEnumEx::GetAllPaths(id);
  return path.empty() ? id : path;
}

bool Matches(int code, int value, int modulus) { return code == value || code % modulus == value; }

}  // namespace

std::string FolderCatalogId(PcPidl folder) {
  if (IsEmptyList(folder)) return platform::WideToAnsi(vd::kRootCatalogId);
  const PcPidl last = VDPidlMgr::GetLastItem(folder);
  switch (VDPidlMgr::GetItemType(last)) {
    case vd::kKindCatalog:
      return platform::WideToAnsi(VDPidlMgr::GetIdString(last));
    case vd::kKindNode:
      return platform::WideToAnsi(vd::FixedNodeCatalogId(VDPidlMgr::GetNodeIndex(last)));
    default:
      return std::string();
  }
}

std::u16string CopyMoveFailureText(int code, const std::u16string& prefix, std::size_t catalogCount,
                                   std::size_t contentCount, const std::string& codeMessage) {
  using namespace vd::resources;
  std::u16string text = prefix;
  if (Matches(code, 9501, 10000) || Matches(code, 9405, 10000)) return text + Text(IDS_SAME_NAME_FOLDER_EXISTS);
  if (Matches(code, 9465, 100000)) return text + Text(IDS_TOO_DEEP);
  if (code == 200000401) return text + Text(IDS_SYNC_FOLDER_MOVE);
  if (code == kSdkNetworkUnavailable) return text + Text(IDS_NETWORK_UNAVAILABLE);
  if (code == 200000504 || code == 200000411) return text + u"超过系统限制，请减一点再试试";
  if (code == 200000650) return text + u"目录层级超过系统限制";
  if (code == 200000400) {
    if (catalogCount <= kMaxCopyMoveItems && contentCount <= kMaxCopyMoveItems) {
      return u"文件复制/移动失败!\n" + text + u"系统异常,请稍后重试";
    }
    return text + u"选取文件超过200个最大限制，请重新再试";
  }
  if (text.empty()) return Text(IDS_COPY_MOVE_FAILED) + u"\n" + platform::Utf8ToUtf16(codeMessage);
  return text;
}

vd::HResult DoDropNseDragDrop(ICopyMoveHost& host, const NseDrop& drop) {
  using namespace vd::resources;
  const bool move = drop.cutPending || drop.droppedByDrag;
  const std::optional<std::vector<std::size_t>> offsets = ReadNseDragDrop(drop.block, drop.size);
  if (!offsets || offsets->empty()) return vd::kEFail;
  VDPidlMgr mgr;
  // Every list from the cloud root on, whichever form it came in.
  static constexpr std::uint8_t kEmpty[3] = {};
  const vd::UniquePidl target = mgr.Own(vd::Util::AddMyFilePidl(mgr, drop.target ? drop.target : kEmpty));
  if (!target) return vd::kEFail;
  const std::string targetId = FolderCatalogId(target.get());
  const std::u16string targetPath = VDPidlMgr::GetPathForLog(target.get());
  VD_LOG_INFO("%s  uTotalSize = %d", platform::WideToAnsi(targetPath).c_str(), static_cast<int>(drop.size));

  std::vector<vd::UniquePidl> items;
  for (std::size_t at : *offsets) {
    items.push_back(mgr.Own(vd::Util::AddMyFilePidl(mgr, drop.block + at)));
    if (!items.back()) return vd::kEFail;
  }
  const PcPidl first = items.front().get();
  const vd::UniquePidl firstParent = mgr.Own(mgr.CopyAllButLast(first));
  if (!firstParent) return vd::kEFail;
  if ((!targetId.empty() && FolderCatalogId(firstParent.get()) == targetId) ||
      VDPidlMgr::GetPathForLog(firstParent.get()) == targetPath) {
    VD_LOG_INFO("_DragDropInSamePath %s", platform::WideToAnsi(targetPath).c_str());
    if (!drop.droppedByDrag) host.ShowMessage(Text(IDS_SAME_FOLDER), true);
    return vd::kEFail;
  }
  // A catalog dropped on itself or below itself would make a loop.
  const std::u16string firstPath = VDPidlMgr::GetPathForLog(first);
  if (targetPath == firstPath || targetPath.starts_with(firstPath + u"/")) {
    if (!drop.droppedByDrag) host.ShowMessage(Text(IDS_SAME_FOLDER), true);
    return vd::kEFail;
  }

  const bool targetInShare = UnderReceivedShares(target.get());
  bool sourceInShare = false;
  std::vector<std::string> catalogs, contents;
  int syncFolders = 0;
  for (const vd::UniquePidl& owned : items) {
    const PcPidl item = owned.get();
    const PcPidl last = VDPidlMgr::GetLastItem(item);
    const std::u16string name = VDPidlMgr::GetName(last);
    VD_LOG_INFO("%s", platform::WideToAnsi(name).c_str());
    vd::UniquePidl parent = mgr.Own(mgr.CopyAllButLast(item));
    const bool inShare = UnderReceivedShares(item);
    sourceInShare = sourceInShare || inShare;
    if (vd::Util::ParIsRevShareDir(item)) {
      host.ShowMessage(u"不能移动收到的分享根目录下的文件", false);
      return vd::kEFail;
    }
    if (inShare && drop.droppedByDrag) {
      host.ShowMessage(u"该目录下不支持移动", false);
      return vd::kEFail;
    }
    switch (VDPidlMgr::GetItemType(last)) {
      case vd::kKindCatalog: {
        const std::string id = platform::WideToAnsi(VDPidlMgr::GetIdString(last));
        if (move && host.IsSyncFolder(parent ? parent.get() : nullptr, id)) {
          ++syncFolders;
          continue;
        }
        if (host.HasSameDir(target.get(), name)) {
          host.ShowMessage(Text(IDS_SAME_NAME_FOLDER_EXISTS), false);
          return vd::kEFail;
        }
        catalogs.push_back(RequestName(last, inShare));
        break;
      }
      case vd::kKindContent:
        contents.push_back(RequestName(last, inShare));
        break;
      default:
        if (!drop.droppedByDrag) host.ShowMessage(Text(IDS_SYSTEM_FOLDER), false);
        return vd::kEFail;
    }
  }
  if (targetId.empty() && !targetInShare) {
    host.ShowMessage(Text(IDS_NOT_ALLOWED_HERE), true);
    return vd::kEFail;
  }
  if (syncFolders > 0) host.ShowMessage(Text(IDS_SYNC_FOLDERS_LEFT), true);
  if (catalogs.empty() && contents.empty()) return vd::kEFail;
  if (vd::Util::IsCurRevShareDir(target.get())) {
    host.ShowMessage(drop.mode == 10 ? u"不能往收到的分享根目录粘贴文件，可尝试粘贴到其他目录"
                                     : u"不能往收到的分享根目录拖曳移动文件(夹)，可尝试拖曳到其他目录",
                     false);
    return vd::kSOk;
  }
  if (targetInShare && drop.cutPending) {
    host.ShowMessage(u"不允许剪切文件到收到的分享及其子目录下，请使用复制", false);
    return vd::kSOk;
  }

  ICloudSdk* sdk = host.Sdk();
  if (sdk == nullptr) {
    host.ShowMessage(Text(IDS_NETWORK_UNAVAILABLE), false);
    return vd::kEFail;
  }
  CopyMoveRequest request;
  request.account = host.Account();
  request.targetCatalogID = targetInShare ? RequestName(VDPidlMgr::GetLastItem(target.get()), true) : targetId;
  // Between a received share and the user's own space only copies exist.
  const bool reallyMove = move && !(targetInShare || sourceInShare);
  bool anyOk = false;
  int failed = kSdkOk;
  std::u16string prefix;
  OprResult answer;
  if (reallyMove) {
    request.catalogIDs = catalogs;
    request.contentIDs = contents;
    failed = sdk->SyncMove(request, &answer);
    anyOk = failed == kSdkOk;
    if (!drop.droppedByDrag) host.EmptyClipboard();
  } else {
    int catalogCode = kSdkOk;
    if (!catalogs.empty()) {
      request.catalogIDs = catalogs;
      catalogCode = sdk->SyncCopy(request, &answer);
      VD_LOG_INFO("SyncCopy  Catalog = %d", catalogCode);
      anyOk = catalogCode == kSdkOk;
      failed = catalogCode;
    }
    if (catalogCode == kSdkOk && !contents.empty()) {
      request.catalogIDs.clear();
      request.contentIDs = contents;
      const int contentCode = sdk->SyncCopy(request, &answer);
      VD_LOG_INFO("SyncCopy  ContentInf = %d", contentCode);
      anyOk = anyOk || contentCode == kSdkOk;
      if (contentCode != kSdkOk) {
        if (!catalogs.empty()) prefix = Text(IDS_FOLDERS_COPIED_FILES_FAILED);
        failed = contentCode;
      }
    }
  }
  if (anyOk) {
    VD_LOG_INFO("From %s... To %s", FolderCatalogId(firstParent.get()).c_str(), targetId.c_str());
    host.Refresh(firstParent.get());
    host.Refresh(target.get());
  }
  if (failed != kSdkOk) {
    host.ShowMessage(
        CopyMoveFailureText(failed, prefix, catalogs.size(), contents.size(), host.ResultMessage(failed)), false);
  }
  return vd::kSOk;
}

}  // namespace vdtransfer
