// Process attach prepares the module-wide state and nothing that waits;
// everything else starts on first use.
#include <windows.h>

#include "extract_icon.h"
#include "platform/fault.h"
#include "shell_image_lists.h"
#include "trace.h"
#include "vd_module.h"
#include "vd_shell_folder.h"
#include "vd_shell_view.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) noexcept {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      // A failed start leaves the module without its texts and paths; the
      // host still gets a library that answers, not a loader failure.
      platform::NoThrow("DllMain", [&] { VDModule::Init(&VDModule::Instance(), nullptr, instance); });
      vd::SetViewObjects({&vdview::CreateCloudView, &vdview::CreateExtractIcon, &vdview::StartViewLayer});
      ::DisableThreadLibraryCalls(instance);
      break;
    case DLL_PROCESS_DETACH:
      // The process logger's drain thread is gone at process exit: a trace
      // written from here on would wait for a buffer nobody empties.
      vd::trace::SetTraceSink(nullptr);
      // At process exit other libraries may be gone already: only an unload
      // gives the pictures back.
      if (reserved == nullptr) {
        platform::NoThrow("DllMain", [] {
          vdview::ShellViewHelper::Instance().UninitShellViewHelper();
          vdview::ShellImageLists::Instance().Destroy();
        });
      }
      platform::NoThrow("DllMain", [] { VDModule::Term(&VDModule::Instance()); });
      break;
  }
  return TRUE;
}
