#pragma once
// Runs the calling thread's messages (the dialogs and windows the code under
// test made live on them) until `done` holds or the time is up.
#include <windows.h>

#include <functional>

namespace vd::testing {

inline bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG end = ::GetTickCount64() + ms;
  while (!done()) {
    if (::GetTickCount64() >= end) return false;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

}  // namespace vd::testing
