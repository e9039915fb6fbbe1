#include "vd_data_object.h"

#include <commctrl.h>

#include <cstring>

#include "cloud_copy_move.h"
#include "com_boundary.h"
#include "download_task.h"
#include "drag_out.h"
#include "drop_blocks.h"
#include "message_box.h"
#include "platform/text.h"
#include "trace.h"

namespace vdtransfer {

using vd::com::ComBoundary;

std::atomic<bool>& DragInProgress() noexcept {
  static std::atomic<bool> flag{false};
  return flag;
}

std::atomic<int>& DropMarkedIndex() noexcept {
  static std::atomic<int> index{-1};
  return index;
}

CLIPFORMAT NseDragDropFormat() noexcept {
  static const CLIPFORMAT format = static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(L"NSEDRAGDROP"));
  return format;
}

CLIPFORMAT ShellIdListFormat() noexcept {
  static const CLIPFORMAT format = static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(L"Shell IDList Array"));
  return format;
}

HRESULT MediumFromBytes(const void* bytes, SIZE_T size, UINT flags, STGMEDIUM* medium) noexcept {
  HGLOBAL block = ::GlobalAlloc(flags, size);
  if (!block) return E_OUTOFMEMORY;
  void* data = ::GlobalLock(block);
  if (!data) {
    ::GlobalFree(block);
    return E_UNEXPECTED;
  }
  std::memcpy(data, bytes, size);
  ::GlobalUnlock(block);
  medium->tymed = TYMED_HGLOBAL;
  medium->hGlobal = block;
  medium->pUnkForRelease = nullptr;
  return S_OK;
}

LPCITEMIDLIST ListItemPidl(HWND list, int index) noexcept {
  if (!list || index < 0) return nullptr;
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  if (!::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  return reinterpret_cast<LPCITEMIDLIST>(item.lParam);
}

// ---------------------------------------------------------------- drop source

STDMETHODIMP CIVDDropSource::QueryContinueDrag(BOOL escape, DWORD keys) noexcept {
  if (escape) return DRAGDROP_S_CANCEL;
  if (keys & MK_LBUTTON) return S_OK;
  ::InterlockedExchange(&m_dropping, 1);
  return DRAGDROP_S_DROP;
}

STDMETHODIMP CIVDDropSource::GiveFeedback(DWORD) noexcept { return DRAGDROP_S_USEDEFAULTCURSORS; }

// ---------------------------------------------------------------- format enumerator

STDMETHODIMP CIVDEnumFmtEtc::Next(ULONG, FORMATETC* formats, ULONG* fetched) noexcept {
  if (fetched) *fetched = 0;
  if (!formats) return E_POINTER;
  // One format a call, whatever was asked for.
  ++m_pos;
  if (m_pos > 2) return S_FALSE;
  *formats = {m_pos == 1 ? NseDragDropFormat() : static_cast<CLIPFORMAT>(CF_HDROP), nullptr, DVASPECT_CONTENT, -1,
              TYMED_HGLOBAL};
  if (fetched) *fetched = 1;
  return S_OK;
}

STDMETHODIMP CIVDEnumFmtEtc::Skip(ULONG count) noexcept {
  m_pos += count;
  return S_OK;
}

STDMETHODIMP CIVDEnumFmtEtc::Reset() noexcept {
  m_pos = 0;
  return S_OK;
}

STDMETHODIMP CIVDEnumFmtEtc::Clone(IEnumFORMATETC** out) noexcept {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

// ---------------------------------------------------------------- data object

HRESULT CIVDDataObject::_Init(IVDDropFolder* folder, UINT count, LPCITEMIDLIST* items) noexcept {
  return ComBoundary("CIVDDataObject::_Init", [&]() -> HRESULT {
    if (!folder) {
      vd::ui::ShowText(nullptr, u"CDataObject()::_Init() pFolder==NULL", u"NSF", MB_OK);
      return E_FAIL;
    }
    m_folder = folder;
    m_folderRef = vd::com::ComPtr<IUnknown>(folder->FolderUnknown());
    vd::VDPidlMgr mgr;
    for (UINT i = 0; i < count; ++i) {
      vd::UniquePidl copy = mgr.Own(mgr.Copy(reinterpret_cast<vd::PcPidl>(items[i])));
      if (!copy) return E_OUTOFMEMORY;
      m_items.push_back(std::move(copy));
    }
    return S_OK;
  });
}

std::vector<vd::UniquePidl> CIVDDataObject::FullLists() const {
  vd::VDPidlMgr mgr;
  std::vector<vd::UniquePidl> lists;
  const auto folder = reinterpret_cast<vd::PcPidl>(m_folder->FolderPidl());
  for (const vd::UniquePidl& item : m_items) {
    lists.push_back(mgr.Own(folder ? mgr.Concatenate(folder, item.get()) : mgr.Copy(item.get())));
    if (!lists.back()) throw std::bad_alloc();
  }
  return lists;
}

bool CIVDDataObject::TraversalAndDownload(int mode) {
  const std::string parentId = FolderCatalogId(reinterpret_cast<vd::PcPidl>(m_folder->FolderPidl()));
  std::vector<CloudEntry> entries;
  for (const vd::UniquePidl& item : m_items) {
    const vd::PcPidl last = vd::VDPidlMgr::GetLastItem(item.get());
    const int kind = vd::VDPidlMgr::GetItemType(last);
    if (kind != vd::kKindCatalog && kind != vd::kKindContent) continue;  // fixed nodes stay home
    CloudEntry entry;
    entry.isCatalog = kind == vd::kKindCatalog;
    entry.id = platform::WideToAnsi(vd::VDPidlMgr::GetIdString(last));
    entry.name = platform::WideToAnsi(vd::VDPidlMgr::GetName(last));
    entry.size = entry.isCatalog ? 0 : vd::VDPidlMgr::GetSize(last);
    entry.fullId = entry.id;
    entry.parentId = parentId;
    entries.push_back(std::move(entry));
  }
  if (entries.empty()) return false;
  auto* task = new CVDDownloadFileTask();
  // The empty target folder makes the task wait for the copy hook.
  return task->StartDownloadServer(std::move(entries), m_folder->OwnerWindow(), mode, m_cutToDownload, "", "") == 0;
}

STDMETHODIMP CIVDDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) noexcept {
  return ComBoundary("CIVDDataObject::GetData", [&]() -> HRESULT {
    if (!m_folder) {
      vd::ui::ShowText(nullptr, u"CDataObject()::GetData() m_pFolder==NULL", u"NSF", MB_OK);
      return E_FAIL;
    }
    if (!format || !medium) return E_POINTER;
    *medium = {};
    if (m_items.empty()) return E_UNEXPECTED;
    if (format->cfFormat == NseDragDropFormat()) {
      m_nseTaken = true;
      const std::vector<vd::UniquePidl> lists = FullLists();
      std::vector<vd::PcPidl> views;
      for (const auto& list : lists) views.push_back(list.get());
      const std::vector<std::uint8_t> block = BuildNseDragDrop(views);
      return MediumFromBytes(block.data(), block.size(),
                             GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DISCARDABLE | GMEM_DDESHARE, medium);
    }
    if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    VD_LOG_INFO("CNSFDataObject::GetData  CF_HDROP\n");
    // The placeholder and the hand-over's event exist before any download
    // starts to wait on them.
    if (m_placeholders.empty()) {
      const std::u16string placeholder = InitCopyGlobal();
      if (placeholder.empty()) return E_FAIL;
      m_placeholders.push_back(placeholder);
    }
    if (!m_dropSource && (m_mode == kCopied || m_mode == kCut)) {
      m_cutToDownload = m_mode == kCut;
      TraversalAndDownload(m_mode);
    } else if (!m_dropSource) {
      // A drag the shell's own view runs with a drop source of its own: the
      // download starts when a target asks and waits for the copy hook.
      if (DragInProgress().load() || m_nseTaken) {
        m_nseTaken = false;
        return E_UNEXPECTED;
      }
      if (!TraversalAndDownload(kDrag)) return E_FAIL;
    } else {
      // A target asks while the mouse is still down only to see what is
      // offered: the download starts with the drop itself.
      const bool dropping = m_dropSource->TakeDropping();
      if (DragInProgress().load()) {
        VD_LOG_INFO("VD内部的拖放， 则不下载");
        return E_UNEXPECTED;
      }
      if (m_nseTaken) {
        m_nseTaken = false;
        return E_UNEXPECTED;
      }
      if (dropping && !TraversalAndDownload(kDrag)) return E_FAIL;
    }
    const std::vector<std::uint8_t> block = BuildDropFiles(m_placeholders);
    return MediumFromBytes(block.data(), block.size(), GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, medium);
  });
}

STDMETHODIMP CIVDDataObject::QueryGetData(FORMATETC* format) noexcept {
  return ComBoundary("CIVDDataObject::QueryGetData", [&]() -> HRESULT {
    if (!format) {
      vd::ui::ShowText(nullptr, u"CDataObject::QueryGetData() pFormatetc == NULL", u"NSF", MB_OK);
      return E_INVALIDARG;
    }
    if (format->cfFormat != NseDragDropFormat() && format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    if (format->ptd) return E_INVALIDARG;
    if (!(format->dwAspect & DVASPECT_CONTENT)) return DV_E_DVASPECT;
    if (format->lindex != -1) return DV_E_LINDEX;
    if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    return S_OK;
  });
}

STDMETHODIMP CIVDDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) noexcept {
  if (!out) return E_POINTER;
  out->ptd = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CIVDDataObject::EnumFormatEtc(DWORD, IEnumFORMATETC** out) noexcept {
  if (!out) return E_POINTER;
  return vd::com::CreateInstance<CIVDEnumFmtEtc>(IID_IEnumFORMATETC, reinterpret_cast<void**>(out));
}

// ---------------------------------------------------------------- one file for the shell

HRESULT CNDDataObject::Init(IVDDropFolder* folder, HWND viewList) noexcept {
  if (!folder) return E_FAIL;
  m_folder = folder;
  m_folderRef = vd::com::ComPtr<IUnknown>(folder->FolderUnknown());
  m_viewList = viewList;
  return S_OK;
}

STDMETHODIMP CNDDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) noexcept {
  return ComBoundary("CNDDataObject::GetData", [&]() -> HRESULT {
    if (!format || !medium || !m_folder) return E_FAIL;
    if (format->cfFormat != ShellIdListFormat()) return E_FAIL;
    if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    const int mark = static_cast<int>(::SendMessageW(m_viewList, LVM_GETSELECTIONMARK, 0, 0));
    const auto item = reinterpret_cast<vd::PcPidl>(ListItemPidl(m_viewList, mark));
    if (!item || vd::VDPidlMgr::GetItemType(vd::VDPidlMgr::GetLastItem(item)) != vd::kKindContent) return E_FAIL;
    const std::vector<std::uint8_t> cida =
        BuildIdListArray(reinterpret_cast<vd::PcPidl>(m_folder->FolderAbsolutePidl()), item);
    *medium = {};
    const HRESULT hr = MediumFromBytes(cida.data(), cida.size(), GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, medium);
    return hr == E_OUTOFMEMORY ? STG_E_MEDIUMFULL : hr;
  });
}

}  // namespace vdtransfer
