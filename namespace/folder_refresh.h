#pragma once
// A folder asks its caches to read it again from the cloud (after an item
// operation, or when its view refreshes). The caches answer at once and tell
// the views through their receivers when the listing arrives.
#include <string>

#include "pidl.h"

namespace vdcache {
class CVDCache;
class CVDShareFileCache;
}  // namespace vdcache

namespace vd {

struct FolderCaches {
    vdcache::CVDCache* catalogs = nullptr;
    vdcache::CVDShareFileCache* shares = nullptr;
    std::string account;
};

// `list`: a folder or an item of the cloud disk, relative to its root; an
// item's folder is refreshed. The catalog is listed with always-update set,
// so a change the update times do not show (a rename) reaches the store too.
void RefreshFolderListing(const FolderCaches& caches, PcPidl list, const VDPidlMgr& mgr);

}  // namespace vd
