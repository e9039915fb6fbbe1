#include "vd_drop_target.h"

#include <commctrl.h>

#include "com_boundary.h"
#include "message_box.h"
#include "vd_data_object.h"

namespace vdtransfer {

using vd::com::ComBoundary;

namespace {

bool Offers(IDataObject* data, CLIPFORMAT format) {
  FORMATETC query = {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  return data->QueryGetData(&query) == S_OK;
}

// Marks or unmarks a row as the drop target.
void MarkRow(HWND list, int index, bool on) {
  if (!list || index < 0) return;
  LVITEMW item = {};
  item.stateMask = LVIS_DROPHILITED;
  item.state = on ? LVIS_DROPHILITED : 0;
  ::SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

HRESULT CIVDDropTarget::_Init(IVDDropFolder* folder, LPCITEMIDLIST absoluteList) noexcept {
  return ComBoundary("CIVDDropTarget::_Init", [&]() -> HRESULT {
    if (!folder) {
      vd::ui::ShowText(nullptr, u"CDropTarget::_Init() pFolder==NULL", u"NSF", MB_OK);
      return E_FAIL;
    }
    m_folder = folder;
    m_folderRef = vd::com::ComPtr<IUnknown>(folder->FolderUnknown());
    if (absoluteList) {
      vd::VDPidlMgr mgr;
      m_absolute = mgr.Own(mgr.Copy(reinterpret_cast<vd::PcPidl>(absoluteList)));
      if (!m_absolute) return E_OUTOFMEMORY;
    }
    return S_OK;
  });
}

DWORD CIVDDropTarget::_QueryDrop() const noexcept {
  switch (m_format) {
    case kFormatHDrop:
      return DROPEFFECT_COPY;
    case kFormatNseDragDrop:
      return DROPEFFECT_MOVE;
    default:
      return DROPEFFECT_NONE;
  }
}

int CIVDDropTarget::HitTest(POINTL point) noexcept {
  HWND list = m_folder ? m_folder->ViewListWindow() : nullptr;
  if (!list) return -1;
  LVHITTESTINFO hit = {};
  hit.pt = {point.x, point.y};
  ::ScreenToClient(list, &hit.pt);
  return static_cast<int>(::SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
}

STDMETHODIMP CIVDDropTarget::DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) noexcept {
  return ComBoundary("CIVDDropTarget::DragEnter", [&]() -> HRESULT {
    DragInProgress() = true;
    m_format = kFormatNone;
    if (data && Offers(data, NseDragDropFormat())) {
      m_format = kFormatNseDragDrop;
    } else if (data && Offers(data, CF_HDROP)) {
      m_format = kFormatHDrop;
    }
    if (effect) *effect = _QueryDrop();
    return S_OK;
  });
}

STDMETHODIMP CIVDDropTarget::DragOver(DWORD, POINTL point, DWORD* effect) noexcept {
  return ComBoundary("CIVDDropTarget::DragOver", [&]() -> HRESULT {
    HWND list = m_folder ? m_folder->ViewListWindow() : nullptr;
    const int index = HitTest(point);
    const int marked = DropMarkedIndex().load();
    if (index != marked) {
      MarkRow(list, marked, false);
      MarkRow(list, index, true);
      DropMarkedIndex() = index;
    }
    if (effect) *effect = _QueryDrop();
    return S_OK;
  });
}

STDMETHODIMP CIVDDropTarget::DragLeave() noexcept {
  m_format = kFormatNone;
  DragInProgress() = false;
  if (m_folder) MarkRow(m_folder->ViewListWindow(), DropMarkedIndex().exchange(-1), false);
  return S_OK;
}

STDMETHODIMP CIVDDropTarget::Drop(IDataObject* data, DWORD, POINTL point, DWORD* effect) noexcept {
  return ComBoundary("CIVDDropTarget::Drop", [&]() -> HRESULT {
    DWORD done = DROPEFFECT_NONE;
    const DWORD wanted = _QueryDrop();
    if (wanted != DROPEFFECT_NONE && m_folder) {
      vd::VDPidlMgr mgr;
      const auto folder = reinterpret_cast<vd::PcPidl>(m_folder->FolderPidl());
      vd::UniquePidl target;
      const auto row = reinterpret_cast<vd::PcPidl>(ListItemPidl(m_folder->ViewListWindow(), HitTest(point)));
      // A catalog under the cursor takes the drop; a file does not.
      if (row && vd::VDPidlMgr::GetItemType(vd::VDPidlMgr::GetLastItem(row)) == vd::kKindCatalog) {
        target = mgr.Own(folder ? mgr.Concatenate(folder, row) : mgr.Copy(row));
      } else {
        static constexpr std::uint8_t kEmpty[3] = {};
        target = mgr.Own(mgr.Copy(folder ? folder : kEmpty));
      }
      if (!target) return E_OUTOFMEMORY;
      m_folder->SetDroppedByDrag(true);
      const HRESULT hr = m_folder->_DoDrop(data, wanted, reinterpret_cast<LPCITEMIDLIST>(target.get()), m_format);
      m_folder->SetDroppedByDrag(false);
      if (SUCCEEDED(hr)) done = wanted;
    }
    if (effect) *effect = done;
    // OLE never calls DragLeave after a drop; the drag is over here too.
    DragLeave();
    return S_OK;
  });
}

}  // namespace vdtransfer
