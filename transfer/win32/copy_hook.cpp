#include "copy_hook.h"

#include "drag_out.h"
#include "platform/fault.h"

namespace vdtransfer {

HRESULT CTCopyHook::CreateInstance(REFIID iid, void** out) noexcept {
  return vd::com::CreateInstance<CTCopyHook>(iid, out);
}

UINT CTCopyHook::CopyCallback(HWND, UINT operation, UINT, LPCWSTR source, DWORD, LPCWSTR destination, DWORD) noexcept {
  // A hook that fails must never stop the user's own folder operations.
  UINT answer = kCopyHookYes;
  platform::NoThrow("CTCopyHook::CopyCallback", [&] {
    answer = DragOutHandOver::Instance().CopyCallback(operation, reinterpret_cast<const char16_t*>(source),
                                                      reinterpret_cast<const char16_t*>(destination));
  });
  return answer;
}

}  // namespace vdtransfer
