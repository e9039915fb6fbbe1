#pragma once
// Time sources and the periodic timer queue.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>

#include "platform/result.h"

namespace platform {

uint64_t TickCountMs();            // monotonic milliseconds
int64_t UnixTimeMs();              // wall clock, milliseconds since 1970 (UTC)
std::tm LocalTime(int64_t unix_seconds);
uint64_t ThreadCpuTime100ns();     // kernel + user time of the calling thread
unsigned ProcessorCount();
uint32_t CurrentThreadId();
// Raises the calling thread above normal priority; false when the OS refused.
bool RaiseCurrentThreadPriority();

// Periodic callbacks on threads of the queue. Destroying a timer waits for a
// callback that is running, so the callback's captures may die right after.
class TimerQueue {
 public:
  class Timer {
   public:
    virtual ~Timer() = default;
  };
  virtual ~TimerQueue() = default;
  static std::unique_ptr<TimerQueue> Create();
  virtual std::unique_ptr<Timer> Start(uint32_t due_ms, uint32_t period_ms,
                                       std::function<void()> callback) = 0;
};

}  // namespace platform
