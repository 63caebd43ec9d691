#include "platform/threads.h"
#include "platform/win32.h"

namespace morvenit {

namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

SRWLOCK* Srw(void*& state) { return reinterpret_cast<SRWLOCK*>(&state); }
CONDITION_VARIABLE* Condition(void*& state) {
  return reinterpret_cast<CONDITION_VARIABLE*>(&state);
}

}  // namespace

void Mutex::lock() { ::AcquireSRWLockExclusive(Srw(srw_)); }
void Mutex::unlock() { ::ReleaseSRWLockExclusive(Srw(srw_)); }

void ConditionVariable::notify_one() { ::WakeConditionVariable(Condition(condition_)); }
void ConditionVariable::notify_all() { ::WakeAllConditionVariable(Condition(condition_)); }

void ConditionVariable::Wait(std::unique_lock<Mutex>& lock, long milliseconds) {
  // A timeout or a spurious wake-up alike: the caller looks at its condition again.
  ::SleepConditionVariableSRW(Condition(condition_), Srw(lock.mutex()->srw_),
                              milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds), 0);
}

}  // namespace morvenit
