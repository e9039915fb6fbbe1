// The COM server's exported entry points: each one a boundary nothing
// escapes, whoever the caller is (the shell, regsvr32, an installer).
#include <windows.h>

#include "com_boundary.h"
#include "com_server.h"
#include "registration.h"

using vd::com::ComBoundary;

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return vd::com::GetClassObject(vd::module::ClassTable(), clsid, iid, out);
}

// The library stays loaded for the life of the process.
HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }

HRESULT __stdcall DllCanUnloadNowForORLO() { return S_FALSE; }

HRESULT __stdcall DllRegisterServer() {
  return ComBoundary("DllRegisterServer",
                     [] { return vd::module::RegisterServer(vd::com::CurrentModule(), {}); });
}

HRESULT __stdcall DllUnregisterServer() {
  return ComBoundary("DllUnregisterServer",
                     [] { return vd::module::UnregisterServer(vd::com::CurrentModule(), {}); });
}

HRESULT __stdcall DllInstall(BOOL install, LPCWSTR command) {
  return ComBoundary("DllInstall", [&] {
    vd::registrar::RootMapping mapping;
    mapping.per_user = vd::module::IsPerUserCommand(command);
    HMODULE module = vd::com::CurrentModule();
    if (!install) return vd::module::UnregisterServer(module, mapping);
    HRESULT hr = vd::module::RegisterServer(module, mapping);
    if (FAILED(hr)) vd::module::UnregisterServer(module, mapping);
    return hr;
  });
}

}  // extern "C"
