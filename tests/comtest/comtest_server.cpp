// A minimal in-process server built on the module's COM helpers, so that the
// helpers are exercised the way Explorer and regsvr32 use a real server.
#include <windows.h>
#include <shlobj.h>

#include <array>

#include "class_factory.h"
#include "com_boundary.h"
#include "comtest_ids.h"
#include "registration.h"

namespace {

using vd::com::ComAlias;
using vd::com::ComObject;

class CTestObject final : public ComObject<CTestObject, IPersistFolder, ComAlias<IPersist, IPersistFolder>> {
 public:
  STDMETHODIMP GetClassID(CLSID* clsid) noexcept override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_ComTestObject;
    return S_OK;
  }
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE) noexcept override {
    return vd::com::ComBoundary("CTestObject::Initialize", []() -> HRESULT {
      throw vd::com::ComError(E_NOTIMPL, "not a folder");
    });
  }
};

// Refuses to be made, as the folder refuses hosts it does not serve.
class CRefusingObject final : public ComObject<CRefusingObject, IPersist> {
 public:
  HRESULT FinalConstruct() noexcept { return E_ACCESSDENIED; }
  STDMETHODIMP GetClassID(CLSID*) noexcept override { return E_UNEXPECTED; }
};

template <typename T>
HRESULT Create(REFIID iid, void** out) {
  return vd::com::CreateInstance<T>(iid, out);
}

const std::array<vd::com::ClassEntry, 2> kClasses = {{
    {&CLSID_ComTestObject, &Create<CTestObject>, IDR_COMTEST_OBJECT},
    {&CLSID_ComTestRefusing, &Create<CRefusingObject>, IDR_COMTEST_REFUSING},
}};

HRESULT RegisterAll(vd::com::ScriptMode mode, vd::registrar::RootMapping mapping) {
  HMODULE module = vd::com::CurrentModule();
  HRESULT first = S_OK;
  if (mode == vd::com::ScriptMode::Register) {
    for (auto& c : kClasses) {
      HRESULT hr = vd::com::RunRegistrationScript(module, c.script_id, mode, {}, mapping);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  for (auto& c : kClasses) {
    HRESULT hr = vd::com::RunRegistrationScript(module, c.script_id, mode, {}, mapping);
    if (SUCCEEDED(first)) first = hr;
  }
  return first;
}

}  // namespace

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return vd::com::GetClassObject(kClasses, clsid, iid, out);
}

HRESULT __stdcall DllCanUnloadNow() { return vd::com::ModuleLock::Count() == 0 ? S_OK : S_FALSE; }

HRESULT __stdcall DllRegisterServer() { return RegisterAll(vd::com::ScriptMode::Register, {}); }

HRESULT __stdcall DllUnregisterServer() { return RegisterAll(vd::com::ScriptMode::Unregister, {}); }

HRESULT __stdcall DllInstall(BOOL install, LPCWSTR command) {
  if (command && ::lstrcmpiW(command, L"malformed") == 0) {
    return vd::com::RunRegistrationScript(vd::com::CurrentModule(), IDR_COMTEST_MALFORMED,
                                          vd::com::ScriptMode::Register);
  }
  vd::registrar::RootMapping mapping;
  mapping.per_user = command && ::lstrcmpiW(command, L"user") == 0;
  if (!install) return RegisterAll(vd::com::ScriptMode::Unregister, mapping);
  HRESULT hr = RegisterAll(vd::com::ScriptMode::Register, mapping);
  if (FAILED(hr)) RegisterAll(vd::com::ScriptMode::Unregister, mapping);
  return hr;
}

}  // extern "C"
