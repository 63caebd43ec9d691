#include "engine/in_flight.h"

namespace morvenit {

namespace {

// Enough flushes at once for the file system to commit them together; more only add threads.
constexpr size_t kMaxFlushers = 32;

#ifdef MORVENIT_TEST_WITHOUT_FLUSH
// A build for the forensic test only, proving that it catches a pattern left in the cache.
constexpr bool kFlushToDevice = false;
#else
constexpr bool kFlushToDevice = true;
#endif

}  // namespace

InFlight::~InFlight() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void InFlight::Add(File file) {
  std::lock_guard lock(mutex_);
  auto entry = std::make_shared<Entry>(Entry{next_number_++, std::move(file)});
  to_flush_.push_back(entry.get());
  entries_.push_back(std::move(entry));
  // Threads start as they are needed: one file at a time never costs more than two.
  if (threads_.empty()) threads_.emplace_back(&InFlight::Deleter, this);
  if (idle_flushers_ == 0 && threads_.size() - 1 < kMaxFlushers) {
    threads_.emplace_back(&InFlight::Flusher, this);
  }
  work_.notify_all();
}

size_t InFlight::Size() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::optional<InFlight::File> InFlight::TakeDone() {
  std::lock_guard lock(mutex_);
  if (!OldestDone()) return std::nullopt;
  File file = std::move(entries_.front()->file);
  entries_.pop_front();
  return file;
}

void InFlight::WaitForOldest(int milliseconds) {
  std::unique_lock lock(mutex_);
  done_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return OldestDone(); });
}

InFlight::Entry* InFlight::Numbered(uint64_t number) {
  if (entries_.empty() || number < entries_.front()->number) return nullptr;
  const uint64_t index = number - entries_.front()->number;
  return index < entries_.size() ? entries_[index].get() : nullptr;
}

void InFlight::Flusher() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_flushers_;
    work_.wait(lock, [this] { return stopping_ || !to_flush_.empty(); });
    --idle_flushers_;
    if (to_flush_.empty()) return;  // stopping, and nothing left to flush
    Entry* entry = to_flush_.front();
    to_flush_.pop_front();
    lock.unlock();
    std::optional<Failure> failure;
    try {
      if (kFlushToDevice) entry->file.file->Flush();
    } catch (const Failure& flush_failure) {
      failure = flush_failure;
    }
    lock.lock();
    entry->file.failure = failure;
    entry->flushed = true;
    work_.notify_all();
  }
}

void InFlight::Deleter() {
  std::unique_lock lock(mutex_);
  for (;;) {
    Entry* entry = nullptr;
    work_.wait(lock, [&] {
      entry = Numbered(next_delete_);
      return (entry && entry->flushed) || (stopping_ && !entry);
    });
    if (!entry) return;
    // A file whose flush failed is not deleted: its pattern may not be on the disk.
    if (!entry->file.failure) {
      lock.unlock();
      std::optional<Failure> failure;
      try {
        entry->file.file->Delete();
      } catch (const Failure& delete_failure) {
        failure = delete_failure;
      }
      lock.lock();
      entry->file.failure = failure;
    }
    ++next_delete_;
    done_.notify_all();
  }
}

}  // namespace morvenit
