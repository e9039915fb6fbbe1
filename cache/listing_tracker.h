#pragma once
// Counts the background listings whose callbacks have not ended yet, so that
// an owner can wait for them before it goes away.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vdcache {

class ListingTracker {
 public:
  void Begin() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++running_;
  }
  void End() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ > 0 && --running_ == 0) idle_.notify_all();
  }
  // True when nothing runs any more within the time.
  bool WaitIdle(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return running_ == 0; });
  }
  int Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  int running_ = 0;
};

}  // namespace vdcache
