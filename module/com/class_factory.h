#pragma once
// The standard class factory over a table of creatable classes, and the
// lookup behind DllGetClassObject.
#include <unknwn.h>

#include <span>

#include "com_object.h"

namespace vd::com {

using CreatorFn = HRESULT (*)(REFIID iid, void** out);

struct ClassEntry {
  const CLSID* clsid;
  CreatorFn create;
  int script_id;  // registration script resource, 0 for none
};

class ClassFactory final : public ComObject<ClassFactory, IClassFactory> {
 public:
  explicit ClassFactory(CreatorFn create) noexcept : create_(create) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override;
  STDMETHODIMP LockServer(BOOL lock) noexcept override;

 private:
  CreatorFn create_;
};

HRESULT GetClassObject(std::span<const ClassEntry> table, REFCLSID clsid, REFIID iid, void** out) noexcept;

}  // namespace vd::com
