#include "engine/in_flight.h"

#include <map>

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
  to_flush_ready_.notify_all();
  to_scrub_ready_.notify_all();
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
  to_flush_ready_.notify_one();
}

void InFlight::Release() {
  {
    std::lock_guard lock(mutex_);
    release_ = next_number_;
  }
  to_scrub_ready_.notify_one();
  to_flush_ready_.notify_all();  // flushes held back behind the previous batch may start
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
    to_flush_ready_.wait(lock, [this] { return (stopping_ && to_flush_.empty()) || MayFlush(); });
    --idle_flushers_;
    if (to_flush_.empty()) return;  // stopping, and nothing left to flush
    Entry* entry = to_flush_.front();
    to_flush_.pop_front();
    ++flushing_;
    lock.unlock();
    std::optional<Failure> failure;
    try {
      for (const std::unique_ptr<Writable>& stream : entry->file.streams) {
        if (kFlushToDevice) stream->Flush();
        stream->Close();
      }
      if (kFlushToDevice) entry->file.file->Flush();
    } catch (const Failure& flush_failure) {
      failure = flush_failure;
    }
    lock.lock();
    --flushing_;
    entry->file.failure = failure;
    entry->flushed = true;
    to_scrub_ready_.notify_one();
  }
}

void InFlight::Deleter() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // Stopping releases everything.
    to_scrub_ready_.wait(lock, [&] {
      const Entry* next = Numbered(next_delete_);
      if (!next) return stopping_;
      // The whole batch flushed first, or it would be split by the commits of the flushes left.
      const bool flushes_left =
          !to_flush_.empty() && (stopping_ || to_flush_.front()->number < release_);
      return (next->number < release_ || stopping_) && next->flushed && flushing_ == 0 &&
             !flushes_left;
    });
    std::vector<Entry*> batch;
    for (Entry* next; (next = Numbered(next_delete_ + batch.size())) && next->flushed &&
                      (next->number < release_ || stopping_);) {
      batch.push_back(next);
    }
    if (batch.empty()) return;
    scrubbing_ = true;
    lock.unlock();
    Scrub(batch);
    lock.lock();
    scrubbing_ = false;
    next_delete_ += batch.size();
    done_.notify_all();
    to_flush_ready_.notify_all();
  }
}

namespace {

// Neutral names, from a running count: "0", "1", ... "z", "10", ... in base 36.
Text Base36(uint64_t count) {
  Text digits;
  do {
    digits.insert(digits.begin(), L"0123456789abcdefghijklmnopqrstuvwxyz"[count % 36]);
    count /= 36;
  } while (count > 0);
  return digits;
}

// Renames the file to the next neutral name that is free: padded with zeros to `length`, or as
// short as the count allows where `length` is 0. A rename never replaces anything, so a name taken
// costs only another try; a few tries, as a refusal for any other reason would fail them all.
bool RenameTo(OpenFile& file, size_t length, uint64_t& count) {
  for (int tries = 0; tries < 8; ++tries) {
    const Text digits = Base36(count++);
    if (length != 0 && digits.size() > length) return false;
    try {
      file.Rename(Text(length > digits.size() ? length - digits.size() : 0, L'0') + digits);
      return true;
    } catch (const Failure&) {
    }
  }
  return false;
}

}  // namespace

void InFlight::Scrub(const std::vector<Entry*>& batch) {
  // A file whose flush failed stays, under its own name: its pattern may not be on the disk.
  std::vector<Entry*> going;
  for (Entry* entry : batch) {
    if (!entry->file.failure) going.push_back(entry);
  }
  // First every name to one of the same length, which overwrites it where it stands; then every
  // one to the shortest that is free. A rename that fails leaves the name it has.
  std::vector<size_t> lengths;
  std::map<size_t, uint64_t> counts;  // the next neutral name to try, by length
  for (Entry* entry : going) {
    const Text& path = entry->file.path;
    const size_t length = path.size() - path.find_last_of(L"\\/") - 1;
    lengths.push_back(RenameTo(*entry->file.file, length, counts[length]) ? length : 0);
  }
  // Then the shortest free names: one character while they last, then two, and so on.
  uint64_t shortest = 0;
  for (size_t i = 0; i < going.size(); ++i) {
    if (lengths[i] != 1) RenameTo(*going[i]->file.file, 0, shortest);
  }
  for (Entry* entry : going) {
    try {
      entry->file.file->Delete();
    } catch (const Failure& failure) {
      entry->file.failure = failure;
      // A file that stays is reported by its name: give it back if nothing took it meanwhile.
      const Text& path = entry->file.path;
      try {
        entry->file.file->Rename(path.substr(path.find_last_of(L"\\/") + 1));
      } catch (const Failure&) {
      }
    }
  }
}

}  // namespace morvenit
