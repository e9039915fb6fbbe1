#pragma once
// Count of live objects and server locks of this module, behind DllCanUnloadNow.
#include <windows.h>

namespace vd::com {

class ModuleLock {
 public:
  static void Lock() noexcept { ::InterlockedIncrement(&count_); }
  static void Unlock() noexcept { ::InterlockedDecrement(&count_); }
  static LONG Count() noexcept { return ::InterlockedCompareExchange(&count_, 0, 0); }

 private:
  static inline volatile LONG count_ = 0;
};

}  // namespace vd::com
