#pragma once
// Cloud items dropped or pasted on a cloud folder: copied or moved on the
// service, never through the local disk. The items arrive as an NSEDRAGDROP
// block of lists relative to the cloud disk's root; everything the process
// supplies (the service, messages, the caches, the clipboard) goes through
// ICopyMoveHost.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cloud_sdk.h"
#include "pidl.h"

namespace vdtransfer {

// Items a single copy or move request may carry of each kind.
inline constexpr std::size_t kMaxCopyMoveItems = 200;

class ICopyMoveHost {
 public:
  virtual ICloudSdk* Sdk() = 0;
  virtual std::string Account() = 0;
  virtual std::string ResultMessage(int code) = 0;  // UTF-8
  // A modal message with caption 124.
  virtual void ShowMessage(const std::u16string& text, bool handIcon) = 0;
  // `catalogId`, a child of `parent`, is a folder the desktop client syncs.
  virtual bool IsSyncFolder(vd::PcPidl parent, const std::string& catalogId) = 0;
  // The target folder holds a catalog of that name (as the cache knows it).
  virtual bool HasSameDir(vd::PcPidl target, const std::u16string& name) = 0;
  virtual void EmptyClipboard() = 0;
  // Has the caches read the folder again.
  virtual void Refresh(vd::PcPidl folder) = 0;

 protected:
  ~ICopyMoveHost() = default;
};

struct NseDrop {
  const std::uint8_t* block = nullptr;
  std::size_t size = 0;      // bytes held; the block's own total must fit in it
  vd::PcPidl target = nullptr;  // the folder dropped on, relative to the root; empty for the root
  int mode = 0;
  bool cutPending = false;
  bool droppedByDrag = false;
};

// The catalog ID a folder list stands for: its last catalog, a fixed
// node's catalog, the root's for the empty list; empty when none.
std::string FolderCatalogId(vd::PcPidl folder);

// Copies or moves the block's items into the target. S_OK (0) when a
// request went out (its failure is reported to the user), E_FAIL when the
// drop was refused or the block is unreadable.
vd::HResult DoDropNseDragDrop(ICopyMoveHost& host, const NseDrop& drop);

// The message for a failed copy or move: `code` is the first failing
// result; `prefix` what was said before (the folders-copied line).
std::u16string CopyMoveFailureText(int code, const std::u16string& prefix, std::size_t catalogCount,
                                   std::size_t contentCount, const std::string& codeMessage);

}  // namespace vdtransfer
