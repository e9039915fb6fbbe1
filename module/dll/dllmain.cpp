// Process attach prepares the module-wide state and nothing that waits;
// everything else starts on first use.
#include <windows.h>

#include "platform/fault.h"
#include "vd_module.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) noexcept {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      // A failed start leaves the module without its texts and paths; the
      // host still gets a library that answers, not a loader failure.
      platform::NoThrow("DllMain", [&] { VDModule::Init(&VDModule::Instance(), nullptr, instance); });
      ::DisableThreadLibraryCalls(instance);
      break;
    case DLL_PROCESS_DETACH:
      platform::NoThrow("DllMain", [] { VDModule::Term(&VDModule::Instance()); });
      break;
  }
  return TRUE;
}
