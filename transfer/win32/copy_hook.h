#pragma once
// The copy hook registered for folders: lets every folder operation through
// except the copy or move of a drag-out placeholder, whose destination it
// hands to the waiting download (DragOutHandOver).
#include <windows.h>
#include <shlobj.h>

#include "com_object.h"

// The cross toolchain's headers name the interface without its IID.
__CRT_UUID_DECL(ICopyHookW, 0x000214FC, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

namespace vdtransfer {

class CTCopyHook final : public vd::com::ComObject<CTCopyHook, ICopyHookW> {
 public:
  static HRESULT CreateInstance(REFIID iid, void** out) noexcept;

  STDMETHODIMP_(UINT) CopyCallback(HWND window, UINT operation, UINT flags, LPCWSTR source, DWORD sourceAttributes,
                                   LPCWSTR destination, DWORD destinationAttributes) noexcept override;
};

}  // namespace vdtransfer
