// Files whose pattern is written and that wait for the storage device. Each is flushed on a worker
// thread, many at once (a file system commits concurrent flushes together), and then renamed and
// deleted. The renames and deletes go a batch at a time while no flush runs: every journal commit
// while a folder still holds names copies them once more. One worker leads each batch, and a few
// more share its work: under Wine every rename and delete waits for a trip to the Wine server.
// Another program may still write to a file (a Linux program under Wine takes no part in share
// modes): a file it changed by the flush is overwritten again and flushed too, and a file that
// keeps changing, or changes again before its delete, stays under its name and is reported. Once
// a batch's deletes are done, the folders they were in are flushed, so that they last.
//
// What it guarantees:
// 1. A file is renamed and deleted only after its own flush (its streams' too, changes covered)
//    returned without failure; one whose flush failed stays under its own name, and is given back
//    with that failure in its turn.
// 2. A batch is the files handed over before the latest Release(), all of them flushed. While its
//    renames and deletes run, no flush runs or starts; while it waits, no later file's flush
//    starts (a file being written aside is a later file). After its last delete, each folder its
//    files went from is flushed once (a flush like any other), and only then are its files done.
// 3. Deletes go in the order the files were handed over; TakeDone() gives them back in that order;
//    no worker touches a window (the window's thread takes the failures back and reports them).
// 4. Renames only where the file RenamesInPlace(); there, a file that no rename reached is left
//    under its name (NotRenamed()). A file changed since it was last overwritten is left under
//    its name (KeepsGrowing(), WrittenAfter()).
// 5. However a run ends, every file handed over is seen to the end: the destructor releases
//    everything and waits for the last batch before the workers are joined.
#ifndef MORVENIT_ENGINE_IN_FLIGHT_H_
#define MORVENIT_ENGINE_IN_FLIGHT_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "engine/scrub.h"
#include "engine/worker_pool.h"
#include "platform/env.h"
#include "platform/threads.h"

namespace morvenit {

// Where the files in flight stand, by the numbers they were given as they were handed over (0,
// 1, ...), and the file being written aside, which comes after all of them: what may start now
// follows from this alone.
struct FlightState {
  uint64_t handed_over = 0;  // every file numbered below it was handed over
  uint64_t next_flush = 0;   // the first file whose flush has not started
  uint64_t next_delete = 0;  // every file numbered below it is deleted, or stays
  uint64_t release = 0;      // files numbered below it may be renamed and deleted
  uint64_t flushing = 0;     // flushes of files under way
  bool scrubbing = false;    // a batch's renames and deletes are under way
  uint64_t settling = 0;     // the last batch's files, below `next_delete`, until their folders
                             // are flushed: only then are they done
  bool folders_flushing = false;  // the flush of those folders is under way
  bool writing_aside = false;     // a file is being written aside, and may be flushed meanwhile
  bool aside_flushing = false;    // a flush of it is under way
};

// What may start now: flushes of the files from `next_flush` on, or a batch of the files from
// `next_delete` on, never both; the flush of the settling files' folders; the next flush of the
// file being written aside.
struct FlightWork {
  uint64_t flushes = 0;
  uint64_t batch = 0;
  bool flush_folders = false;
  bool flush_aside = false;
  bool operator==(const FlightWork&) const = default;
};

// Decides what may start now, with at most `most_flushing` flushes at once.
FlightWork NextWork(const FlightState& state, uint64_t most_flushing);

class InFlight {
 public:
  // A file handed over, and what became of it.
  using File = FlightFile;

  InFlight() = default;
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;
  // Releases every file handed over, and waits until each is flushed and deleted, or failed.
  ~InFlight();

  // Hands over a written file: it is flushed and deleted in the background.
  void Add(File file);
  // Lets the files handed over so far be renamed and deleted as one batch. Until then they are
  // only flushed: names go a folder at a time, or when the window's thread has to wait.
  void Release();
  // How many files were handed over and not yet taken back.
  size_t Size();
  // Returns the oldest file once it is done (deleted, or failed), or nothing without waiting.
  std::optional<File> TakeDone();
  // Waits up to `milliseconds` for the oldest file to be done.
  void WaitForOldest(int milliseconds);
  // Writes the pattern over the first `length` bytes of a large file on a worker, and meanwhile
  // has the calling thread call `wait` (which never fails) over and over: it pumps the window's
  // messages and waits a few milliseconds for more, so that the window answers at once while the
  // system holds the writer back, as it may for long while it writes other files out. Where the
  // file allows it, flushes it meanwhile on another worker, so that the device writes while the
  // pattern goes on and the flush after the last write finds little left; such a flush waits, as
  // the next file's would, while a batch waits or runs. Returns where the pattern ends; raises what
  // a write raised.
  uint64_t WriteAside(OpenFile& file, uint64_t length, const std::function<void()>& wait);
  // Calls `wait` as WriteAside does until no flush of the file last written aside runs: a file
  // that stays after its writes aside is closed only then. Returns at once when none runs.
  void EndAside(const std::function<void()>& wait);

 private:
  // Starts on the workers what NextWork() allows now. REQUIRES: `mutex_` held.
  void StartWork();
  // The units of work, each on a worker. Each ends in EndWork(): no worker waits for work of its
  // own. A file's flush, with what another program changed in it meanwhile covered:
  void FlushOne(File& file);
  // The renames and deletes of a batch:
  void RunBatch(const std::vector<File*>& batch);
  // Each folder the settling files went from, once, so that their deletes last:
  void FlushFolders(const std::vector<File*>& settling);
  // One flush of the file being written aside:
  void FlushAsideOnce(OpenFile& file);
  // Records, under the lock, what a unit of work did (`record`), then starts what that allows
  // and wakes the waiters. REQUIRES: `mutex_` not held.
  template <typename Record>
  void EndWork(Record record) {
    std::lock_guard lock(mutex_);
    record();
    StartWork();
    changed_.notify_all();
  }
  // The `count` files from the one numbered `first` on. REQUIRES: `mutex_` held.
  std::vector<File*> Numbered(uint64_t first, uint64_t count);
  bool OldestDone() const { return taken_ < state_.next_delete - state_.settling; }

  // Enough flushes at once for the file system to commit them together; more only add threads. A
  // batch, which never runs beside a flush, takes fewer.
  static constexpr uint64_t kMostFlushing = 32;

  Mutex mutex_;                // guards every member below but the pool
  ConditionVariable changed_;  // the oldest file may be done, or the writes aside are over
  // The files not yet taken back, in the order handed over, from the one numbered `taken_` on. A
  // worker holds a file only from the work given to it, and the window's thread moves it out
  // only once it is done.
  std::deque<File> files_;
  uint64_t taken_ = 0;
  OpenFile* aside_ = nullptr;  // the file being written aside, while `state_.writing_aside`
  FlightState state_;
  WorkerPool pool_{kMostFlushing};  // last: its threads are joined before the rest goes
};

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_IN_FLIGHT_H_
