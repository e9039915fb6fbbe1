#pragma once
// What the clipboard and drag-and-drop objects need of the cloud folder they
// belong to. The folder implements it; the objects keep the folder alive
// through its IUnknown while they hold it.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <atomic>

namespace vdtransfer {

class IVDDropFolder {
 public:
  virtual IUnknown* FolderUnknown() noexcept = 0;
  // The folder's list from the cloud disk's root; empty for the root.
  virtual LPCITEMIDLIST FolderPidl() const noexcept = 0;
  // The folder's list from the desktop, as the shell knows it.
  virtual LPCITEMIDLIST FolderAbsolutePidl() const noexcept = 0;
  // `target`: the folder or one of its catalogs, from the cloud disk's root.
  virtual HRESULT _DoDrop(IDataObject* data, DWORD mode, LPCITEMIDLIST target, int formatIndex) noexcept = 0;
  virtual void SetDroppedByDrag(bool on) noexcept = 0;
  // The list control of the folder's own view; null while the shell shows
  // the folder in a view of its own.
  virtual HWND ViewListWindow() noexcept = 0;
  // Messages are owned by this window.
  virtual HWND OwnerWindow() noexcept = 0;

 protected:
  ~IVDDropFolder() = default;
};

// Format indexes of a drop.
inline constexpr int kFormatNone = 0, kFormatHDrop = 1, kFormatNseDragDrop = 2;

// Process-wide: a drag is over one of our folders (a CF_HDROP request then
// comes from our own drop handling, never from Explorer), and the list item
// marked as the drop target (-1: none).
std::atomic<bool>& DragInProgress() noexcept;
std::atomic<int>& DropMarkedIndex() noexcept;

// The registered NSEDRAGDROP and "Shell IDList Array" formats.
CLIPFORMAT NseDragDropFormat() noexcept;
CLIPFORMAT ShellIdListFormat() noexcept;

// An HGLOBAL medium holding `bytes`: S_OK, E_OUTOFMEMORY, or E_UNEXPECTED
// when the block cannot be locked.
HRESULT MediumFromBytes(const void* bytes, SIZE_T size, UINT flags, STGMEDIUM* medium) noexcept;

}  // namespace vdtransfer
