#include "worker_pool.h"

#include "local_file.h"
#include "platform/fault.h"

namespace corbel {

WorkerPool::~WorkerPool() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (auto& t : threads) t.join();
}

bool WorkerPool::Post(std::function<void()> job) {
  std::unique_lock lock(mutex_);
  if (stopping_) return false;
  jobs_.push_back(std::move(job));
  if (idle_ < jobs_.size() && threads_.size() < maxThreads_) {
    if (threads_.empty()) OnFirstThreadStarting();
    try {
      threads_.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
      if (threads_.empty()) {
        jobs_.pop_back();
        return false;
      }
    }
  }
  lock.unlock();
  wake_.notify_one();
  return true;
}

std::size_t WorkerPool::ThreadCount() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

void WorkerPool::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    --idle_;
    if (jobs_.empty()) return;  // stopping, nothing left
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    // A job that throws must not take the thread, and with it the host, down.
    platform::NoThrow("corbel::WorkerPool::job", job);
    job = nullptr;  // captured state goes before the lock is taken again
    lock.lock();
  }
}

}  // namespace corbel
