#include "thread_pool.h"

#include <algorithm>
#include <memory>

#include "platform/fault.h"

#include "thread_priority.h"

namespace vdcache {

ThreadPool::ThreadPool(int threads) { AdjustSize(threads == 0 ? 2 : threads); }

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_stop = true;
  }
  m_wake.notify_all();
  std::lock_guard<std::mutex> lock(m_threadLock);
  for (std::thread& t : m_threads) t.join();
}

int ThreadPool::AdjustSize(int n) {
  if (n >= 1) {
    std::lock_guard<std::mutex> lock(m_threadLock);
    for (int i = 0; i < n; ++i) {
      m_live.fetch_add(1);  // counted before it runs, so the answer below includes it
      m_threads.emplace_back([this] { DefaultJobProc(); });
    }
  } else {
    {
      std::lock_guard<std::mutex> lock(m_queueLock);
      m_exitRequests += std::min(-n, m_live.load());
    }
    m_wake.notify_all();
  }
  return m_live.load();
}

void ThreadPool::Call(Procedure procedure, void* argument) {
  {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_queue.push_back({procedure, argument});
  }
  m_wake.notify_one();
}

void ThreadPool::CallProc(void* job) {
  std::unique_ptr<ThreadJob> owned(static_cast<ThreadJob*>(job));  // deleted even when DoJob throws
  owned->DoJob(nullptr);
}

void ThreadPool::CallJob(ThreadJob* job) { Call(&ThreadPool::CallProc, job); }

void ThreadPool::DefaultJobProc() {
  SetCurrentThreadBelowNormal();
  for (;;) {
    Entry entry{};
    {
      std::unique_lock<std::mutex> lock(m_queueLock);
      m_wake.wait(lock, [this] { return m_exitRequests > 0 || m_stop || !m_queue.empty(); });
      if (m_exitRequests > 0) {
        --m_exitRequests;
        break;
      }
      if (m_queue.empty()) break;  // stopped and drained
      entry = m_queue.front();
      m_queue.pop_front();
    }
    m_busy.fetch_add(1);
    platform::NoThrow("ThreadPool::job", [&] { entry.procedure(entry.argument); });
    m_busy.fetch_sub(1);
  }
  m_live.fetch_sub(1);
}

ThreadPool* PreDownloadTbimgThreadPool::GetInstance() {
  static ThreadPool* pool = new ThreadPool(2);  // lives until the module unloads
  return pool;
}

}  // namespace vdcache
