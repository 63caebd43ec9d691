#include "engine/in_flight.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "engine/pattern.h"

namespace morvenit {

namespace {

// Workers beside each batch's leader for its renames and deletes. The calls mostly wait: for the
// Wine server, or for the folder.
constexpr size_t kScrubHelpers = 3;

// How often a file that another program changed after its flush is overwritten again and flushed
// before it is left as one that keeps changing.
constexpr int kChangeCovers = 3;

#ifdef MORVENIT_TEST_WITHOUT_FLUSH
// A build for the forensic test only, proving that it catches a pattern left in the cache.
constexpr bool kFlushToDevice = false;
#else
constexpr bool kFlushToDevice = true;
#endif

// Overwrites the file again, and flushes it, where another program changed it since our last write:
// it grew, or its times moved. Where that program wrote cannot be told, so the pattern goes over
// the whole file again, to its new end. Raises KeepsGrowing() or WrittenAfter() when it changed
// again after every try.
void CoverChanges(InFlight::File& file) {
  for (int covers = 0;; ++covers) {
    const FileInfo now = file.file->Info();
    const bool grown = now.length > file.pattern_end;
    if (!grown && SameTimes(now, file.written)) return;
    if (covers == kChangeCovers) throw grown ? KeepsGrowing() : WrittenAfter();
    file.file->Rewind();
    file.pattern_end = WritePattern(*file.file, 0, now.length, [] {});
    file.written = file.file->Info();
    if (kFlushToDevice) file.file->Flush();
  }
}

}  // namespace

FlightWork NextWork(const FlightState& state, uint64_t most_flushing) {
  // One batch at a time, and no flush while its names wait in their folders.
  if (state.scrubbing) return {};
  // While a batch waits, only its own files are flushed: a later file's flush would have the
  // file system commit the journal again while the batch's names are still there.
  const bool batch_waits = state.release > state.next_delete;
  const uint64_t flush_end = batch_waits ? state.release : state.handed_over;
  if (state.next_flush < flush_end) {
    const uint64_t free = most_flushing - std::min(state.flushing, most_flushing);
    return {std::min(flush_end - state.next_flush, free), 0};
  }
  // Every file of the batch flushed: no flush runs now but theirs, which the batch waits for.
  if (batch_waits && state.flushing == 0) return {0, state.release - state.next_delete};
  return {};
}

bool MayFlushWritten(const FlightState& state) {
  // As a file handed over next would be: not while a batch waits or runs.
  return state.release <= state.next_delete;
}

InFlight::~InFlight() {
  std::unique_lock lock(mutex_);
  // However the run ended, what was handed over goes.
  state_.release = state_.handed_over;
  StartWork();
  changed_.wait(
      lock, [this] { return state_.next_delete == state_.handed_over && settling_files_ == 0; });
}

void InFlight::Add(File file) {
  std::lock_guard lock(mutex_);
  files_.push_back(std::move(file));
  ++state_.handed_over;
  StartWork();
}

void InFlight::Release() {
  std::lock_guard lock(mutex_);
  state_.release = state_.handed_over;
  StartWork();
}

size_t InFlight::Size() {
  std::lock_guard lock(mutex_);
  return files_.size();
}

std::optional<InFlight::File> InFlight::TakeDone() {
  std::lock_guard lock(mutex_);
  if (!OldestDone()) return std::nullopt;
  File file = std::move(files_.front());
  files_.pop_front();
  --done_files_;
  return file;
}

void InFlight::WaitForOldest(int milliseconds) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return OldestDone(); });
}

uint64_t InFlight::WriteAside(OpenFile& file, uint64_t length, const std::function<void()>& wait) {
  // Guarded by `mutex_`. Shared with the flushes meanwhile, which may outlast this call.
  struct Aside {
    uint64_t end = 0;
    std::optional<Failure> failure;
    bool written = false;   // the writes are over
    bool flushing = false;  // the flushes meanwhile are not
  };
  const auto aside = std::make_shared<Aside>();
  aside->flushing = kFlushToDevice && file.FlushesWhileWritten();
  pool_.Schedule([this, &file, length, aside] {
    uint64_t end = 0;
    std::optional<Failure> failure;
    try {
      end = WritePattern(file, 0, length, [] {});
    } catch (const Failure& write_failure) {
      failure = write_failure;
    }
    std::lock_guard lock(mutex_);
    aside->end = end;
    aside->failure = failure;
    aside->written = true;
    changed_.notify_all();
  });
  if (aside->flushing) {
    pool_.Schedule([this, &file, aside] {
      FlushWhileWritten(file, aside->written);
      std::lock_guard lock(mutex_);
      aside->flushing = false;
      changed_.notify_all();
    });
  }
  // A flush that is still under way when the writes end goes on beside the file's own: both end
  // before its batch. A file that stays is closed by the caller: not while such a flush runs.
  const auto over = [&] { return aside->written && (!aside->failure || !aside->flushing); };
  std::unique_lock lock(mutex_);
  while (!over()) {
    lock.unlock();
    wait();
    lock.lock();
  }
  if (aside->failure) throw *aside->failure;
  return aside->end;
}

void InFlight::FlushWhileWritten(OpenFile& file, const bool& written) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return written || MayFlushWritten(state_); });
    if (written) return;
    // Counted among the flushes under way: no batch starts meanwhile.
    ++state_.flushing;
    lock.unlock();
    try {
      file.Flush();
    } catch (const Failure&) {
      // Nothing is decided here: the flush after the last write decides whether the file goes.
    }
    lock.lock();
    --state_.flushing;
    StartWork();
  }
}

void InFlight::StartWork() {
  const FlightWork work = NextWork(state_, kMostFlushing);
  for (uint64_t i = 0; i < work.flushes; ++i) {
    File* file = &Numbered(state_.next_flush++);
    ++state_.flushing;
    pool_.Schedule([this, file] { FlushOne(*file); });
  }
  if (work.batch == 0) return;
  std::vector<File*> batch;
  for (uint64_t i = 0; i < work.batch; ++i) batch.push_back(&Numbered(state_.next_delete + i));
  state_.scrubbing = true;
  pool_.Schedule([this, batch = std::move(batch)] { ScrubBatch(batch); });
}

void InFlight::FlushOne(File& file) {
  std::optional<Failure> failure;
  try {
    for (const std::unique_ptr<Writable>& stream : file.streams) {
      if (kFlushToDevice) stream->Flush();
      stream->Close();
    }
    if (kFlushToDevice) file.file->Flush();
    CoverChanges(file);
  } catch (const Failure& flush_failure) {
    failure = flush_failure;
  }
  std::lock_guard lock(mutex_);
  file.failure = failure;
  --state_.flushing;
  StartWork();
}

void InFlight::ScrubBatch(const std::vector<File*>& batch) {
  Scrub(batch);
  // Then each folder a file went from, once, so that the deletes last. It is a flush like any
  // other: the next files' flushes may run beside it, the next batch waits for it. The batch's
  // files are done once it is.
  std::map<Text, File*> folders;
  for (File* file : batch) {
    const Text& path = file->path;
    if (!file->failure) folders[path.substr(0, path.find_last_of(L"\\/") + 1)] = file;
  }
  {
    std::lock_guard lock(mutex_);
    state_.scrubbing = false;
    state_.next_delete += batch.size();
    settling_files_ = batch.size();
    ++state_.flushing;
    changed_.notify_all();
    StartWork();
  }
  for (const auto& [folder, file] : folders) {
    try {
      if (kFlushToDevice) file->file->FlushFolder();
    } catch (const Failure& failure) {
      file->folder_failure = failure;
    }
  }
  std::lock_guard lock(mutex_);
  --state_.flushing;
  done_files_ += std::exchange(settling_files_, 0);
  changed_.notify_all();
  StartWork();
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

void InFlight::Scrub(const std::vector<File*>& batch) {
  // A file whose flush failed stays, under its own name: its pattern may not be on the disk.
  std::vector<File*> going;
  for (File* file : batch) {
    if (!file->failure) going.push_back(file);
  }
  // A file that would be renamed by a path that others can change could move another file in
  // its place: it keeps its name, and is only deleted.
  std::vector<char> renamed_in_place(going.size());
  for (size_t i = 0; i < going.size(); ++i) {
    renamed_in_place[i] = going[i]->file->RenamesInPlace();
  }
  // First every name to one of the same length, which overwrites it where it stands; then every
  // one to the shortest that is free. A rename that fails leaves the name it has; one of the two
  // is enough.
  Mutex mutex;                        // over the counts, and the deletes' turn below
  std::map<size_t, uint64_t> counts;  // the next neutral name to try, by length
  std::vector<char> renamed(going.size());
  const auto name_length = [](const Text& path) {
    return path.size() - path.find_last_of(L"\\/") - 1;
  };
  pool_.ForEach(going.size(), kScrubHelpers, [&](size_t i) {
    if (!renamed_in_place[i]) return;
    const size_t length = name_length(going[i]->path);
    renamed[i] = RenameTo(*going[i]->file, length, [&] {
      std::lock_guard lock(mutex);
      return counts[length]++;
    });
  });
  // Then the shortest free names: one character while they last, then two, and so on.
  uint64_t shortest = 0;
  pool_.ForEach(going.size(), kScrubHelpers, [&](size_t i) {
    if (!renamed_in_place[i] || (renamed[i] && name_length(going[i]->path) == 1)) return;
    if (RenameTo(*going[i]->file, 0, [&] {
          std::lock_guard lock(mutex);
          return shortest++;
        })) {
      renamed[i] = true;
    }
  });
  // What takes long before each delete goes on at once; the deletes themselves go in turn, in the
  // order the files were written.
  size_t turn = 0;
  ConditionVariable turn_taken;
  pool_.ForEach(going.size(), kScrubHelpers, [&](size_t i) {
    OpenFile& file = *going[i]->file;
    std::optional<Failure> failure;
    try {
      // Deleted under its own name, a file's name could stay readable on the disk.
      if (renamed_in_place[i] && !renamed[i]) throw NotRenamed();
      // Changed since it was last overwritten: what was written may be on the disk by now (its
      // writer's own flush), and covering it would flush while the batch's names wait in their
      // folders.
      const FileInfo now = file.Info();
      if (now.length > going[i]->pattern_end) throw KeepsGrowing();
      if (!SameTimes(now, going[i]->written)) throw WrittenAfter();
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
    if (failure) going[i]->failure = failure;
    // A file that stays is reported by its name: give it back if nothing took it meanwhile.
    if (failure && renamed[i]) {
      const Text& path = going[i]->path;
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
