// Process attach prepares the module-wide state and nothing that waits;
// everything else starts on first use.
#include <windows.h>

#include "vd_module.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      VDModule::Init(&VDModule::Instance(), nullptr, instance);
      ::DisableThreadLibraryCalls(instance);
      break;
    case DLL_PROCESS_DETACH:
      VDModule::Term(&VDModule::Instance());
      break;
  }
  return TRUE;
}
