#include "thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vdcache {

// On Linux the nice value is per thread when addressed by thread id.
void SetCurrentThreadBelowNormal() {
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  const int current = ::getpriority(PRIO_PROCESS, tid);
  ::setpriority(PRIO_PROCESS, tid, current + 2);
}

}  // namespace vdcache
