#pragma once
// The one IUnknown of every COM class of the module. A class lists the
// interfaces it answers to; QueryInterface walks that list:
//
//   class CFolder : public ComObject<CFolder, IShellFolder2,
//                                    ComAlias<IShellFolder, IShellFolder2>,
//                                    IPersistFolder2> { ... };
//
// ComAlias<I, Via> answers I's IID with the Via base (for base interfaces).
// Objects are made with MakeObject, which runs FinalConstruct and destroys the
// object when it fails; FinalRelease runs before the destructor.
#include <unknwn.h>

#include <new>

#include "com_ptr.h"
#include "module_lock.h"

namespace vd::com {

template <typename I, typename Via>
struct ComAlias {};

namespace detail {

// An implementation helper answers for the interface it names as ComInterface.
template <typename E>
struct InterfaceOf {
  using type = E;
};
template <typename E>
  requires requires { typename E::ComInterface; }
struct InterfaceOf<E> {
  using type = typename E::ComInterface;
};

template <typename E>
struct EntryTraits {
  using Base = E;
  using Iface = typename InterfaceOf<E>::type;
};

template <typename I, typename Via>
struct EntryTraits<ComAlias<I, Via>> {
  using Base = Via;
  using Iface = I;
};

template <typename... Entries>
struct FirstBase;
template <typename E, typename... Rest>
struct FirstBase<E, Rest...> {
  using type = typename EntryTraits<E>::Base;
};

}  // namespace detail

template <typename Derived, typename... Entries>
class ComObject : public Entries... {
  using Primary = typename detail::FirstBase<Entries...>::type;

 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(static_cast<Primary*>(this));
    } else if (!(Match<Entries>(iid, out) || ...)) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

  STDMETHODIMP_(ULONG) Release() noexcept override {
    LONG left = ::InterlockedDecrement(&refs_);
    if (left == 0) {
      auto* self = static_cast<Derived*>(this);
      self->FinalRelease();
      delete self;
    }
    return static_cast<ULONG>(left);
  }

  // Hooks for the derived class.
  HRESULT FinalConstruct() noexcept { return S_OK; }
  void FinalRelease() noexcept {}

 protected:
  ComObject() noexcept { ModuleLock::Lock(); }
  ~ComObject() { ModuleLock::Unlock(); }

 private:
  template <typename E>
  bool Match(REFIID iid, void** out) noexcept {
    using Traits = detail::EntryTraits<E>;
    if (!IsEqualIID(iid, __uuidof(typename Traits::Iface))) return false;
    *out = static_cast<typename Traits::Iface*>(static_cast<typename Traits::Base*>(static_cast<Derived*>(this)));
    return true;
  }

  volatile LONG refs_ = 1;
};

// Creates T with one reference held by `out`; S_OK, E_OUTOFMEMORY or what
// FinalConstruct returned.
template <typename T, typename... Args>
HRESULT MakeObject(ComPtr<T>& out, Args&&... args) noexcept {
  out.reset();
  T* object = nullptr;
  try {
    object = new T(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  ComPtr<T> owner = ComPtr<T>::Attach(object);
  HRESULT hr = object->FinalConstruct();
  if (FAILED(hr)) return hr;  // owner's release destroys it
  out = std::move(owner);
  return S_OK;
}

// Creates T and returns the interface `iid` of it, as class factories do.
template <typename T, typename... Args>
HRESULT CreateInstance(REFIID iid, void** out, Args&&... args) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<T> object;
  HRESULT hr = MakeObject(object, std::forward<Args>(args)...);
  if (FAILED(hr)) return hr;
  return object->QueryInterface(iid, out);
}

}  // namespace vd::com
