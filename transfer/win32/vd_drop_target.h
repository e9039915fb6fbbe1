#pragma once
// The cloud folder as a drop target: local files (CF_HDROP) are uploaded,
// cloud items (NSEDRAGDROP) copied or moved on the service. It only picks
// the format, the effect and the catalog under the cursor; the folder's
// _DoDrop does the rest.
#include <windows.h>
#include <oleidl.h>

#include "com_object.h"
#include "drop_folder.h"
#include "pidl.h"

namespace vdtransfer {

class CIVDDropTarget final : public vd::com::ComObject<CIVDDropTarget, IDropTarget> {
 public:
  HRESULT _Init(IVDDropFolder* folder, LPCITEMIDLIST absoluteList) noexcept;

  STDMETHODIMP DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) noexcept override;
  STDMETHODIMP DragOver(DWORD keys, POINTL point, DWORD* effect) noexcept override;
  STDMETHODIMP DragLeave() noexcept override;
  STDMETHODIMP Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) noexcept override;

  int FormatIndex() const noexcept { return m_format; }

 private:
  DWORD _QueryDrop() const noexcept;
  // The list row under a screen point; -1 when none or no list of ours.
  int HitTest(POINTL point) noexcept;

  vd::com::ComPtr<IUnknown> m_folderRef;
  IVDDropFolder* m_folder = nullptr;
  vd::UniquePidl m_absolute;
  int m_format = kFormatNone;
};

}  // namespace vdtransfer
