#pragma once
// A selection of cloud items on its way out of a cloud folder: on the
// clipboard after Copy or Cut, or in a drag. It offers NSEDRAGDROP to our own
// drop handling and CF_HDROP to everyone else; the CF_HDROP answer is the
// drag-out placeholder folder, and asking for it starts the download that
// the copy hook later sends to wherever the placeholder was dropped.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "com_object.h"
#include "drop_folder.h"
#include "pidl.h"

namespace vdtransfer {

class CIVDDropSource final : public vd::com::ComObject<CIVDDropSource, IDropSource> {
 public:
  STDMETHODIMP QueryContinueDrag(BOOL escape, DWORD keys) noexcept override;
  STDMETHODIMP GiveFeedback(DWORD effect) noexcept override;

  // The button was released over a target; read once.
  bool TakeDropping() noexcept { return ::InterlockedExchange(&m_dropping, 0) != 0; }

 private:
  volatile LONG m_dropping = 0;
};

class CIVDEnumFmtEtc final : public vd::com::ComObject<CIVDEnumFmtEtc, IEnumFORMATETC> {
 public:
  STDMETHODIMP Next(ULONG count, FORMATETC* formats, ULONG* fetched) noexcept override;
  STDMETHODIMP Skip(ULONG count) noexcept override;
  STDMETHODIMP Reset() noexcept override;
  STDMETHODIMP Clone(IEnumFORMATETC** out) noexcept override;

 private:
  ULONG m_pos = 0;
};

class CIVDDataObject final : public vd::com::ComObject<CIVDDataObject, IDataObject> {
 public:
  enum Mode : int { kDrag = 0, kCopied = 1, kCut = 2 };

  // `items`: children of the folder.
  HRESULT _Init(IVDDropFolder* folder, UINT count, LPCITEMIDLIST* items) noexcept;
  void SetMode(int mode) noexcept { m_mode = mode; }
  // The drag this object is in; null once it is over.
  void SetDropSource(CIVDDropSource* source) noexcept { m_dropSource = vd::com::ComPtr<CIVDDropSource>(source); }

  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) noexcept override;
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) noexcept override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) noexcept override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) noexcept override;
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) noexcept override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) noexcept override;
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP DUnadvise(DWORD) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  // Starts the download of the items into the folder the copy hook will name.
  bool TraversalAndDownload(int mode);
  // The items' lists from the cloud disk's root.
  std::vector<vd::UniquePidl> FullLists() const;

  vd::com::ComPtr<IUnknown> m_folderRef;
  IVDDropFolder* m_folder = nullptr;
  std::vector<vd::UniquePidl> m_items;
  vd::com::ComPtr<CIVDDropSource> m_dropSource;
  int m_mode = kDrag;
  bool m_nseTaken = false;
  std::vector<std::u16string> m_placeholders;
  bool m_cutToDownload = false;
};

// The one selected file of the folder's view as a "Shell IDList Array".
class CNDDataObject final : public vd::com::ComObject<CNDDataObject, IDataObject> {
 public:
  HRESULT Init(IVDDropFolder* folder, HWND viewList) noexcept;

  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) noexcept override;
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) noexcept override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC*) noexcept override { return E_FAIL; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) noexcept override { return E_FAIL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) noexcept override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) noexcept override { return E_FAIL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP DUnadvise(DWORD) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  vd::com::ComPtr<IUnknown> m_folderRef;
  IVDDropFolder* m_folder = nullptr;
  HWND m_viewList = nullptr;
};

// The items of a list control row: its LVIF_PARAM is the item's list.
LPCITEMIDLIST ListItemPidl(HWND list, int index) noexcept;

}  // namespace vdtransfer
