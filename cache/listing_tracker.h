#pragma once
// Background listings of a cache: which keys have one running (one listing
// per key), and how many callbacks have not ended yet, so that an owner can
// wait for them before it goes away.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "cache_result.h"

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

// Keys with a background listing under way.
class PendingKeys {
 public:
  // False when the key already has one.
  bool TryAdd(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return keys_.insert(key).second;
  }
  void Remove(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_.erase(key);
  }
  bool Contains(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return keys_.count(key) != 0;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_.clear();
  }

 private:
  std::mutex mutex_;
  std::set<std::string> keys_;
};

// Starts one background listing for `key` unless one is pending: `start`
// hands `listing` to the SDK and answers 0 when the call began; from then on
// the last callback owns the listing and ends it on `tracker`.
template <typename Listing, typename Start>
uint32_t StartBackgroundListing(PendingKeys& pending, ListingTracker& tracker, const std::string& key,
                                std::unique_ptr<Listing> listing, Start start) {
  if (!listing) return kCacheNoMemory;
  if (!pending.TryAdd(key)) return kCacheOk;  // one background listing per key
  tracker.Begin();
  if (start(listing.get()) != 0) {
    pending.Remove(key);
    tracker.End();
    return kCacheListFailed;
  }
  listing.release();
  return kCacheOk;
}

}  // namespace vdcache
