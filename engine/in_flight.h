// Files whose pattern is written and that wait for the storage device. Each is flushed on a worker
// thread, many at once (a file system commits concurrent flushes together), and then renamed and
// deleted, only once its own flush has succeeded, and deleted in the order the files were written.
// The renames and deletes go a batch at a time while no flush runs: every journal commit while a
// folder still holds names copies them once more. One worker leads each batch, and a few more
// share its work: under Wine every rename and delete waits for a trip to the Wine server.
// Another program may still add to a file (a Linux program under Wine takes no part in share
// modes): what it added by the flush is overwritten and flushed too, and a file that keeps growing,
// or grows again before its delete, stays under its name and is reported.
// The window's thread hands the files over and takes them back when they are done, in the same
// order, to report the ones that failed; no window is ever touched from a worker.
#ifndef MORVENIT_ENGINE_IN_FLIGHT_H_
#define MORVENIT_ENGINE_IN_FLIGHT_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/threads.h"

namespace morvenit {

class InFlight {
 public:
  // A file handed over, and what became of it.
  struct File {
    Text path;                                       // as the file display shows it
    std::unique_ptr<OpenFile> file;                  // written, not yet flushed
    uint64_t pattern_end = 0;                        // the length our writes left it
    std::vector<std::unique_ptr<Writable>> streams;  // its named data streams, written too
    FileInfo original;               // the attributes to give back if the file stays
    bool cleared = false;            // whether they were changed
    std::optional<Failure> failure;  // why it stays, once done
  };

  InFlight() = default;
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;
  // Waits for the workers to flush and delete every file handed over.
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

 private:
  struct Entry {
    uint64_t number;
    File file;
    bool flushed = false;  // its flush has returned (successfully unless `failure` is set)
  };

  void Flusher();
  void Deleter();
  void Helper();
  // Takes the names of the batch's files off the disk as far as renames can, then deletes them.
  void Scrub(const std::vector<Entry*>& batch);
  // Runs `work(i)` for every i below `count`, on this thread and the helpers, taking the i in
  // order; returns once all are done.
  void ShareOut(size_t count, const std::function<void(size_t)>& work);
  bool OldestDone() const { return !entries_.empty() && entries_.front()->number < next_delete_; }
  // Whether a flush may start: not while a batch is scrubbed, nor one beyond a batch that waits.
  bool MayFlush() const {
    return !to_flush_.empty() && !scrubbing_ &&
           (release_ <= next_delete_ || to_flush_.front()->number < release_);
  }
  Entry* Numbered(uint64_t number);

  Mutex mutex_;
  // One waiter each: a file to flush (any flusher), a batch to scrub (the deleter), the end.
  ConditionVariable to_flush_ready_;
  ConditionVariable to_scrub_ready_;
  ConditionVariable done_;                      // the oldest file may be done
  std::deque<std::shared_ptr<Entry>> entries_;  // in the order handed over
  std::deque<Entry*> to_flush_;
  uint64_t next_number_ = 0;
  uint64_t next_delete_ = 0;  // every file numbered below it is done
  uint64_t release_ = 0;      // files numbered below it may be renamed and deleted
  size_t flushers_ = 0;
  size_t idle_flushers_ = 0;
  size_t helpers_ = 0;
  size_t flushing_ = 0;     // flushes under way
  bool scrubbing_ = false;  // a batch is being renamed and deleted: no flush starts
  bool stopping_ = false;
  // The work the batch's leader shares out: items below `shared_count_`, the next one to take,
  // and how many are done.
  const std::function<void(size_t)>* shared_work_ = nullptr;
  size_t shared_count_ = 0;
  size_t shared_next_ = 0;
  size_t shared_done_ = 0;
  ConditionVariable shared_ready_;  // work to take, or the end
  ConditionVariable shared_over_;   // all of it done
  std::vector<std::thread> threads_;
};

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_IN_FLIGHT_H_
