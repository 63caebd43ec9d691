// The lock and the condition the engine's workers share. Under MinGW the C++ library's own are
// built on kernel events, and Wine takes every wake-up through its server (about 60 us a trip);
// the system's slim reader/writer lock and condition variable wait in-process.
#ifndef MORVENIT_PLATFORM_THREADS_H_
#define MORVENIT_PLATFORM_THREADS_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace morvenit {

#ifdef _WIN32

// An exclusive lock (BasicLockable), over an SRWLOCK.
class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock();
  void unlock();

 private:
  friend class ConditionVariable;
  void* srw_ = nullptr;  // SRWLOCK_INIT
};

// A condition over a Mutex, as std::condition_variable over a std::mutex.
class ConditionVariable {
 public:
  ConditionVariable() = default;
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;
  void notify_one();
  void notify_all();
  // Waits until `ready()` holds.
  template <typename Predicate>
  void wait(std::unique_lock<Mutex>& lock, Predicate ready) {
    while (!ready()) Wait(lock, -1);
  }
  // Waits until `ready()` holds or `timeout` has passed; returns `ready()`.
  template <typename Rep, typename Period, typename Predicate>
  bool wait_for(std::unique_lock<Mutex>& lock, std::chrono::duration<Rep, Period> timeout,
                Predicate ready) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return ready();
      Wait(lock, static_cast<long>(left.count()));
    }
    return true;
  }

 private:
  // Releases the lock while it waits, up to `milliseconds` (-1: no limit).
  void Wait(std::unique_lock<Mutex>& lock, long milliseconds);
  void* condition_ = nullptr;  // CONDITION_VARIABLE_INIT
};

#else

using Mutex = std::mutex;
using ConditionVariable = std::condition_variable;

#endif

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_THREADS_H_
