#pragma once
// IDispatch for a dual interface of this module, answered from the module's
// own type library (resource TYPELIB 1), loaded once per interface.
#include <oaidl.h>
#include <oleauto.h>

#include "com_ptr.h"

namespace vd::com {

// The type information of `iid` in the type library of the module that holds
// this code; null when the library or the interface is missing.
ITypeInfo* ModuleTypeInfo(REFIID iid) noexcept;

template <typename Iface>
class DispatchImpl : public Iface {
 public:
  using ComInterface = Iface;

  STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* info = ModuleTypeInfo(__uuidof(Iface));
    if (!info) return TYPE_E_ELEMENTNOTFOUND;
    info->AddRef();
    *out = info;
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override {
    ITypeInfo* info = ModuleTypeInfo(__uuidof(Iface));
    return info ? ::DispGetIDsOfNames(info, names, count, ids) : TYPE_E_ELEMENTNOTFOUND;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                      UINT* argError) noexcept override {
    ITypeInfo* type = ModuleTypeInfo(__uuidof(Iface));
    if (!type) return TYPE_E_ELEMENTNOTFOUND;
    return ::DispInvoke(static_cast<Iface*>(this), type, id, flags, params, result, info, argError);
  }
};

}  // namespace vd::com
