#pragma once
// Owners of Win32 resources: one line per handle type over a generic owner
// whose invalid value is part of the type.
#include <windows.h>

#include <string>
#include <utility>

namespace platform::win32 {

// Traits: the handle type, its invalid value and how to close it.
template <typename Traits>
class unique_any {
 public:
  using T = typename Traits::type;
  unique_any() noexcept = default;
  explicit unique_any(T value) noexcept : value_(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_any() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
  T release() noexcept { return std::exchange(value_, Traits::invalid()); }
  void reset(T value = Traits::invalid()) noexcept {
    T old = std::exchange(value_, value);
    if (old != Traits::invalid()) Traits::close(old);
  }
  // For APIs that fill an out parameter.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::invalid();
};

template <typename H, H (*Invalid)(), void (*Close)(H)>
struct handle_traits {
  using type = H;
  static type invalid() noexcept { return Invalid(); }
  static void close(type h) noexcept { Close(h); }
};

inline HANDLE NullHandle() noexcept { return nullptr; }
inline HANDLE InvalidFileHandle() noexcept { return INVALID_HANDLE_VALUE; }
inline HKEY NullKey() noexcept { return nullptr; }
inline HWND NullWindow() noexcept { return nullptr; }
inline void* NullView() noexcept { return nullptr; }
inline void CloseHandleNoResult(HANDLE h) noexcept { ::CloseHandle(h); }
inline void RegCloseKeyNoResult(HKEY k) noexcept { ::RegCloseKey(k); }
inline void DestroyWindowNoResult(HWND w) noexcept { ::DestroyWindow(w); }
inline void UnmapViewNoResult(void* p) noexcept { ::UnmapViewOfFile(p); }

using unique_handle = unique_any<handle_traits<HANDLE, NullHandle, CloseHandleNoResult>>;
using unique_hfile = unique_any<handle_traits<HANDLE, InvalidFileHandle, CloseHandleNoResult>>;
using unique_hkey = unique_any<handle_traits<HKEY, NullKey, RegCloseKeyNoResult>>;
using unique_hwnd = unique_any<handle_traits<HWND, NullWindow, DestroyWindowNoResult>>;
using unique_mapview = unique_any<handle_traits<void*, NullView, UnmapViewNoResult>>;

// UTF-16 text of the platform layer as the Windows API wants it.
inline const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline std::u16string U16(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }
inline std::u16string U16(const wchar_t* s, size_t n) { return std::u16string(reinterpret_cast<const char16_t*>(s), n); }

}  // namespace platform::win32
