#pragma once
// A small FIFO pool of below-normal worker threads for background jobs.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

namespace vdcache {

class ThreadJob {
 public:
  virtual ~ThreadJob() = default;
  virtual void DoJob(void* parameter) = 0;
};

class ThreadPool {
 public:
  using Procedure = void (*)(void* argument);

  explicit ThreadPool(int threads);
  // Runs what is still queued, then joins the threads.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // n >= 1 starts n more threads; n < 1 ends min(-n, live) threads once idle.
  int AdjustSize(int n);
  void Call(Procedure procedure, void* argument);
  // Queues a job; the pool owns it and deletes it after DoJob(nullptr).
  void CallJob(ThreadJob* job);
  int LiveThreads() const { return m_live.load(); }
  int BusyThreads() const { return m_busy.load(); }

 private:
  struct Entry {
    Procedure procedure;
    void* argument;
  };
  void DefaultJobProc();
  static void CallProc(void* job);

  std::mutex m_queueLock;
  std::condition_variable m_wake;
  std::deque<Entry> m_queue;
  int m_exitRequests = 0;
  bool m_stop = false;
  std::mutex m_threadLock;
  std::list<std::thread> m_threads;
  std::atomic<int> m_live{0};
  std::atomic<int> m_busy{0};
};

// The process's thumbnail prefetch pool: two threads.
class PreDownloadTbimgThreadPool {
 public:
  static ThreadPool* GetInstance();
};

}  // namespace vdcache
