#include "engine/worker_pool.h"

#include <memory>
#include <mutex>
#include <utility>

namespace morvenit {

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  task_ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Schedule(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  // A thread more only where the idle ones cannot take every task waiting. Once stopping, the
  // task that schedules takes it itself in turn.
  if (tasks_.size() > idle_ && threads_.size() < most_threads_ && !stopping_) {
    threads_.emplace_back(&WorkerPool::WorkLoop, this);
  }
  task_ready_.notify_one();
}

void WorkerPool::WorkLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    task_ready_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    --idle_;
    if (tasks_.empty()) return;  // stopping, and every task run
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
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
