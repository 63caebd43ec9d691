#include "engine/in_flight.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "engine/pattern.h"

namespace morvenit {

namespace {

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
  FlightWork work;
  // One batch at a time, and no flush while its names wait in their folders.
  if (state.scrubbing) return work;
  // Once a batch's deletes are done, its folders are flushed: a flush like any other, beside the
  // next files' flushes.
  work.flush_folders = state.settling > 0 && !state.folders_flushing;
  // While a batch waits, only its own files are flushed: a later file's flush would have the
  // file system commit the journal again while the batch's names are still there. The file
  // being written aside is a later file, and is flushed one flush at a time.
  const bool batch_waits = state.release > state.next_delete;
  work.flush_aside = state.writing_aside && !state.aside_flushing && !batch_waits;
  const uint64_t flush_end = batch_waits ? state.release : state.handed_over;
  if (state.next_flush < flush_end) {
    const uint64_t busy =
        state.flushing + (state.settling > 0) + (state.aside_flushing || work.flush_aside);
    work.flushes =
        std::min(flush_end - state.next_flush, most_flushing - std::min(busy, most_flushing));
    return work;
  }
  // Every file of the batch flushed, and no flush runs now: not theirs, not the last batch's
  // folders', not the file written aside's.
  if (batch_waits && state.flushing == 0 && state.settling == 0 && !state.aside_flushing) {
    work.batch = state.release - state.next_delete;
  }
  return work;
}

InFlight::~InFlight() {
  std::unique_lock lock(mutex_);
  // However the run ended, what was handed over goes.
  state_.release = state_.handed_over;
  StartWork();
  changed_.wait(
      lock, [this] { return state_.next_delete == state_.handed_over && state_.settling == 0; });
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
  ++taken_;
  return file;
}

void InFlight::WaitForOldest(int milliseconds) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return OldestDone(); });
}

uint64_t InFlight::WriteAside(OpenFile& file, uint64_t length, const std::function<void()>& wait) {
  const bool flush_meanwhile = kFlushToDevice && file.FlushesWhileWritten();
  // Set by the writer: `written` under the lock, once the other two are.
  bool written = false;
  uint64_t end = 0;
  std::optional<Failure> failure;
  std::unique_lock lock(mutex_);
  state_.writing_aside = flush_meanwhile;
  aside_ = &file;
  StartWork();
  pool_.Schedule([&] {
    try {
      end = WritePattern(file, 0, length, [] {});
    } catch (const Failure& write_failure) {
      failure = write_failure;
    }
    EndWork([&] {
      written = true;
      state_.writing_aside = false;
    });
  });
  // A flush that is still under way when the writes end goes on beside the file's own: both end
  // before its batch. A file that stays is closed by the caller: not while such a flush runs.
  while (!written || (failure && state_.aside_flushing)) {
    lock.unlock();
    wait();
    lock.lock();
  }
  if (failure) throw *failure;
  return end;
}

void InFlight::EndAside(const std::function<void()>& wait) {
  std::unique_lock lock(mutex_);
  while (state_.aside_flushing) {
    lock.unlock();
    wait();
    lock.lock();
  }
}

void InFlight::StartWork() {
  const FlightWork work = NextWork(state_, kMostFlushing);
  for (uint64_t i = 0; i < work.flushes; ++i) {
    File* file = &files_[state_.next_flush++ - taken_];
    ++state_.flushing;
    pool_.Schedule([this, file] { FlushOne(*file); });
  }
  if (work.batch > 0) {
    state_.scrubbing = true;
    pool_.Schedule([this, batch = Numbered(state_.next_delete, work.batch)] { RunBatch(batch); });
  }
  if (work.flush_folders) {
    state_.folders_flushing = true;
    pool_.Schedule([this, settling = Numbered(state_.next_delete - state_.settling,
                                              state_.settling)] { FlushFolders(settling); });
  }
  if (work.flush_aside) {
    state_.aside_flushing = true;
    pool_.Schedule([this, file = aside_] { FlushAsideOnce(*file); });
  }
}

std::vector<InFlight::File*> InFlight::Numbered(uint64_t first, uint64_t count) {
  std::vector<File*> files;
  for (uint64_t number = first; number < first + count; ++number) {
    files.push_back(&files_[number - taken_]);
  }
  return files;
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
  EndWork([&] {
    file.failure = failure;
    --state_.flushing;
  });
}

void InFlight::RunBatch(const std::vector<File*>& batch) {
  // A file whose flush failed stays, under its own name: its pattern may not be on the disk. A
  // file that would be renamed by a path that others can change could move another file in its
  // place: it keeps its name, and is only deleted.
  std::vector<Going> going;
  for (File* file : batch) {
    if (!file->failure) going.push_back({file, file->file->RenamesInPlace()});
  }
  // First every name to one of the same length, which overwrites it where it stands; then every
  // one to the shortest that is free. One of the two is enough.
  RenameAll(pool_, going, NewName::kSameLength);
  RenameAll(pool_, going, NewName::kShortest);
  DeleteInTurn(pool_, going);
  EndWork([&] {
    state_.scrubbing = false;
    state_.next_delete += batch.size();
    state_.settling = batch.size();
  });
}

void InFlight::FlushFolders(const std::vector<File*>& settling) {
  std::map<Text, std::vector<File*>> folders;  // the files deleted, by the folder they went from
  for (File* file : settling) {
    const Text& path = file->path;
    if (!file->failure) folders[path.substr(0, path.find_last_of(L"\\/") + 1)].push_back(file);
  }
  for (const auto& [folder, files] : folders) {
    try {
      if (kFlushToDevice) files.front()->file->FlushFolder();
    } catch (const Failure& failure) {
      for (File* file : files) file->folder_failure = failure;
      files.front()->reports_folder = true;
    }
  }
  EndWork([&] {
    state_.settling = 0;
    state_.folders_flushing = false;
  });
}

void InFlight::FlushAsideOnce(OpenFile& file) {
  try {
    file.Flush();
  } catch (const Failure&) {
    // Nothing is decided here: the flush after the last write decides whether the file goes.
  }
  EndWork([&] { state_.aside_flushing = false; });
}

}  // namespace morvenit
