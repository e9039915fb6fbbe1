#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/fault.h"

namespace platform {

uint64_t TickCountMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

int64_t UnixTimeMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::tm LocalTime(int64_t unix_seconds) {
  std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm out{};
  ::localtime_r(&t, &out);
  return out;
}

uint64_t ThreadCpuTime100ns() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 10000000 + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

unsigned ProcessorCount() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

// A thread's nice value is its own on Linux; lowering it needs a privilege
// most users lack, and then the thread simply stays where it is.
bool RaiseCurrentThreadPriority() { return ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -1) == 0; }

namespace {

// One thread per timer: the product has a handful of timers at most. The
// state is shared with the thread so that a timer destroyed from inside its
// own callback does not pull the floor from under that thread.
struct TimerState {
  std::function<void()> callback;
  std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;
};

class ThreadTimer final : public TimerQueue::Timer {
 public:
  ThreadTimer(uint32_t due_ms, uint32_t period_ms, std::function<void()> callback)
      : state_(std::make_shared<TimerState>()) {
    state_->callback = std::move(callback);
    thread_ = std::thread([state = state_, due_ms, period_ms] {
      std::unique_lock lock(state->mutex);
      auto wait = std::chrono::milliseconds(due_ms);
      for (;;) {
        if (state->cv.wait_for(lock, wait, [&] { return state->stop; })) return;
        lock.unlock();
        NoThrow("TimerQueue::callback", state->callback);
        lock.lock();
        if (period_ms == 0) return;
        wait = std::chrono::milliseconds(period_ms);
      }
    });
  }

  ~ThreadTimer() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->stop = true;
    }
    state_->cv.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }

 private:
  std::shared_ptr<TimerState> state_;
  std::thread thread_;
};

class ThreadTimerQueue final : public TimerQueue {
 public:
  std::unique_ptr<Timer> Start(uint32_t due_ms, uint32_t period_ms,
                               std::function<void()> callback) override {
    return std::make_unique<ThreadTimer>(due_ms, period_ms, std::move(callback));
  }
};

}  // namespace

std::unique_ptr<TimerQueue> TimerQueue::Create() { return std::make_unique<ThreadTimerQueue>(); }

}  // namespace platform
