#include "engine/in_flight.h"

#include <map>

#include "engine/pattern.h"

namespace morvenit {

namespace {

// Enough flushes at once for the file system to commit them together; more only add threads.
constexpr size_t kMaxFlushers = 32;
// Workers beside each batch's leader for its renames and deletes. The calls mostly wait: for the
// Wine server, or for the folder.
constexpr size_t kScrubHelpers = 3;

// How often a file that grew after its flush is overwritten to its new end and flushed again
// before it is left as one that keeps growing.
constexpr int kGrowthCovers = 3;

#ifdef MORVENIT_TEST_WITHOUT_FLUSH
// A build for the forensic test only, proving that it catches a pattern left in the cache.
constexpr bool kFlushToDevice = false;
#else
constexpr bool kFlushToDevice = true;
#endif

// Overwrites what another program added to the file while it was written and flushed, from where
// the pattern stopped, and flushes that too; raises KeepsGrowing() when it is longer again after
// every try. The writes go at the file's own position, which is where the pattern stopped.
void CoverGrowth(InFlight::File& file) {
  for (int covers = 0;; ++covers) {
    const uint64_t length = file.file->Info().length;
    if (length <= file.pattern_end) return;
    if (covers == kGrowthCovers) throw KeepsGrowing();
    file.pattern_end = WritePattern(*file.file, file.pattern_end, length, [] {});
    if (kFlushToDevice) file.file->Flush();
  }
}

}  // namespace

InFlight::~InFlight() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  to_flush_ready_.notify_all();
  to_scrub_ready_.notify_all();
  shared_ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void InFlight::Add(File file) {
  std::lock_guard lock(mutex_);
  auto entry = std::make_shared<Entry>(Entry{next_number_++, std::move(file)});
  to_flush_.push_back(entry.get());
  entries_.push_back(std::move(entry));
  // Threads start as they are needed: one file at a time never costs more than two.
  if (threads_.empty()) threads_.emplace_back(&InFlight::Deleter, this);
  if (idle_flushers_ == 0 && flushers_ < kMaxFlushers) {
    threads_.emplace_back(&InFlight::Flusher, this);
    ++flushers_;
  }
  if (entries_.size() > 1 && helpers_ < kScrubHelpers) {
    threads_.emplace_back(&InFlight::Helper, this);
    ++helpers_;
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
      CoverGrowth(entry->file);
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

void InFlight::ShareOut(size_t count, const std::function<void(size_t)>& work) {
  std::unique_lock lock(mutex_);
  shared_work_ = &work;
  shared_count_ = count;
  shared_next_ = shared_done_ = 0;
  shared_ready_.notify_all();
  while (shared_next_ < shared_count_) {
    const size_t item = shared_next_++;
    lock.unlock();
    work(item);
    lock.lock();
    ++shared_done_;
  }
  shared_over_.wait(lock, [&] { return shared_done_ == shared_count_; });
  shared_work_ = nullptr;
}

void InFlight::Helper() {
  std::unique_lock lock(mutex_);
  for (;;) {
    shared_ready_.wait(lock, [this] { return stopping_ || shared_next_ < shared_count_; });
    if (shared_next_ >= shared_count_) return;  // stopping
    const size_t item = shared_next_++;
    const std::function<void(size_t)>& work = *shared_work_;  // kept until every item is done
    lock.unlock();
    work(item);
    lock.lock();
    if (++shared_done_ == shared_count_) shared_over_.notify_one();
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
// short as the count allows where `length` is 0; `next()` gives the count to try. A rename never
// replaces anything, so a name taken costs only another try; a few tries, as a refusal for any
// other reason would fail them all.
template <typename Next>
bool RenameTo(OpenFile& file, size_t length, Next next) {
  for (int tries = 0; tries < 8; ++tries) {
    const Text digits = Base36(next());
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
  // A file that would be renamed by a path that others can change could move another file in
  // its place: it keeps its name, and is only deleted.
  std::vector<char> renamed_in_place(going.size());
  for (size_t i = 0; i < going.size(); ++i) {
    renamed_in_place[i] = going[i]->file.file->RenamesInPlace();
  }
  // First every name to one of the same length, which overwrites it where it stands; then every
  // one to the shortest that is free. A rename that fails leaves the name it has.
  Mutex mutex;                        // over the counts, and the deletes' turn below
  std::map<size_t, uint64_t> counts;  // the next neutral name to try, by length
  std::vector<size_t> lengths(going.size());
  ShareOut(going.size(), [&](size_t i) {
    if (!renamed_in_place[i]) return;
    const Text& path = going[i]->file.path;
    const size_t length = path.size() - path.find_last_of(L"\\/") - 1;
    const bool renamed = RenameTo(*going[i]->file.file, length, [&] {
      std::lock_guard lock(mutex);
      return counts[length]++;
    });
    lengths[i] = renamed ? length : 0;
  });
  // Then the shortest free names: one character while they last, then two, and so on.
  uint64_t shortest = 0;
  ShareOut(going.size(), [&](size_t i) {
    if (!renamed_in_place[i] || lengths[i] == 1) return;
    RenameTo(*going[i]->file.file, 0, [&] {
      std::lock_guard lock(mutex);
      return shortest++;
    });
  });
  // What takes long before each delete goes on at once; the deletes themselves go in turn, in the
  // order the files were written.
  size_t turn = 0;
  ConditionVariable turn_taken;
  ShareOut(going.size(), [&](size_t i) {
    OpenFile& file = *going[i]->file.file;
    std::optional<Failure> failure;
    try {
      // Grown since it was last covered: what was added may be on the disk by now (its writer's
      // own flush), and covering it would flush while the batch's names wait in their folders.
      // What is added after this look and before the delete is not seen: Wine deletes a file as
      // its handle closes, and leaves no handle to look through afterwards.
      if (file.Info().length > going[i]->file.pattern_end) throw KeepsGrowing();
      file.PrepareDelete();
    } catch (const Failure& prepare_failure) {
      failure = prepare_failure;
    }
    std::unique_lock lock(mutex);
    turn_taken.wait(lock, [&] { return turn == i; });
    try {
      if (!failure) file.Delete();
    } catch (const Failure& delete_failure) {
      failure = delete_failure;
    }
    if (failure) going[i]->file.failure = failure;
    // A file that stays is reported by its name: give it back if nothing took it meanwhile.
    if (failure && renamed_in_place[i]) {
      const Text& path = going[i]->file.path;
      try {
        file.Rename(path.substr(path.find_last_of(L"\\/") + 1));
      } catch (const Failure&) {
      }
    }
    ++turn;
    turn_taken.notify_all();
  });
}

}  // namespace morvenit
