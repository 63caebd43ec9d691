#include "engine/worker_pool.h"

#include <memory>
#include <mutex>
#include <utility>

namespace morvenit {

WorkerPool::~WorkerPool() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  task_ready_.notify_all();
  // A thread that a worker is starting joins the others first.
  thread_started_.wait(lock, [this] { return starting_ == 0; });
  lock.unlock();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Schedule(std::function<void()> task) {
  std::unique_lock lock(mutex_);
  tasks_.push_back(std::move(task));
  task_ready_.notify_one();
  // Only the first thread is started by a caller, which may be the window's thread: a start costs
  // Wine several trips to its server. The workers start the others.
  if (threads_.empty() && starting_ == 0 && !stopping_) StartThread(lock);
}

void WorkerPool::StartThread(std::unique_lock<Mutex>& lock) {
  ++starting_;
  ++arriving_;
  lock.unlock();
  std::thread thread(&WorkerPool::WorkLoop, this);
  lock.lock();
  threads_.push_back(std::move(thread));
  if (--starting_ == 0) thread_started_.notify_all();
}

void WorkerPool::WorkLoop() {
  std::unique_lock lock(mutex_);
  --arriving_;
  for (;;) {
    ++idle_;
    task_ready_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    --idle_;
    if (tasks_.empty()) return;  // stopping, and every task run
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    // One thread more while the cap allows, so that a thread is free for each task waiting and
    // for the next one scheduled: a task never waits for another to end.
    if (idle_ + arriving_ < tasks_.size() + 1 && threads_.size() + starting_ < most_threads_ &&
        !stopping_) {
      StartThread(lock);
    }
    lock.unlock();
    task();
    task = nullptr;  // what it holds goes before the lock is taken again
    lock.lock();
  }
}

void WorkerPool::ForEach(size_t count, size_t helpers, const std::function<void(size_t)>& work) {
  // Shared with helpers that may start only after every item is done: such a one finds none left
  // and never touches `work`.
  struct Items {
    Mutex mutex;
    ConditionVariable all_done;
    size_t next = 0;
    size_t done = 0;
  };
  const auto items = std::make_shared<Items>();
  auto take = [items, count, &work] {
    std::unique_lock lock(items->mutex);
    while (items->next < count) {
      const size_t item = items->next++;
      lock.unlock();
      work(item);
      lock.lock();
      if (++items->done == count) items->all_done.notify_all();
    }
  };
  for (size_t i = 0; i < helpers && i + 1 < count; ++i) Schedule(take);
  take();
  std::unique_lock lock(items->mutex);
  items->all_done.wait(lock, [&] { return items->done == count; });
}

}  // namespace morvenit
