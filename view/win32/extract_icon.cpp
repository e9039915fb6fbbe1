#include "extract_icon.h"

#include <commctrl.h>

#include "com_boundary.h"
#include "shell_image_lists.h"

namespace vdview {

HRESULT CIVDExtractIcon::Init(LPCITEMIDLIST item) noexcept {
    if (item == nullptr) return S_OK;  // an empty item answers E_FAIL when asked
    m_item = ::ILClone(item);
    return m_item ? S_OK : E_OUTOFMEMORY;
}

void CIVDExtractIcon::FinalRelease() noexcept {
    ::ILFree(m_item);
    m_item = nullptr;
}

HRESULT CIVDExtractIcon::InternalGetIconLocation(ShellImageLists& lists, int* index, UINT* outFlags) noexcept {
    if (index == nullptr || outFlags == nullptr) return E_POINTER;
    if (m_item == nullptr || m_item->mkid.cb == 0) {
        *outFlags = GIL_DONTCACHE;
        return E_FAIL;
    }
    return vd::com::ComBoundary("CIVDExtractIcon::GetIconLocation", [&]() -> HRESULT {
        const int at = lists.IndexOf(reinterpret_cast<vd::PcPidl>(m_item));
        if (at < 0) return E_FAIL;
        *index = at;
        *outFlags = GIL_NOTFILENAME | GIL_DONTCACHE;
        return S_OK;
    });
}

STDMETHODIMP CIVDExtractIcon::GetIconLocation(UINT, LPWSTR iconFile, UINT size, int* index, UINT* outFlags) noexcept {
    if (iconFile != nullptr && size > 0) iconFile[0] = L'\0';
    return InternalGetIconLocation(ShellImageLists::Instance(), index, outFlags);
}

STDMETHODIMP CIVDExtractIcon::Extract(LPCWSTR, UINT index, HICON* large, HICON* small, UINT) noexcept {
    ShellImageLists& lists = ShellImageLists::Instance();
    if (lists.Large() == nullptr || static_cast<int>(index) >= ImageList_GetImageCount(lists.Large())) return E_FAIL;
    if (large) *large = ImageList_GetIcon(lists.Large(), static_cast<int>(index), ILD_TRANSPARENT);
    if (small) *small = ImageList_GetIcon(lists.Small(), static_cast<int>(index), ILD_TRANSPARENT);
    return S_OK;
}

HRESULT CreateExtractIcon(LPCITEMIDLIST item, REFIID iid, void** out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    vd::com::ComPtr<CIVDExtractIcon> icon;
    HRESULT hr = vd::com::MakeObject(icon);
    if (FAILED(hr)) return hr;
    hr = icon->Init(item);
    if (FAILED(hr)) return hr;
    return icon->QueryInterface(iid, out);
}

}  // namespace vdview
