// The run driver, the cancellable wait and start-up, against the fakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "startup/startup.h"
#include "tests/fakes/fake_env.h"

namespace morvenit {
namespace {

size_t IndexOf(const EventLog& log, const std::string& event) {
  return static_cast<size_t>(std::find(log.begin(), log.end(), event) - log.begin());
}

TEST(ProcessItems, ShredsNamedFilesFirstThenWalksTheLastNamedFolderFirst) {
  FakeRun f;
  f.env.AddFolder(L"C:\\A");
  f.env.AddFile(L"C:\\A\\a.txt", "a");
  f.env.AddFolder(L"C:\\B");
  f.env.AddFile(L"C:\\B\\b.txt", "b");
  f.env.AddFile(L"C:\\one.txt", "1");
  f.env.AddFile(L"C:\\two.txt", "2");

  ProcessItems(f.run, {L"C:\\A", L"C:\\one.txt", L"C:\\B", L"C:\\two.txt"});

  EXPECT_EQ(
      EventsNamed(f.log, "remove"),
      (std::vector<std::string>{"C:\\one.txt", "C:\\two.txt", "C:\\B\\b.txt", "C:\\A\\a.txt"}));
  EXPECT_TRUE(f.env.Exists(L"C:\\A") && f.env.Exists(L"C:\\B"));
  // The run closes: back to the start folder, caption cleared, the pause, the window hidden.
  const size_t enter = IndexOf(f.log, "current C:\\Program Files\\Morvenit");
  ASSERT_LT(enter, f.log.size());
  EXPECT_EQ(f.log[enter + 1], "caption ");
  EXPECT_EQ(f.log.back(), "window hidden");
  EXPECT_EQ(f.log.front(), "window shown");
  EXPECT_TRUE(f.env.messages.empty() && f.window.summaries.empty()) << "a run that left nothing";
}

TEST(ProcessItems, FilesOnlyNeverWalk) {
  FakeRun f;
  f.env.AddFile(L"C:\\one.txt", "1");
  ProcessItems(f.run, {L"C:\\one.txt"});
  EXPECT_TRUE(EventsNamed(f.log, "list").empty());
  EXPECT_FALSE(f.env.Exists(L"C:\\one.txt"));
}

TEST(ProcessItems, CancelStopsBeforeTheNextItemAndSkipsTheClose) {
  FakeRun f;
  f.env.AddFolder(L"C:\\A");
  f.env.AddFile(L"C:\\A\\a.txt", "a");
  f.env.AddFile(L"C:\\one.txt", "1");
  f.env.AddFile(L"C:\\two.txt", "2");
  // The user clicks Cancel while the first file is being overwritten.
  f.env.before = [&](const std::string& op, const Text&) {
    if (op == "write") f.window.check1 = 1;
  };

  ProcessItems(f.run, {L"C:\\A", L"C:\\one.txt", L"C:\\two.txt"});

  EXPECT_FALSE(f.env.Exists(L"C:\\one.txt")) << "a file once begun is finished";
  EXPECT_TRUE(f.env.Exists(L"C:\\two.txt"));
  EXPECT_TRUE(f.env.Exists(L"C:\\A\\a.txt")) << "gathered folders are not walked";
  EXPECT_TRUE(f.window.visible);
  EXPECT_EQ(f.window.caption, L"Morvenit");
  EXPECT_TRUE(EventsNamed(f.log, "list").empty());
}

TEST(ProcessItems, FailuresOutsideTheShredderEndTheRun) {
  {
    FakeRun f;
    try {
      ProcessItems(f.run, {});
      FAIL() << "an empty list must fail";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number, kFailSubscript);
      EXPECT_EQ(failure.description, L"Subscript out of range");
    }
    EXPECT_TRUE(f.window.visible) << "the window is shown before the failure";
  }
}

// A folder where files are left for every kind of reason, one twice, a subfolder that cannot be
// listed and one that vanished after the listing; one file vanishes too and one goes as it should.
struct LeavingRun : FakeRun {
  LeavingRun() {
    env.tick = 0.5;
    env.AddFolder(L"C:\\D");
    for (const wchar_t* name : {L"many 1", L"held", L"denied", L"gone", L"fine", L"cloud",
                                L"bad flush", L"many 2", L"growing"}) {
      env.AddFile(L"C:\\D\\" + Text(name), "secret");
    }
    env.At(L"C:\\D\\many 1").names = env.At(L"C:\\D\\many 2").names = 2;
    env.At(L"C:\\D\\cloud").attributes = kAttrReparsePoint | kAttrRecallOnDataAccess;
    env.At(L"C:\\D\\cloud").reparse_tag = kReparseTagCloud;
    env.At(L"C:\\D\\growing").grows = "another program's record";
    env.At(L"C:\\D\\growing").growths = -1;
    env.AddFolder(L"C:\\D\\locked");
    env.AddFile(L"C:\\D\\locked\\inside", "secret");
    env.AddFolder(L"C:\\D\\moved");
    env.before = [this](const std::string& op, const Text& path) {
      if (on_op) on_op(op, path);
      if (op == "reopen" && path == L"C:\\D\\held") throw HeldElsewhere();
      if (op == "open" && path == L"C:\\D\\denied") throw Failure{-5, L"Denied"};
      if (op == "open" && path == L"C:\\D\\gone") throw FileNotFound();
      if (op == "list" && path == L"C:\\D\\locked") throw AccessRefused();
      if (op == "enter" && path == L"C:\\D\\moved") throw FileNotFound();
    };
    env.during_flush = [this](const Text& path) {
      if (path != L"C:\\D\\bad flush") return;
      if (on_op) on_op("failing flush", path);
      throw Failure{-1, L"Not ready."};
    };
  }
  std::function<void(const std::string& op, const Text& path)> on_op;
};

TEST(ProcessItems, ARunThatLeftFilesSaysHowManyWhyAndWhichUnlessItWasCancelled) {
  const Text summary =
      L"7 files were not removed, and 2 folders could not be emptied:\n"
      L"\n1 file: Denied"
      L"\n1 file: Not ready."
      L"\n1 file, 1 folder: in use by another program, or access refused"
      L"\n2 files: more than one name (hard links)"
      L"\n1 file: data kept elsewhere or in a special way (online-only cloud files, deduplicated "
      L"or archived files)"
      L"\n1 file: kept growing while another program added to them"
      L"\n1 folder: moved or removed during the run; its files were not reached";
  const Text list =
      L"Denied:\n    C:\\D\\denied\nNot ready:\n    C:\\D\\bad flush\nIn use by another program, "
      L"or access refused:\n    C:\\D\\held\n    C:\\D\\locked\\\nMore than one name (hard "
      L"links):\n    C:\\D\\many 1\n    C:\\D\\many 2\nData kept elsewhere or in a special way "
      L"(online-only cloud files, deduplicated or archived files):\n    C:\\D\\cloud\nKept "
      L"growing while another program added to them:\n    C:\\D\\growing\nMoved or removed "
      L"during the run; its files were not reached:\n    C:\\D\\moved\\\n";
  enum class End { kFinished, kCancelledDuringTheWalk, kCancelledAtTheClose };
  for (const End end : {End::kFinished, End::kCancelledDuringTheWalk, End::kCancelledAtTheClose}) {
    LeavingRun f;
    f.on_op = [&](const std::string& op, const Text&) {
      // Cancel clicked as a file in flight fails: it is counted, and shown no more.
      if (end == End::kCancelledDuringTheWalk && op == "failing flush") f.window.check1 = 1;
      if (end == End::kCancelledAtTheClose && op == "current") f.window.check1 = 1;
    };
    // However it was cancelled, the closing pause ends the program.
    try {
      ProcessItems(f.run, {L"C:\\D"});
      EXPECT_EQ(end, End::kFinished);
    } catch (const EndProgram&) {
      EXPECT_NE(end, End::kFinished);
    }
    EXPECT_FALSE(f.env.Exists(L"C:\\D\\fine"));
    std::vector<Text> titles;
    for (const auto& message : f.env.messages) titles.push_back(message.second);
    if (end != End::kFinished) {
      EXPECT_TRUE(f.window.summaries.empty()) << static_cast<int>(end);
      EXPECT_EQ(f.run.left.at(-1).files == 1 && !std::count(titles.begin(), titles.end(), L"-1"),
                end == End::kCancelledDuringTheWalk);
      continue;
    }
    // Each number explained once, then the summary last of all.
    EXPECT_EQ(titles, (std::vector<Text>{L"1001", L"-5", L"1002", L"1015", L"-1", L"1008"}));
    EXPECT_EQ(f.window.summaries, (std::vector<std::pair<Text, Text>>{{summary, list}}));
    // Nothing but the closing pause after it.
    const size_t at = IndexOf(f.log, "summary " + Narrow(summary));
    ASSERT_LT(at + 2, f.log.size());
    EXPECT_EQ(f.log.back(), "window hidden");
    EXPECT_TRUE(std::all_of(f.log.begin() + at + 1, f.log.end() - 1,
                            [](const std::string& event) { return event == "pump"; }));
  }
}

// A shell handing the program selections: each Wait() gives the next of `selections`, each
// Take() (during a run) the next of `arrivals`, then none.
struct FakeShell : Selections {
  std::vector<ArgumentList> selections, arrivals;
  ArgumentList Wait() override { return Next(selections); }
  ArgumentList Take() override { return Next(arrivals); }
  static ArgumentList Next(std::vector<ArgumentList>& from) {
    if (from.empty()) return {};
    ArgumentList next = from.front();
    from.erase(from.begin());
    return next;
  }
};

TEST(Serve, PathsHandedOverThatDoNotSayWhereTheyStartAreRefusedByName) {
  FakeRun f;
  // What the current folder would make of them, were they read from it.
  for (const wchar_t* path : {L"relfile.txt", L"C:relfile.txt", L"\\relfile.txt", L"C:\\a.txt"}) {
    f.env.AddFile(path, "x");
  }
  FakeShell shell;
  shell.selections = {{L"relfile.txt", L"C:\\a.txt"}};
  shell.arrivals = {{L"C:relfile.txt", L"\\relfile.txt"}};
  Serve(f.env, f.window, shell);
  EXPECT_FALSE(f.env.Exists(L"C:\\a.txt"));
  EXPECT_TRUE(f.env.Exists(L"relfile.txt") && f.env.Exists(L"C:relfile.txt") &&
              f.env.Exists(L"\\relfile.txt"));
  ASSERT_EQ(f.window.summaries.size(), 1u);
  EXPECT_EQ(f.window.summaries[0].second,
            L"Handed over without a drive or share to start from (not full paths):\n    "
            L"relfile.txt\n    C:relfile.txt\n    \\relfile.txt\n");
}

TEST(Serve, AMissingNamedItemIsNamedInABoxAfterWalkedFilesVanished) {
  FakeRun f;
  f.env.AddFolder(L"C:\\D");
  f.env.AddFile(L"C:\\D\\gone", "x");
  f.env.before = [](const std::string& op, const Text& path) {
    if (op == "open" && path == L"C:\\D\\gone") throw FileNotFound();
  };
  FakeShell shell;
  shell.selections = {{L"C:\\D"}};
  shell.arrivals = {{L"C:\\missing.txt"}};
  Serve(f.env, f.window, shell);
  ASSERT_EQ(f.env.messages.size(), 1u) << "a walked file gone needs no box; a named one does";
  EXPECT_EQ(f.env.messages[0].first, L"File not found\n\nC:\\missing.txt");
}

TEST(CancellableWait, ZeroReturnsAtOnceWithoutPumping) {
  FakeRun f;
  f.env.tick = 0.001;
  CancellableWait(f.run, 0);
  EXPECT_TRUE(EventsNamed(f.log, "pump").empty());
}

TEST(CancellableWait, WaitsTheFullTimeWhilePumping) {
  FakeRun f;
  f.env.tick = 0.05;  // each clock read moves time on by 50 ms
  const double start = f.env.time_of_day;
  CancellableWait(f.run, 1000);
  const double waited = f.env.time_of_day - start;
  EXPECT_GE(waited, 1.0);
  EXPECT_LE(waited, 1.2);
  EXPECT_GE(EventsNamed(f.log, "pump").size(), 5u);
  EXPECT_EQ(f.window.check1_reads, static_cast<int>(EventsNamed(f.log, "pump").size()));
}

TEST(CancellableWait, PassingMidnightStartsTheWaitAgain) {
  FakeRun f;
  f.env.time_of_day = 86399.5;
  f.env.tick = 0.05;
  CancellableWait(f.run, 1000);
  // Half a second before midnight, then the full second again from just after it.
  EXPECT_GE(f.env.time_of_day, 1.0);
  EXPECT_LT(f.env.time_of_day, 1.3);
}

TEST(CancellableWait, CancelEndsTheProgramWithinOnePoll) {
  FakeRun f;
  f.env.tick = 0.01;
  int pumps = 0;
  f.env.on_pump = [&] {
    if (++pumps == 3) f.window.check1 = 1;
  };
  EXPECT_THROW(CancellableWait(f.run, 3000), EndProgram);
  EXPECT_EQ(pumps, 3);
}

TEST(Main, EmptyCommandLineShowsOnlyTheInformationWindow) {
  FakeRun f;
  f.env.command_line = L"\"C:\\Program Files\\Morvenit\\morvenit.exe\"";
  int splashes = 0;
  EXPECT_EQ(Main(f.env, f.window, [&] { ++splashes; }), kExitDone);
  EXPECT_EQ(splashes, 1);
  EXPECT_EQ(f.log, EventLog{"prepare"}) << "the process's modes set, and the engine never runs";
}

TEST(Main, AFailingInformationWindowEndsWithTheMessageBox) {
  FakeRun f;
  EXPECT_EQ(Main(f.env, f.window, [] { throw Failure{-5, L"No window"}; }), kExitFailure);
  ASSERT_EQ(f.env.messages.size(), 1u);
  EXPECT_EQ(f.env.messages[0].first, L"Error -5: No window");
}

TEST(Main, FailuresEndTheProgramWithAMessageBox) {
  FakeRun f;
  // A quote never closed swallows the only item.
  f.env.command_line = L"\"C:\\Program Files\\Morvenit\\morvenit.exe\" \"C:\\a";
  int splashes = 0;
  EXPECT_EQ(Main(f.env, f.window, [&] { ++splashes; }), kExitFailure);
  EXPECT_EQ(splashes, 0);
  ASSERT_EQ(f.env.messages.size(), 1u);
  EXPECT_EQ(f.env.messages[0].first, L"Error 9: Subscript out of range");
  EXPECT_EQ(f.env.messages[0].second, L"Morvenit");
}

TEST(Main, TheExitCodeSaysHowTheRunEnded) {
  struct Row {
    const wchar_t* arguments;
    bool cancel;  // Cancel clicked as the first file is written
    int code;
  };
  for (const Row& row : {Row{L"C:\\a.txt C:\\b.txt", false, kExitDone},
                         Row{L"C:\\a.txt C:\\missing.txt", false, kExitLeft},
                         Row{L"C:\\a.txt C:\\b.txt", true, kExitCancelled},
                         Row{L"\"C:\\a.txt", false, kExitFailure}}) {
    FakeRun f;
    f.env.AddFile(L"C:\\a.txt", "a");
    f.env.AddFile(L"C:\\b.txt", "b");
    f.env.before = [&](const std::string& op, const Text&) {
      if (op == "write" && row.cancel) f.window.check1 = 1;
    };
    f.env.command_line = L"morvenit.exe " + Text(row.arguments);
    EXPECT_EQ(Main(f.env, f.window, [] {}), row.code) << Narrow(row.arguments);
  }
  // Of several runs, the worst.
  FakeRun f;
  f.env.AddFile(L"C:\\a.txt", "a");
  FakeShell shell;
  shell.selections = {{L"C:\\missing.txt"}, {L"C:\\a.txt"}};
  EXPECT_EQ(Serve(f.env, f.window, shell), kExitLeft);
}

TEST(Main, RunsTheEngineOverTheSplitCommandLine) {
  FakeRun f;
  f.env.AddFile(L"C:\\a b.txt", "x");
  f.env.command_line = L"morvenit.exe \"C:\\a b.txt\"";
  EXPECT_EQ(Main(f.env, f.window, [] { FAIL(); }), kExitDone);
  EXPECT_FALSE(f.env.Exists(L"C:\\a b.txt"));
  EXPECT_EQ(f.log.back(), "window hidden");
}

}  // namespace
}  // namespace morvenit
