#include "class_factory.h"

namespace vd::com {

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return create_(iid, out);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) noexcept {
  if (lock) ModuleLock::Lock(); else ModuleLock::Unlock();
  return S_OK;
}

HRESULT GetClassObject(std::span<const ClassEntry> table, REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const ClassEntry& entry : table) {
    if (!IsEqualCLSID(*entry.clsid, clsid)) continue;
    // A class the module registers but cannot make yet.
    if (!entry.create) return CLASS_E_CLASSNOTAVAILABLE;
    return CreateInstance<ClassFactory>(iid, out, entry.create);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace vd::com
