// Files in flight: flushed at once on workers, deleted in the order written and only after their
// own flush, failures reported in that order, and nothing written left behind however a run ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "engine/worker_pool.h"
#include "tests/fakes/fake_env.h"

namespace morvenit {

void PrintTo(const FlightWork& work, std::ostream* out) {
  *out << "{flushes " << work.flushes << ", batch " << work.batch
       << (work.flush_folders ? ", folders" : "") << (work.flush_aside ? ", aside" : "") << "}";
}

namespace {

using Events = std::vector<std::string>;
using namespace std::chrono_literals;

// What may start, from where the files in flight stand: one rule a TEST, a few rows each, as
// state -> work. Files are numbered as handed over; 32 flushes at most.
struct Files : FlightState {
  Files(uint64_t handed, uint64_t next_flush, uint64_t next_delete, uint64_t released,
        uint64_t flushes_running = 0)
      : FlightState{handed, next_flush, next_delete, released, flushes_running} {}
  Files& Scrubbing() {
    scrubbing = true;
    return *this;
  }
  // The last batch's `files`, deleted, their folders' flush under way or not.
  Files& Settling(uint64_t files, bool flushing) {
    settling = files;
    folders_flushing = flushing;
    return *this;
  }
  // A file written aside, a flush of it under way or not.
  Files& Aside(bool flushing) {
    writing_aside = true;
    aside_flushing = flushing;
    return *this;
  }
};
FlightWork Next(const FlightState& state) { return NextWork(state, 32); }

TEST(NextWork, FlushesStartAsFilesComeUpToTheMostAtOnce) {
  EXPECT_EQ(Next(Files(3, 0, 0, 0)), (FlightWork{.flushes = 3}));
  EXPECT_EQ(Next(Files(40, 30, 0, 0, 30)), (FlightWork{.flushes = 2}));
  // The folders' flush and the file written aside's count among them.
  EXPECT_EQ(Next(Files(40, 30, 4, 4, 29).Settling(4, true).Aside(true)), FlightWork{.flushes = 1});
}

TEST(NextWork, WhileABatchRunsNothingStarts) {
  EXPECT_EQ(Next(Files(9, 5, 0, 5).Scrubbing()), FlightWork{});
  EXPECT_EQ(Next(Files(9, 9, 5, 9).Scrubbing().Aside(false)), FlightWork{});
}

TEST(NextWork, WhileABatchWaitsOnlyItsOwnFilesAreFlushed) {
  EXPECT_EQ(Next(Files(9, 2, 0, 5, 2)), (FlightWork{.flushes = 3}));
  EXPECT_EQ(Next(Files(9, 5, 0, 5, 1)), FlightWork{});
  // The file written aside comes after every file handed over.
  EXPECT_EQ(Next(Files(5, 5, 0, 5, 1).Aside(false)), FlightWork{});
}

TEST(NextWork, ABatchStartsOnceItsFilesAreFlushedAndNoFlushRuns) {
  EXPECT_EQ(Next(Files(9, 5, 2, 5)), (FlightWork{.batch = 3}));
  EXPECT_EQ(Next(Files(9, 5, 2, 5).Aside(false)), (FlightWork{.batch = 3}));
  // Not beside the last batch's folders' flush, nor beside a flush of the file written aside.
  EXPECT_EQ(Next(Files(9, 5, 2, 5).Settling(2, true)), FlightWork{});
  EXPECT_EQ(Next(Files(9, 5, 2, 5).Aside(true)), FlightWork{});
}

TEST(NextWork, ABatchDoneHasItsFoldersFlushedOnceBesideTheNextFlushes) {
  EXPECT_EQ(Next(Files(9, 5, 5, 5).Settling(5, false)),
            (FlightWork{.flushes = 4, .flush_folders = true}));
  EXPECT_EQ(Next(Files(5, 5, 5, 5).Settling(5, true)), FlightWork{});
}

TEST(NextWork, TheFileWrittenAsideIsFlushedOneFlushAtATimeWhileNoBatchWaits) {
  EXPECT_EQ(Next(Files(0, 0, 0, 0).Aside(false)), FlightWork{.flush_aside = true});
  EXPECT_EQ(Next(Files(0, 0, 0, 0).Aside(true)), FlightWork{});
  EXPECT_EQ(Next(Files(5, 5, 5, 5).Settling(5, true).Aside(false)),
            FlightWork{.flush_aside = true});
}

// A folder of `count` small files, f0 ... f{count-1}, in that listing order.
struct Folder10 : FakeRun {
  std::vector<Text> files;
  explicit Folder10(int count = 10) {
    env.AddFolder(L"C:\\F");
    for (int i = 0; i < count; ++i) {
      files.push_back(L"C:\\F\\f" + std::to_wstring(i));
      env.AddFile(files.back(), "secret " + std::to_string(i));
    }
    env.tick = 0.5;  // failure waits pass quickly
  }
  Events Written() const {
    Events out;
    for (const Text& file : files) out.push_back(Narrow(file));
    return out;
  }
  size_t Index(const std::string& event) const {
    return static_cast<size_t>(std::find(log.begin(), log.end(), event) - log.begin());
  }
};

// Counts how many workers are inside a call at once. Each that enters waits (up to a second) until
// `wanted` have been inside together, so that overlap shows however the threads are scheduled.
struct Overlap {
  explicit Overlap(int wanted) : wanted(wanted) {}
  void Enter() {
    std::unique_lock lock(mutex);
    most = std::max(most, ++inside);
    changed.notify_all();
    changed.wait_for(lock, 1s, [&] { return most >= wanted; });
  }
  void Leave() {
    std::lock_guard lock(mutex);
    --inside;
  }
  const int wanted;
  std::mutex mutex;
  std::condition_variable changed;
  int inside = 0, most = 0;
};

// The pool under the files in flight: a spare thread takes a task scheduled while the others are
// busy, up to the most threads; a ForEach whose workers are all busy runs on the caller alone,
// each item once; and the end runs every task, a task's own included. Tasks wait for `go`.
TEST(WorkerPool, ASpareTakesANewTaskForEachNeverWaitsForBusyWorkersAndTheEndRunsEveryTask) {
  std::mutex mutex;
  std::condition_variable changed;
  bool go = false;
  int busy = 0, ran = 0;
  std::set<std::thread::id> workers;
  const auto busy_reaches = [&](int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 30s, [&] { return busy == count; });
  };
  std::vector<std::thread::id> items(5);
  {
    WorkerPool pool(2);
    const auto task = [&] {
      std::unique_lock lock(mutex);
      ++busy;
      changed.notify_all();
      changed.wait_for(lock, 30s, [&] { return go; });
      workers.insert(std::this_thread::get_id());
      ++ran;
    };
    pool.Schedule(task);
    EXPECT_TRUE(busy_reaches(1));
    pool.Schedule(task);
    EXPECT_TRUE(busy_reaches(2)) << "no spare thread took the second task";
    pool.Schedule(task);
    pool.ForEach(items.size(), 3, [&](size_t i) {
      EXPECT_EQ(items[i], std::thread::id()) << "item " << i << " ran twice";
      items[i] = std::this_thread::get_id();
    });
    {
      std::lock_guard lock(mutex);
      go = true;
    }
    changed.notify_all();
    pool.Schedule([&] { pool.Schedule(task); });
  }
  EXPECT_EQ(items, std::vector<std::thread::id>(5, std::this_thread::get_id()));
  EXPECT_EQ(ran, 4);
  EXPECT_EQ(workers.size(), 2u);
}

TEST(InFlight, RenamesAndDeletesAreSharedOutYetFilesGoInTheWritingOrder) {
  Folder10 f;
  // Two renames at once; the first files take longest to prepare for their deletes.
  Overlap renames(2);
  f.env.during_scrub = [&](const std::string& op, const Text& path) {
    if (op == "prepare") {
      std::this_thread::sleep_for(std::chrono::milliseconds(40 - 4 * (path.back() - L'0')));
      return;
    }
    renames.Enter();
    renames.Leave();
  };
  f.run.FolderStack.emplace_back(L"C:\\F");
  WalkFolders(f.run);
  FinishInFlight(f.run);

  EXPECT_GE(renames.most, 2) << "one worker renamed every file";
  EXPECT_EQ(EventsNamed(f.log, "remove"), f.Written());
  Events prepared = EventsNamed(f.log, "prepare");
  std::sort(prepared.begin(), prepared.end());
  EXPECT_EQ(prepared, f.Written()) << "not every file prepared once";
  for (const std::string& file : f.Written()) {
    EXPECT_LT(f.Index("prepare " + file), f.Index("remove " + file)) << file;
  }
  // Two neutral names each, none taken twice: no rename failed.
  EXPECT_EQ(EventsNamed(f.log, "rename").size(), 20u);
  EXPECT_TRUE(f.env.Entries(L"C:\\F").empty());
  EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "label2 shown"), 0);
}

// A large file is written on a worker while the window's thread pumps, and flushed meanwhile
// where the file allows it: its first write waits for such a flush.
TEST(InFlight, ALargeFileIsWrittenOnAWorkerAndFlushedMeanwhile) {
  FakeRun f;
  const Text big = L"C:\\big";
  f.env.AddFile(big, std::string(32 << 20, 'x'));
  f.env.At(big).flushes_while_written = true;
  std::atomic<bool> flushed{false};
  std::thread::id writer;
  int writes_after_a_flush = 0;
  f.env.during_flush = [&](const Text&) { flushed = true; };
  f.env.during_write = [&](const Text&) {
    if (writer == std::thread::id()) {
      writer = std::this_thread::get_id();
      for (int ms = 0; !flushed && ms < 10'000; ++ms) std::this_thread::sleep_for(1ms);
    }
    writes_after_a_flush += flushed;
  };
  f.env.on_pump = [] { std::this_thread::sleep_for(1ms); };  // as the window's thread waits
  ShredFile(f.run, big);
  FinishInFlight(f.run);

  EXPECT_NE(writer, std::this_thread::get_id()) << "written on the window's thread";
  EXPECT_GT(writes_after_a_flush, 0) << "no flush while the file was written";
  EXPECT_FALSE(f.env.Exists(big));
}

// A large file whose flush meanwhile outlasts its writes, and that then stays (its stream cannot
// be written): it is closed only once that flush is over, never under it.
TEST(InFlight, ALargeFileLeftAfterItsWritesIsClosedOnlyOnceItsFlushMeanwhileEnds) {
  FakeRun f;
  const Text big = L"C:\\big";
  f.env.AddFile(big, std::string(32 << 20, 'x'));
  f.env.At(big).flushes_while_written = true;
  f.env.At(big).streams[L"s"] = "stream";
  std::atomic<bool> left{false};
  f.env.during_flush = [&](const Text&) {
    while (!left) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
  };
  f.env.before = [&](const std::string& op, const Text&) {
    if (op == "stream-write") {
      left = true;
      throw AccessRefused();
    }
  };
  ShredFile(f.run, big);
  FinishInFlight(f.run);

  EXPECT_TRUE(f.env.Exists(big));
  const auto close = std::find(f.log.begin(), f.log.end(), "close " + Narrow(big));
  ASSERT_NE(close, f.log.end());
  EXPECT_EQ(std::find(close, f.log.end(), "flush " + Narrow(big)), f.log.end())
      << "flushed after it was closed";
}

TEST(InFlight, AFileRenamedOnlyByPathKeepsItsNameAndIsStillDeletedInItsTurn) {
  Folder10 f(4);
  f.env.At(L"C:\\F\\f1").renames_in_place = false;
  f.env.At(L"C:\\F\\f2").renames_in_place = false;
  std::mutex mutex;
  std::map<std::string, int> renames;  // by the name each file was given
  f.env.during_scrub = [&](const std::string& op, const Text& path) {
    std::lock_guard lock(mutex);
    if (op == "rename") ++renames[Narrow(path)];
  };
  // f2 stays: under the name it always had, with nothing to give back.
  f.env.before = [](const std::string& op, const Text& path) {
    if (op == "remove" && path == L"C:\\F\\f2") throw NotDeleted();
  };
  f.run.FolderStack.emplace_back(L"C:\\F");
  WalkFolders(f.run);
  FinishInFlight(f.run);

  EXPECT_EQ(renames, (std::map<std::string, int>{{"C:\\F\\f0", 2}, {"C:\\F\\f3", 2}}));
  EXPECT_EQ(EventsNamed(f.log, "remove"), f.Written());
  EXPECT_EQ(f.env.Entries(L"C:\\F").size(), 1u);
  EXPECT_TRUE(f.env.Exists(L"C:\\F\\f2"));
  ASSERT_EQ(f.env.messages.size(), 1u);
  EXPECT_EQ(f.env.messages[0].second, L"1005");
}

TEST(InFlight, AFailedFlushLeavesItsFileAsItWasAndIsReportedInItsTurn) {
  Folder10 f(4);
  f.env.At(L"C:\\F\\f1").attributes = kAttrReadOnly;
  f.env.during_flush = [](const Text& path) {
    if (path == L"C:\\F\\f1") throw Failure{-2147024873, L"Data error (cyclic redundancy check)."};
  };
  f.run.FolderStack.emplace_back(L"C:\\F");
  WalkFolders(f.run);
  FinishInFlight(f.run);

  EXPECT_EQ(EventsNamed(f.log, "remove"), (Events{"C:\\F\\f0", "C:\\F\\f2", "C:\\F\\f3"}));
  ASSERT_TRUE(f.env.Exists(L"C:\\F\\f1"));
  EXPECT_EQ(f.env.At(L"C:\\F\\f1").data.substr(0, 16), "................");
  EXPECT_EQ(f.env.At(L"C:\\F\\f1").attributes, kAttrReadOnly);
  // Its own display, its status and its box, after the file written before it went.
  ASSERT_EQ(f.env.messages.size(), 1u);
  EXPECT_EQ(f.env.messages[0].second, L"-2147024873");
  const size_t shown = f.Index("label2 shown");
  ASSERT_LT(shown, f.log.size());
  // (Workers log their flushes and deletes in between.)
  const auto display = std::find_if(f.log.rbegin() + (f.log.size() - shown), f.log.rend(),
                                    [](const std::string& e) { return e.rfind("text1", 0) == 0; });
  ASSERT_NE(display, f.log.rend());
  EXPECT_EQ(*display, "text1 ...C:\\F\\f1");
  const auto status = std::find_if(f.log.begin() + shown, f.log.end(), [](const std::string& e) {
    return e.rfind("label2 ", 0) == 0 && e != "label2 shown";
  });
  ASSERT_NE(status, f.log.end());
  EXPECT_EQ(*status, "label2 Unexpected file error");
}

// A folder whose flush fails after its batch (a device that fails) may bring its files back: the
// folder is reported, and each file by its path.
TEST(InFlight, AFailedFolderFlushReportsTheFolderAndEachFileWhoseDeleteMayNotLast) {
  Folder10 f(3);
  f.env.before = [](const std::string& op, const Text&) {
    if (op == "flush-folder") throw Failure{-2147024875, L"The device is not ready."};
  };
  f.run.FolderStack.emplace_back(L"C:\\F");
  WalkFolders(f.run);
  FinishInFlight(f.run);

  EXPECT_TRUE(f.env.Entries(L"C:\\F").empty());
  EXPECT_EQ(f.run.left[-2147024875].paths, std::vector<Text>{L"C:\\F\\"});
  EXPECT_EQ(f.run.left[kFailDeleteMayNotLast].paths, f.files);
}

// What another program adds to a file as its flush returns (a Linux program under Wine ignores
// share modes), or writes over it, has the whole file overwritten again and flushed, up to three
// times; a file longer again after that is left under its name and reported, with the attributes
// it had.
TEST(InFlight, WhatAnotherProgramAddsAfterAFlushIsCoveredOrTheFileIsLeft) {
  const std::string record(100, 'R');
  struct Case {
    int growths;   // -1: after every flush
    int covers;    // how often what was added is overwritten and flushed
    uint64_t end;  // where the pattern ends: "secret 1" and each record covered, rounded up
    bool left;
    bool in_place = false;  // written over its first bytes instead: only its times move
  } cases[] = {{0, 0, 68, false},  {1, 1, 204, false}, {1, 1, 68, false, true},
               {3, 3, 476, false}, {4, 3, 476, true},  {-1, 3, 476, true}};
  for (const Case& c : cases) {
    const std::string what =
        "growths " + std::to_string(c.growths) + (c.in_place ? " in place" : "");
    Folder10 f(3);
    const Text grown = f.files[1];
    f.env.At(grown).attributes = kAttrReadOnly;
    f.env.At(grown).grows = c.in_place ? "late" : record;
    f.env.At(grown).growths = c.growths;
    f.env.At(grown).grows_in_place = c.in_place;
    Events removed;  // each file's bytes as it goes, by then under a neutral name
    f.env.before = [&](const std::string& op, const Text& path) {
      if (op == "remove") removed.push_back(f.env.At(path).data);
    };
    f.run.FolderStack.emplace_back(L"C:\\F");
    WalkFolders(f.run);
    FinishInFlight(f.run);

    const std::string name = Narrow(grown);
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "flush " + name), 1 + c.covers) << what;
    if (!c.left) {
      EXPECT_FALSE(f.env.Exists(grown)) << what;
      ASSERT_EQ(removed.size(), 3u) << what;
      EXPECT_EQ(removed[1], Pattern(c.end)) << what;
      EXPECT_TRUE(f.env.messages.empty()) << what;
      EXPECT_EQ(EventsNamed(f.log, "remove"), f.Written()) << what;
      continue;
    }
    ASSERT_TRUE(f.env.Exists(grown)) << what;
    EXPECT_EQ(f.env.At(grown).data, Pattern(c.end) + record) << what;
    EXPECT_EQ(f.env.At(grown).attributes, kAttrReadOnly) << what;
    ASSERT_EQ(f.env.messages.size(), 1u) << what;
    EXPECT_EQ(f.env.messages[0].second, L"1008") << what;
    EXPECT_EQ(EventsNamed(f.log, "remove"), (Events{"C:\\F\\f0", "C:\\F\\f2"})) << what;
  }
}

// A file that grows, or is written to, again after its last flush, while the names of its batch
// go, may have what was written on the disk by then: it stays under its own name, reported, and
// the others still go.
TEST(InFlight, AFileChangedAgainBeforeItsDeleteIsLeftUnderItsName) {
  Folder10 f(4);
  const Text grown = f.files[1], written = f.files[2];
  std::map<Text, bool> added = {{grown, false}, {written, false}};
  f.env.during_scrub = [&](const std::string& op, const Text& path) {
    if (op == "rename" && added.count(path) && !std::exchange(added[path], true)) {
      if (path == grown) f.env.At(path).data += "late record";
      if (path == written) f.env.At(path).data.replace(10, 4, "late");
      f.env.At(path).write_time += path == written;  // a write in place shows in its times alone
    }
  };
  f.run.FolderStack.emplace_back(L"C:\\F");
  WalkFolders(f.run);
  FinishInFlight(f.run);

  EXPECT_EQ(f.env.At(grown).data, Pattern(68) + "late record");
  EXPECT_EQ(f.env.At(written).data, Pattern(68).replace(10, 4, "late"));
  EXPECT_EQ(EventsNamed(f.log, "remove"), (Events{"C:\\F\\f0", "C:\\F\\f3"}));
  ASSERT_EQ(f.env.messages.size(), 2u);
  EXPECT_EQ(f.env.messages[0].second, L"1008");
  EXPECT_EQ(f.env.messages[1].second, L"1021");
}

TEST(InFlight, CancelFinishesTheFilesWrittenAndStartsNoOther) {
  Folder10 f;
  std::atomic<int> flushed{0};
  f.env.during_flush = [&](const Text&) {
    std::this_thread::sleep_for(50ms);  // still in flight when the walk stops
    ++flushed;
  };
  f.env.before = [&](const std::string& op, const Text& path) {
    if (op == "write" && path == L"C:\\F\\f2") f.window.check1 = 1;
  };
  // As ever, the walk stops at its next entry and the closing pause ends the program.
  EXPECT_THROW(ProcessItems(f.run, {L"C:\\F"}), EndProgram);

  EXPECT_EQ(EventsNamed(f.log, "remove"), (Events{"C:\\F\\f0", "C:\\F\\f1", "C:\\F\\f2"}));
  EXPECT_EQ(flushed, 3);
  for (int i = 3; i < 10; ++i) EXPECT_EQ(f.env.At(f.files[i]).data, "secret " + std::to_string(i));
  EXPECT_EQ(EventsNamed(f.log, "open").size(), 3u) << "nothing after the cancel was opened";
}

TEST(InFlight, EveryWayARunEndsSeesTheFilesInFlightToTheEnd) {
  // A name that leads nowhere, reported while the files before it are in flight.
  {
    Folder10 f(3);
    f.env.during_flush = [](const Text&) { std::this_thread::sleep_for(30ms); };
    ProcessItems(f.run, {L"C:\\F\\f0", L"C:\\F\\f1", L"C:\\missing"});
    EXPECT_EQ(EventsNamed(f.log, "remove"), (Events{"C:\\F\\f0", "C:\\F\\f1"}));
  }
  // A cancel while a failure is shown: the files written after it still go.
  {
    Folder10 f(4);
    // The first file's flush fails once all four are written.
    f.env.during_flush = [](const Text& path) {
      std::this_thread::sleep_for(path == L"C:\\F\\f0" ? 300ms : 30ms);
      if (path == L"C:\\F\\f0") throw Failure{-1, L"Bad flush"};
    };
    f.env.on_pump = [&] {
      if (f.window.label2_visible) f.window.check1 = 1;
    };
    f.run.FolderStack.emplace_back(L"C:\\F");
    try {
      ProcessItems(f.run, {L"C:\\F"});
      ADD_FAILURE() << "the cancel did not end the run";
    } catch (const EndProgram&) {
    }
    EXPECT_EQ(EventsNamed(f.log, "remove"), (Events{"C:\\F\\f1", "C:\\F\\f2", "C:\\F\\f3"}));
    EXPECT_TRUE(f.env.Exists(L"C:\\F\\f0"));
  }
}

}  // namespace
}  // namespace morvenit
