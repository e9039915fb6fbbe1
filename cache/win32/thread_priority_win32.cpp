#include <windows.h>

#include "thread_priority.h"

namespace vdcache {

void SetCurrentThreadBelowNormal() { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

}  // namespace vdcache
