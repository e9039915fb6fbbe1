#pragma once
// Owner of one COM interface pointer. Nothing here throws: failures come
// back as HRESULTs.
#include <unknwn.h>

#include <utility>

namespace vd::com {

template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference.
  explicit ComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(const ComPtr& other) noexcept {
    ComPtr(other).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).swap(*this);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Adopts a reference the caller already owns.
  static ComPtr Attach(T* p) noexcept {
    ComPtr out;
    out.p_ = p;
    return out;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }
  // For out parameters: releases what is held first.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  template <typename U>
  HRESULT As(ComPtr<U>& out) const noexcept {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(__uuidof(U), out.put_void());
  }

  // Hands a new reference to an out parameter.
  HRESULT CopyTo(REFIID iid, void** out) const noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!p_) return E_NOINTERFACE;
    return p_->QueryInterface(iid, out);
  }

 private:
  T* p_ = nullptr;
};

}  // namespace vd::com
