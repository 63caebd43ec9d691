// A few worker threads that run the tasks handed to them. It knows nothing of the work: the files
// in flight decide what runs, and hand it over here.
#ifndef MORVENIT_ENGINE_WORKER_POOL_H_
#define MORVENIT_ENGINE_WORKER_POOL_H_

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/threads.h"

namespace morvenit {

// Thread-safe: every member is guarded by `mutex_`. Threads start as tasks need them, up to
// `most_threads`, one spare kept free for the next task, and stay until the pool is destroyed.
class WorkerPool {
 public:
  explicit WorkerPool(size_t most_threads) : most_threads_(most_threads) {}
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  // Runs every task scheduled, those its tasks schedule included, then joins the threads.
  ~WorkerPool();

  // Runs `task` on a worker, in the order scheduled once a worker is free. Any thread may call
  // it, a task too; not the destructor's.
  void Schedule(std::function<void()> task);
  // Runs `work(i)` once for every i below `count`, taking the i in order, on the calling thread
  // and up to `helpers` workers; returns once every call has returned. The caller takes items
  // too, so a pool whose workers are all busy never stalls it.
  void ForEach(size_t count, size_t helpers, const std::function<void(size_t)>& work);

 private:
  void WorkLoop();
  // Starts one more thread. REQUIRES: `lock` holds `mutex_`; it is released meanwhile.
  void StartThread(std::unique_lock<Mutex>& lock);

  const size_t most_threads_;
  Mutex mutex_;
  ConditionVariable task_ready_;      // a task to take, or the end
  ConditionVariable thread_started_;  // no thread is being started any more
  std::deque<std::function<void()>> tasks_;
  size_t idle_ = 0;      // threads waiting for a task
  size_t starting_ = 0;  // threads being started, not yet among `threads_`
  // Threads started that have not yet looked for a task. Not `starting_`: a thread may take its
  // first task before the one that started it is done, and is no spare then.
  size_t arriving_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_WORKER_POOL_H_
