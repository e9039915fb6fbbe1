#pragma once
// The SDK's own threads: created on the first queued job (never at load),
// grown while every thread is busy up to a bound, kept idle afterwards.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corbel {

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t maxThreads) : maxThreads_(maxThreads) {}
  // Runs the queued jobs still waiting, then joins every thread.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // False once the pool is stopping or a thread could not be started while
  // none exists; the job is then not run.
  bool Post(std::function<void()> job);
  std::size_t ThreadCount() const;

 private:
  void Run();

  const std::size_t maxThreads_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace corbel
