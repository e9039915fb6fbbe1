#include <windows.h>

#include "platform/clock.h"
#include "platform/fault.h"

namespace platform {

uint64_t TickCountMs() { return ::GetTickCount64(); }

int64_t UnixTimeMs() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(t / 10000) - 11644473600000ll;  // FILETIME counts from 1601
}

std::tm LocalTime(int64_t unix_seconds) {
  std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm out{};
  ::localtime_s(&out, &t);
  return out;
}

uint64_t ThreadCpuTime100ns() {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  auto v = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  return v(kernel) + v(user);
}

unsigned ProcessorCount() {
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  return si.dwNumberOfProcessors ? si.dwNumberOfProcessors : 1;
}

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

bool RaiseCurrentThreadPriority() { return ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL) != FALSE; }

namespace {

struct TimerContext {
  std::function<void()> callback;
};

void CALLBACK OnTimer(void* param, BOOLEAN) noexcept {
  NoThrow("TimerQueue::callback", static_cast<TimerContext*>(param)->callback);
}

class Win32Timer final : public TimerQueue::Timer {
 public:
  Win32Timer(HANDLE queue, std::unique_ptr<TimerContext> ctx) : queue_(queue), ctx_(std::move(ctx)) {}
  bool Start(uint32_t due_ms, uint32_t period_ms) {
    return ::CreateTimerQueueTimer(&timer_, queue_, OnTimer, ctx_.get(), due_ms, period_ms, WT_EXECUTEDEFAULT);
  }
  ~Win32Timer() override {
    // INVALID_HANDLE_VALUE: wait for a callback that is running to finish.
    if (timer_) ::DeleteTimerQueueTimer(queue_, timer_, INVALID_HANDLE_VALUE);
  }

 private:
  HANDLE queue_;
  HANDLE timer_ = nullptr;
  std::unique_ptr<TimerContext> ctx_;
};

class Win32TimerQueue final : public TimerQueue {
 public:
  Win32TimerQueue() : queue_(::CreateTimerQueue()) {}
  ~Win32TimerQueue() override {
    if (queue_) ::DeleteTimerQueueEx(queue_, INVALID_HANDLE_VALUE);
  }
  std::unique_ptr<Timer> Start(uint32_t due_ms, uint32_t period_ms, std::function<void()> callback) override {
    if (!queue_) return nullptr;
    auto ctx = std::make_unique<TimerContext>();
    ctx->callback = std::move(callback);
    auto timer = std::make_unique<Win32Timer>(queue_, std::move(ctx));
    if (!timer->Start(due_ms, period_ms)) return nullptr;
    return timer;
  }

 private:
  HANDLE queue_;
};

}  // namespace

std::unique_ptr<TimerQueue> TimerQueue::Create() { return std::make_unique<Win32TimerQueue>(); }

}  // namespace platform
