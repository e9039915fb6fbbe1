#pragma once
// What a cache was opened with, under its own lock; readers take a copy so
// that no lock is held while they work.
#include <cstdint>
#include <mutex>
#include <string>

namespace vdcache {

class IThumbnailPrefetch;

struct CacheSettings {
  uint32_t mode = 1;
  bool useDatabase = false;
  std::string dbPath;
  std::string account;
  bool loaded = false;
  IThumbnailPrefetch* thumbnails = nullptr;
};

class GuardedSettings {
 public:
  CacheSettings Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
  }
  bool Loaded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_.loaded;
  }
  std::string Account() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_.account;
  }
  // What Initialize was given; a cache without its database is loaded at once.
  void Open(uint32_t mode, bool useDatabase, const std::string& dbPath, const std::string& account) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.mode = mode;
    settings_.useDatabase = useDatabase;
    settings_.dbPath = dbPath;
    settings_.account = account;
    if (!useDatabase) settings_.loaded = true;
  }
  void SetLoaded() {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.loaded = true;
  }
  // Whether the cache was loaded before.
  bool Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool was = settings_.loaded;
    settings_.loaded = false;
    return was;
  }
  void SetThumbnails(IThumbnailPrefetch* prefetch) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.thumbnails = prefetch;
  }

 private:
  mutable std::mutex mutex_;
  CacheSettings settings_;
};

}  // namespace vdcache
