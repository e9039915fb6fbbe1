#pragma once
// What the cloud folder needs from its process: the module's paths, the
// one-time start-up of the first folder, the sign-in wiring and the desktop
// client's pages. Windows only.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "pidl_enum.h"

namespace vd {

class ShellEnv {
public:
    // Wires the sign-in to this process's registry, files, SDK and caches; once.
    static void Configure();
    // False inside hosts the folder does not serve.
    static bool CheckAppVersion();
    static LPCITEMIDLIST RootList();
    // First Initialize of the process: the root list and the global settings.
    static HRESULT FirstInitialize(LPCITEMIDLIST root);
    // Until it has once succeeded.
    static void StartLog();
    // The diagnostic logger of the process's scope traces, once.
    static void OpenProcessLogger();
    static bool IsSignInMutexPresent();
    static DWORD OsMajor();
    static bool IsHostInExplorer();
    // The enumerator's view of the signed-in account; failures of share
    // reads are shown to the user when there is a window to own the box.
    static PidlEnumEnv EnumEnv(HWND window);
    // Hands a fixed node's page (calendar, messages, contacts, notes) to the
    // desktop client; failures are shown for `window` when it is one of ours.
    static void ShellNimbraView(int nodeIndex, HWND window);
    // sdkconfig.ini [SDK] UploadFilterSuffix, read again at every call.
    static std::u16string UploadFilterSuffix();
    // Thumbnails of the signed-in account: the folder a catalog's thumbnails
    // are kept in ("" when unknown), and a fetch of the missing ones on the
    // prefetch pool; `notify` gets `message` when the fetch ended.
    static std::u16string ThumbnailFolder(const std::string& catalogId);
    static void BeginDownloadTbimg(const std::string& catalogId, HWND notify, UINT message);
};

}  // namespace vd
