#include "folder_refresh.h"

#include "pidl_enum.h"
#include "platform/text.h"
#include "share_file_cache.h"
#include "trace.h"
#include "vd_cache.h"

namespace vd {

void RefreshFolderListing(const FolderCaches& caches, PcPidl list, const VDPidlMgr& mgr) {
    VD_TRACE("CIVDShellFolder::GetDisk");
    if (list == nullptr || VDPidlMgr::GetByteSize(list) == 0) {
        return;
    }
    UniquePidl folder = mgr.Own(VDPidlMgr::GetItemType(VDPidlMgr::GetLastItem(list)) == kKindContent
                                    ? mgr.CopyAllButLast(list)
                                    : mgr.Copy(list));
    if (!folder) {
        return;
    }
    const std::string id = platform::WideToAnsi(VDPidlMgr::GetIdString(folder.get()));
    if (Util::IsCurRevShareDir(folder.get())) {
        if (caches.shares != nullptr) {
            ShareListRequest request;
            request.account = caches.account;
            ShareListResult result;
            caches.shares->GetDisk(caches.shares->ShareRootKey(), request, &result, false);
        }
        return;
    }
    bool inShare = false;
    for (PcPidl item = folder.get(); VDPidlMgr::GetByteSize(item) > 0; item = VDPidlMgr::GetNextItem(item)) {
        inShare |= VDPidlMgr::GetItemType(item) == kKindNode && VDPidlMgr::GetNodeIndex(item) == kNodeReceivedShares;
    }
    ListRequest request;
    request.account = caches.account;
    request.catalogID = id.empty() ? platform::WideToAnsi(kRootCatalogId) : id;
    request.startNumber = request.endNumber = "-1";
    ListResult result;
    if (inShare) {
        if (caches.shares != nullptr) {
            request.path = CIVDPidlEnumEx::GetAllPaths(id);
            caches.shares->GetSubCatalogList(request, &result, false);
        }
    } else if (caches.catalogs != nullptr) {
        caches.catalogs->GetDisk(request, &result, false, true);
    }
}

}  // namespace vd
