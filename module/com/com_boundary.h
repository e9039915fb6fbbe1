#pragma once
// Every COM method body runs through ComBoundary: no exception leaves the
// module, and each failure is logged once with where it happened.
#include <windows.h>

#include <new>
#include <stdexcept>

#include "trace.h"

namespace vd::com {

// Thrown inside the module to fail with a given HRESULT.
class ComError : public std::runtime_error {
 public:
  explicit ComError(HRESULT hr, const char* what = "ComError") : std::runtime_error(what), hr_(hr) {}
  HRESULT hr() const noexcept { return hr_; }

 private:
  HRESULT hr_;
};

inline void ThrowIfFailed(HRESULT hr, const char* what = "call failed") {
  if (FAILED(hr)) throw ComError(hr, what);
}

template <typename F>
HRESULT ComBoundary(const char* method, F&& body) noexcept {
  try {
    return body();
  } catch (const ComError& e) {
    vd::trace::Log(vd::trace::LogLevel::Error, __FILE__, __LINE__, method, "%s: %s (0x%08lX)", method, e.what(),
                   static_cast<unsigned long>(e.hr()));
    return e.hr();
  } catch (const std::bad_alloc&) {
    vd::trace::Log(vd::trace::LogLevel::Error, __FILE__, __LINE__, method, "%s: out of memory", method);
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    vd::trace::Log(vd::trace::LogLevel::Error, __FILE__, __LINE__, method, "%s: %s", method, e.what());
    return E_UNEXPECTED;
  } catch (...) {
    vd::trace::Log(vd::trace::LogLevel::Error, __FILE__, __LINE__, method, "%s: unknown exception", method);
    return E_UNEXPECTED;
  }
}

}  // namespace vd::com
