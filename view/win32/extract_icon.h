#pragma once
// The icon of one cloud item for the shell's tree and address bar.
#include <windows.h>
#include <shlobj.h>

#include "com_object.h"
#include "pidl.h"

// mingw-w64 declares it without its __uuidof.
#ifndef VD_IEXTRACTICONW_UUID
#define VD_IEXTRACTICONW_UUID
__CRT_UUID_DECL(IExtractIconW, 0x000214FA, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
#endif

namespace vdview {

class ShellImageLists;

class CIVDExtractIcon final : public vd::com::ComObject<CIVDExtractIcon, IExtractIconW> {
public:
    // `item`: the last element the shell asked about (copied).
    HRESULT Init(LPCITEMIDLIST item) noexcept;
    void FinalRelease() noexcept;

    STDMETHODIMP GetIconLocation(UINT flags, LPWSTR iconFile, UINT size, int* index, UINT* outFlags) noexcept override;
    STDMETHODIMP Extract(LPCWSTR file, UINT index, HICON* large, HICON* small, UINT size) noexcept override;

    // The same choice against a given set of lists.
    HRESULT InternalGetIconLocation(ShellImageLists& lists, int* index, UINT* outFlags) noexcept;

private:
    LPITEMIDLIST m_item = nullptr;
};

HRESULT CreateExtractIcon(LPCITEMIDLIST item, REFIID iid, void** out) noexcept;

}  // namespace vdview
