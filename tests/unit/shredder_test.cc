// The file shredder, against the fakes (every failure path, the display, the pacing of pumps and
// flushes) and on real files of the platform the tests are built for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "engine/engine.h"
#include "tests/fakes/fake_env.h"

namespace morvenit {
namespace {

constexpr uint64_t kBlock = 68 * 16384;
constexpr uint64_t MiB = 1 << 20;

uint64_t Rounded(uint64_t length) { return (length + 67) / 68 * 68; }

// ---- Against the fakes ----------------------------------------------------------------------

const Text kFile = L"C:\\data\\letter.txt";

// A fake run whose clock moves half a second a read, so the three-second failure wait is short.
struct Shred : FakeRun {
  Shred() { env.tick = 0.5; }
  // The file's bytes as they were when it was deleted.
  std::string at_removal;
  void CatchRemoval() {
    env.before = [this](const std::string& op, const Text& path) {
      if (op == "remove" && env.Exists(path)) at_removal = env.At(path).data;
    };
  }
  size_t Count(const std::string& event) const { return std::count(log.begin(), log.end(), event); }
};

TEST(ShredFileTest, OverwritesFlushesClosesThenDeletes) {
  Shred s;
  s.env.AddFile(kFile, std::string(69, 'x'), kAttrReadOnly | kAttrHidden | kAttrSystem);
  s.CatchRemoval();
  s.env.on_pump = [&] { s.window.check1 = 1; };  // a cancel during the overwrite changes nothing
  s.env.micros = 1'000'000;                      // long after the last pump: one is due
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);

  EXPECT_EQ(s.at_removal, Pattern(136));  // two blocks: the file grew to 136 bytes
  EXPECT_FALSE(s.env.Exists(kFile));
  // The old 69 bytes are covered before the file grows past them.
  // Pumps go on while the flush and the delete run on workers; the one that matters comes once
  // the file is open, before its first byte is written.
  EventLog events;
  std::copy_if(s.log.begin(), s.log.end(), std::back_inserter(events),
               [](const std::string& event) { return event != "pump"; });
  EXPECT_EQ(events,
            (EventLog{"text1 ...C:\\data\\letter.txt", "label2 ", "open C:\\data\\letter.txt",
                      "info C:\\data\\letter.txt", "set-attributes C:\\data\\letter.txt 128",
                      "reopen C:\\data\\letter.txt", "write C:\\data\\letter.txt 69",
                      "write C:\\data\\letter.txt 67", "info C:\\data\\letter.txt",
                      "flush C:\\data\\letter.txt",
                      // Nothing was written to it meanwhile.
                      "info C:\\data\\letter.txt",
                      // The name goes too: one of the same length, then the shortest.
                      "rename C:\\data\\letter.txt 0000000000", "rename C:\\data\\0000000000 0",
                      // Still nothing added, now that it goes; then its folder, so that it lasts.
                      "info C:\\data\\0", "prepare C:\\data\\letter.txt",
                      "remove C:\\data\\letter.txt", "flush C:\\data\\"}));
  EXPECT_EQ(s.log[3], "pump");
}

TEST(ShredFileTest, EmptyFileIsOpenedClosedAndDeletedWithoutWrites) {
  Shred s;
  s.env.AddFile(kFile, "");
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);
  EXPECT_FALSE(s.env.Exists(kFile));
  EXPECT_EQ(EventsNamed(s.log, "write").size(), 0u);
  EXPECT_EQ(EventsNamed(s.log, "set-attributes").size(), 0u) << "only read-only is in the way";
  EXPECT_EQ(EventsNamed(s.log, "remove"), std::vector<std::string>{"C:\\data\\letter.txt"});
}

TEST(ShredFileTest, CancelBeforeTheCallLeavesFileAndDisplayAlone) {
  Shred s;
  s.env.AddFile(kFile, "keep");
  s.window.text1 = L"...previous.txt";
  s.window.check1 = 1;
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);
  EXPECT_TRUE(s.log.empty());
  EXPECT_EQ(s.window.text1, L"...previous.txt");
  EXPECT_EQ(s.env.At(kFile).data, "keep");
}

TEST(ShredFileTest, DisplayShowsTheTailOfThePathAsReceived) {
  struct Case {
    Text path, display;
  } cases[] = {
      {L"C:\\a.txt", L"...C:\\a.txt"},
      {L"C:\\exactly-thirty-characters.t", L"...C:\\exactly-thirty-characters.t"},
      {L"C:\\Users\\Someone\\Documents\\quarterly report.doc",
       L"...Documents\\quarterly report.doc"},
      // Quotes are shown as received; they only go before the file is looked up.
      {L"\"C:\\d\\a b.txt\"", L"...\"C:\\d\\a b.txt\""},
      {L"\"C:\\Users\\Someone\\Documents\\q report.doc\"", L"...omeone\\Documents\\q report.doc\""},
      // A character beyond the 16-bit range counts once and is never cut in half.
      {L"C:\\folder\\name\\\U0001F600abcdefghijklmnopqrstuvwxyz.ab",
       L"...\U0001F600abcdefghijklmnopqrstuvwxyz.ab"},
  };
  for (const Case& c : cases) {
    Shred s;
    Text bare = c.path;
    std::erase(bare, L'"');
    s.env.AddFile(bare, "x");
    ShredFile(s.run, c.path);
    FinishInFlight(s.run);
    EXPECT_EQ(s.window.text1, c.display) << Narrow(c.path);
    EXPECT_FALSE(s.env.Exists(bare)) << Narrow(c.path);
    EXPECT_FALSE(s.window.label2_visible);
  }
}

// What every failure shares: the status line shown with its text, a three-second wait that keeps
// the window alive, the line hidden again, and no file left for a destructor to close.
void ExpectReported(const Shred& s, const std::string& status) {
  const auto shown = std::find(s.log.begin(), s.log.end(), "label2 shown");
  ASSERT_NE(shown, s.log.end());
  EXPECT_EQ(*std::next(shown), "label2 " + status);
  EXPECT_EQ(s.log.back(), "label2 hidden");
  EXPECT_GE(std::count(shown, s.log.end(), "pump"), 2);
  EXPECT_GE(s.env.time_of_day - 36000.0, 3.0);
  EXPECT_FALSE(s.window.label2_visible);
  EXPECT_EQ(s.Count("close C:\\data\\letter.txt (discarded)"), 0u);
}

TEST(ShredFileTest, MissingFileIsReportedAsNotFound) {
  Shred s;
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);
  ExpectReported(s, "File not found");
  EXPECT_TRUE(s.env.messages.empty());
}

TEST(ShredFileTest, RefusedAccessIsReportedAndFileKeptWithItsAttributes) {
  struct Case {
    std::string refused;
    bool busy;  // another program holds the file, rather than access being refused
    int tries;
    bool explained = false;  // a held file was reported before: one short try more
  } cases[] = {
      {"open", false, 1},   {"set-attributes", false, 1}, {"reopen", false, 1},
      {"remove", false, 1}, {"reopen", true, 5},          {"reopen", true, 2, true},
  };
  for (const Case& c : cases) {
    Shred s;
    if (c.explained) s.run.failures_explained.insert(kFailAccess);
    s.env.AddFile(kFile, "secret", kAttrReadOnly | kAttrHidden);
    int tries = 0;
    s.env.before = [&](const std::string& op, const Text&) {
      if (op == c.refused && ++tries) throw c.busy ? HeldElsewhere() : AccessRefused();
    };
    ShredFile(s.run, kFile);
    FinishInFlight(s.run);
    const std::string what = c.refused + (c.busy ? " (busy)" : "");
    if (!c.explained) ExpectReported(s, "Processing folder");
    EXPECT_TRUE(s.env.messages.empty());
    ASSERT_TRUE(s.env.Exists(kFile)) << what;
    // Nothing is undone: a refused delete leaves the pattern that was already written.
    EXPECT_EQ(s.env.At(kFile).data, c.refused == "remove" ? Pattern(68) : "secret") << what;
    // Only a file held open by another program is worth trying again.
    EXPECT_EQ(tries, c.tries) << what;
    if (c.refused != "set-attributes") {
      EXPECT_EQ(s.env.At(kFile).attributes, kAttrReadOnly | kAttrHidden) << what;
    }
  }
}

TEST(ShredFileTest, AFileHeldForAMomentIsShreddedOnALaterTry) {
  Shred s;
  s.env.AddFile(kFile, "secret");
  int refusals = 2;
  s.env.before = [&](const std::string& op, const Text&) {
    if (op == "reopen" && refusals-- > 0) throw HeldElsewhere();
  };
  s.env.micros = 1;
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);
  EXPECT_FALSE(s.env.Exists(kFile));
  EXPECT_FALSE(s.window.label2_visible);
  EXPECT_GE(s.env.micros, 150'000u) << "waited 50 and 100 ms between the tries";
  EXPECT_GE(s.Count("pump"), 10u) << "the window kept its messages while waiting";
}

TEST(ShredFileTest, AFileWithAnotherNameIsLeftWhole) {
  Shred s;
  s.env.AddFile(kFile, "shared data", kAttrReadOnly);
  s.env.At(kFile).names = 2;
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);
  ExpectReported(s, "Unexpected file error");
  ASSERT_EQ(s.env.messages.size(), 1u);
  EXPECT_EQ(s.env.messages[0].second, L"1001");
  EXPECT_NE(s.env.messages[0].first.find(L"2 names"), Text::npos);
  EXPECT_EQ(s.env.At(kFile).data, "shared data");
  EXPECT_EQ(s.env.At(kFile).attributes, kAttrReadOnly);
  EXPECT_EQ(s.Count("set-attributes C:\\data\\letter.txt 128"), 0u);
}

TEST(ShredFileTest, DiskFullMidWriteKeepsTheBlocksWrittenAndTheFile) {
  Shred s;
  const uint64_t length = 3 * kBlock;
  s.env.AddFile(kFile, std::string(length, 'x'));
  s.env.disk_free = kBlock + 100;
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);

  ExpectReported(s, "Unexpected file error");
  ASSERT_EQ(s.env.messages.size(), 1u);
  EXPECT_EQ(s.env.messages[0].first, L"There is not enough space on the disk.");
  EXPECT_EQ(s.env.messages[0].second, L"-2147024784");
  ASSERT_TRUE(s.env.Exists(kFile));
  EXPECT_EQ(s.env.At(kFile).data, Pattern(kBlock + 100) + std::string(length - kBlock - 100, 'x'));
  EXPECT_EQ(s.Count("close C:\\data\\letter.txt"), 1u);
}

TEST(ShredFileTest, FailedFlushOrDeleteLeavesTheFileUndeleted) {
  for (const std::string failing : {"flush", "remove"}) {
    Shred s;
    s.env.AddFile(kFile, "secret");
    s.env.before = [&](const std::string& op, const Text&) {
      if (op == failing) throw Failure{-2147024873, L"Data error (cyclic redundancy check)."};
    };
    ShredFile(s.run, kFile);
    FinishInFlight(s.run);
    ExpectReported(s, "Unexpected file error");
    EXPECT_TRUE(s.env.Exists(kFile)) << failing;
    EXPECT_EQ(s.env.messages.at(0).second, L"-2147024873");
    EXPECT_EQ(s.Count("close C:\\data\\letter.txt"), 1u) << failing;  // closed once, not twice
  }
}

// ---- Failures at scale: one box and one wait for each number ----------------------------------

TEST(ShredFileTest, EachFailureNumberIsExplainedOnceARun) {
  Shred s;
  struct Case {
    const wchar_t* name;
    const wchar_t* box;  // its title, or none: the status line alone
    const wchar_t* status;
    bool waits;
  } cases[] = {
      {L"many 1", L"1001", L"Unexpected file error", true},
      {L"many 2", nullptr, L"Unexpected file error", false},
      {L"denied 1", L"-5", L"Unexpected file error", true},
      {L"cloud 1", L"1002", L"Unexpected file error", true},
      {L"many 3", nullptr, L"Unexpected file error", false},
      {L"denied 2", nullptr, L"Unexpected file error", false},
      {L"gone 1", nullptr, L"File not found", true},
      {L"gone 2", nullptr, L"File not found", false},
      {L"cloud 2", nullptr, L"Unexpected file error", false},
  };
  for (const Case& c : cases) {
    const Text path = L"C:\\data\\" + Text(c.name);
    if (path.find(L"gone") == Text::npos) s.env.AddFile(path, "kept");
    if (path.find(L"many") != Text::npos) s.env.At(path).names = 2;
    if (path.find(L"cloud") != Text::npos) {
      s.env.At(path).attributes = kAttrReparsePoint | kAttrRecallOnDataAccess;
      s.env.At(path).reparse_tag = kReparseTagCloud;
    }
  }
  s.env.before = [](const std::string& op, const Text& path) {
    if (op == "open" && path.find(L"denied") != Text::npos) throw Failure{-5, L"Denied"};
  };
  for (const Case& c : cases) {
    const std::string name = Narrow(c.name);
    const size_t boxes = s.env.messages.size();
    const double start = s.env.time_of_day;
    ShredFile(s.run, L"C:\\data\\" + Text(c.name));
    EXPECT_EQ(s.window.text1, L"...C:\\data\\" + Text(c.name)) << name;
    EXPECT_EQ(s.window.label2, c.status) << name;
    ASSERT_EQ(s.env.messages.size(), boxes + (c.box ? 1 : 0)) << name;
    if (c.box) {
      EXPECT_EQ(s.env.messages.back().second, c.box) << name;
    }
    if (c.waits) {
      EXPECT_GE(s.env.time_of_day - start, 3.0) << name;
    } else {
      EXPECT_EQ(s.env.time_of_day, start) << name;
    }
    // Without its wait the status line stays until the next file is shown.
    EXPECT_EQ(s.window.label2_visible, !c.waits) << name;
  }
  s.env.AddFile(kFile, "plain");
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);
  EXPECT_FALSE(s.env.Exists(kFile));
  EXPECT_FALSE(s.window.label2_visible);
  const size_t shown =
      std::find(s.log.begin(), s.log.end(), "text1 ..." + Narrow(kFile)) - s.log.begin();
  ASSERT_LT(shown + 1, s.log.size());
  EXPECT_EQ(s.log[shown + 1], "label2 hidden");
}

// ---- Nothing left to find: named data streams and the name itself -----------------------------

TEST(ShredFileTest, EveryNamedStreamIsOverwrittenAndFlushedBeforeTheDelete) {
  Shred s;
  s.env.AddFile(kFile, "main");
  s.env.At(kFile).streams = {{L"Zone.Identifier", "[ZoneTransfer] HostUrl=http://secret"},
                             {L"notes", std::string(69, 'n')}};
  std::map<Text, std::string> at_removal;
  s.env.before = [&](const std::string& op, const Text& path) {
    if (op == "remove") at_removal = s.env.At(path).streams;
  };
  ShredFile(s.run, kFile);
  FinishInFlight(s.run);

  EXPECT_FALSE(s.env.Exists(kFile));
  EXPECT_EQ(at_removal[L"Zone.Identifier"], Pattern(68));
  EXPECT_EQ(at_removal[L"notes"], Pattern(136));
  const size_t removed =
      std::find(s.log.begin(), s.log.end(), "remove " + Narrow(kFile)) - s.log.begin();
  for (const std::string stream : {"Zone.Identifier", "notes"}) {
    const std::string flush = "flush " + Narrow(kFile) + ":" + stream;
    EXPECT_LT(std::find(s.log.begin(), s.log.end(), flush) - s.log.begin(), removed) << stream;
  }
}

TEST(ShredFileTest, AStreamThatCannotBeOverwrittenKeepsTheFile) {
  const Failure denied{-2147024891, L"Access is denied."};
  struct Case {
    std::string failing;
    Failure failure;
    std::string status;
    bool untouched;  // every stream is opened before the first byte is written
  } cases[] = {
      // Another program holds the last stream (a browser its Zone.Identifier).
      {"stream-open", HeldElsewhere(), "Processing folder", true},
      {"stream-open", denied, "Unexpected file error", true},
      {"stream-write", denied, "Unexpected file error", false},
      {"stream-flush", denied, "Unexpected file error", false},
  };
  for (const Case& c : cases) {
    Shred s;
    s.env.AddFile(kFile, "main", kAttrReadOnly);
    s.env.At(kFile).streams = {{L"a", "first stream"}, {L"z", "hidden data"}};
    s.env.before = [&](const std::string& op, const Text& path) {
      if (op == c.failing && (op != "stream-open" || path == kFile + L":z")) throw c.failure;
    };
    ShredFile(s.run, kFile);
    FinishInFlight(s.run);
    ExpectReported(s, c.status);
    ASSERT_TRUE(s.env.Exists(kFile)) << c.failing;
    EXPECT_EQ(s.env.At(kFile).attributes, kAttrReadOnly) << c.failing;
    if (c.untouched) {
      EXPECT_EQ(EventsNamed(s.log, "write"), std::vector<std::string>{}) << c.failing;
      EXPECT_EQ(s.env.At(kFile).data, "main");
      EXPECT_EQ(s.env.At(kFile).streams.at(L"a"), "first stream");
    }
  }
}

TEST(ShredFileTest, ANeutralNameTakenIsNeverReplacedAndAFileNoRenameReachesStays) {
  {
    Shred s;
    s.env.AddFile(kFile, "secret");
    s.env.AddFile(L"C:\\data\\0000000000", "someone else's");  // as long as "letter.txt"
    s.env.AddFile(L"C:\\data\\0", "mine too");
    ShredFile(s.run, kFile);
    FinishInFlight(s.run);
    EXPECT_FALSE(s.env.Exists(kFile));
    EXPECT_EQ(s.env.At(L"C:\\data\\0000000000").data, "someone else's");
    EXPECT_EQ(s.env.At(L"C:\\data\\0").data, "mine too");
    EXPECT_EQ(EventsNamed(s.log, "remove"), std::vector<std::string>{Narrow(kFile)});
    EXPECT_FALSE(s.env.Exists(L"C:\\data\\1111111111")) << "renamed to a free name, then on";
  }
  {
    Shred s;
    s.env.AddFile(kFile, "secret");
    s.env.before = [](const std::string& op, const Text&) {
      if (op == "rename") throw Failure{-2147024891, L"Access is denied."};
    };
    ShredFile(s.run, kFile);
    FinishInFlight(s.run);
    ExpectReported(s, "Unexpected file error");
    EXPECT_EQ(s.env.At(kFile).data, Pattern(68));
    ASSERT_EQ(s.env.messages.size(), 1u);
    EXPECT_EQ(s.env.messages[0].second, L"1020");
  }
}

TEST(ShredFileTest, CancelDuringTheFailureWaitEndsTheProgram) {
  Shred s;
  s.env.on_pump = [&] { s.window.check1 = 1; };
  EXPECT_THROW(ShredFile(s.run, kFile), EndProgram);
  EXPECT_TRUE(s.window.label2_visible);
}

// ---- Reparse points: cloud files, links, and data kept elsewhere ------------------------------

// Shreds kFile as the user named it, or as its folder's walk meets it.
void ShredNamedOrWalked(Shred& s, bool walked) {
  if (walked) {
    s.run.FolderStack.emplace_back(L"C:\\data");
    WalkFolders(s.run);
  } else {
    ShredFile(s.run, kFile);
  }
  FinishInFlight(s.run);
}

TEST(ShredFileTest, ACloudFileWhollyOnTheDiskIsShreddedOtherReparsePointsAreRefused) {
  struct Case {
    const char* what;
    uint32_t attributes;
    uint32_t tag;
    bool shredded;
  } cases[] = {
      {"kept on this device", kAttrReparsePoint | kAttrArchive, kReparseTagCloud, true},
      {"another provider's", kAttrReparsePoint, 0x9000701A, true},
      {"online-only", kAttrReparsePoint | kAttrRecallOnDataAccess, kReparseTagCloud, false},
      {"fetched when opened", kAttrReparsePoint | kAttrRecallOnOpen, kReparseTagCloud, false},
      {"offline", kAttrReparsePoint | kAttrOffline, kReparseTagCloud, false},
      {"deduplicated", kAttrReparsePoint, kReparseTagDedup, false},
  };
  for (const Case& c : cases) {
    for (const bool walked : {false, true}) {
      const std::string what = std::string(c.what) + (walked ? ", walked" : ", named");
      Shred s;
      s.env.AddFolder(L"C:\\data");
      s.env.AddFile(kFile, "cloud data", c.attributes);
      s.env.At(kFile).reparse_tag = c.tag;
      ShredNamedOrWalked(s, walked);
      EXPECT_EQ(s.env.Exists(kFile), !c.shredded) << what;
      if (c.shredded) {
        EXPECT_TRUE(s.env.messages.empty()) << what;
        continue;
      }
      EXPECT_EQ(s.env.At(kFile).data, "cloud data") << what;
      ASSERT_EQ(s.env.messages.size(), 1u) << what;
      EXPECT_EQ(s.env.messages[0].second, L"1002") << what;
      // Never opened for writing, which would fetch its data; a walked one not opened at all.
      EXPECT_EQ(s.Count("reopen " + Narrow(kFile)), 0u) << what;
      EXPECT_EQ(EventsNamed(s.log, "open").size(), walked ? 0u : 1u) << what;
    }
  }
}

TEST(ShredFileTest, WhatTheOpenFileShowsDecidesOverItsListing) {
  struct Case {
    const char* what;
    bool walked;
    uint32_t listed;  // the attributes the listing shows
    uint32_t listed_tag;
    uint32_t opened;  // the attributes Info() shows
    uint32_t opened_tag;
    bool reported;  // else passed over in silence
  } cases[] = {
      // Gone online-only between the listing and the open.
      {"cloud file freed", true, kAttrReparsePoint, kReparseTagCloud,
       kAttrReparsePoint | kAttrRecallOnDataAccess, kReparseTagCloud, true},
      // A link the platform did not see at the open: no more ours than a listed one.
      {"walked link", true, kAttrArchive, 0, kAttrReparsePoint, kReparseTagSymlink, false},
      // A named link is followed to its file; one that is not leads to no data of its own here.
      {"named link", false, kAttrArchive, 0, kAttrReparsePoint, kReparseTagSymlink, true},
  };
  for (const Case& c : cases) {
    Shred s;
    s.env.AddFolder(L"C:\\data");
    s.env.AddFile(kFile, "data", c.listed);
    s.env.At(kFile).reparse_tag = c.listed_tag;
    s.env.before = [&](const std::string& op, const Text& path) {
      if (op != "info") return;
      s.env.At(path).attributes = c.opened;
      s.env.At(path).reparse_tag = c.opened_tag;
    };
    ShredNamedOrWalked(s, c.walked);
    ASSERT_TRUE(s.env.Exists(kFile)) << c.what;
    EXPECT_EQ(s.env.At(kFile).data, "data") << c.what;
    EXPECT_EQ(s.Count("reopen " + Narrow(kFile)), 0u) << c.what;
    EXPECT_EQ(s.Count("close " + Narrow(kFile)), 1u) << c.what;
    EXPECT_EQ(s.env.messages.size(), c.reported ? 1u : 0u) << c.what;
    EXPECT_EQ(s.Count("label2 shown"), c.reported ? 1u : 0u) << c.what;
    if (c.reported) {
      EXPECT_EQ(s.env.messages.at(0).second, L"1002") << c.what;
    }
  }
}

// ---- Pacing: pumps by elapsed time, and one flush after the last write ---------------------

// A device that takes `write_us` per write; records the pumps, and what the flush finds unflushed.
struct Device {
  Shred s;
  uint64_t unflushed = 0, flushed = 0, flushes = 0;
  size_t logged = 0;  // how far the log has been read for the sizes written
  std::vector<uint64_t> pumps;

  Device(uint64_t length, uint64_t write_us) {
    s.env.AddFile(kFile, std::string(length, 'x'));
    s.env.on_pump = [this] { pumps.push_back(s.env.micros); };
    s.env.before = [=, this](const std::string& op, const Text& path) {
      for (; logged < s.log.size(); ++logged) {
        const std::string& event = s.log[logged];
        if (event.rfind("write ", 0) == 0) unflushed += std::stoull(event.substr(event.rfind(' ')));
      }
      if (op == "write") {
        s.env.micros += write_us;
      } else if (op == "flush") {
        ++flushes;
        flushed = std::exchange(unflushed, 0);
      } else if (op == "remove") {
        s.at_removal = s.env.At(path).data;
      }
    };
  }
};

TEST(ShredFilePacingTest, SlowDevicePumpsEveryFiftyMillisecondsAndFlushesOnceAtTheEnd) {
  // A USB stick, 40 MB/s; a file short of the length whose writes go to a worker.
  Device d(30 * MiB, 4000);
  ShredFile(d.s.run, kFile);
  FinishInFlight(d.s.run);
  EXPECT_TRUE(d.s.at_removal == Pattern(Rounded(30 * MiB)));
  ASSERT_FALSE(d.pumps.empty());
  uint64_t previous = 0, longest_gap = 0;
  for (const uint64_t at : d.pumps) {
    longest_gap = std::max(longest_gap, at - previous);
    previous = at;
  }
  EXPECT_LE(longest_gap, 50'000u);
  // Flushing as it goes would stop the writes each time until the device caught up.
  EXPECT_EQ(d.flushes, 1u);
  EXPECT_EQ(d.flushed, Rounded(30 * MiB));
}

TEST(ShredFilePacingTest, AFolderOfSmallFilesPumpsByTimeNotByFile) {
  Shred s;
  std::vector<uint64_t> pumps;
  s.env.on_pump = [&] { pumps.push_back(s.env.micros); };
  s.env.before = [&](const std::string& op, const Text&) {
    if (op == "write") s.env.micros += 1500;  // two writes: each small file takes 3 ms
  };
  std::vector<Text> names;
  for (int i = 0; i < 20; ++i) {
    names.push_back(L"C:\\data\\f" + std::to_wstring(i));
    s.env.AddFile(names.back(), "x");
    ShredFile(s.run, names.back());
  }
  // 60 ms of work: a pump once 10 ms have passed, never one per file.
  EXPECT_GE(pumps.size(), 5u);
  EXPECT_LE(pumps.size(), 6u);
  FinishInFlight(s.run);
  for (const Text& name : names) EXPECT_FALSE(s.env.Exists(name)) << Narrow(name);
}

// A file past 4 GiB, beyond any 32-bit count, is overwritten whole with one unbroken pattern.
TEST(ShredFilePacingTest, LengthsPastFourGiBAreOverwrittenWhole) {
  struct BigEnv : FakeEnv {
    using FakeEnv::FakeEnv;
    uint64_t length = (uint64_t{1} << 32) + 69, written = 0;
    bool unbroken = true;
    std::unique_ptr<OpenFile> OpenNamedFile(const Text& path) override {
      struct Checking : OpenFile {
        BigEnv* env;
        Text path;
        std::string pattern = Pattern(kBlock + 68);
        Checking(BigEnv* e, Text p) : env(e), path(std::move(p)) {}
        FileInfo Info() override { return {kAttrNormal, env->length, 1}; }
        void SetAttributes(uint32_t) override {}
        void BeginWriting() override {}
        void Write(const char* data, size_t size) override {
          env->unbroken &= pattern.compare(env->written % 68, size, data, size) == 0;
          env->written += size;
        }
        void Flush() override {}
        void Rewind() override {}
        void Close() override {}
        std::vector<StreamInfo> Streams() override { return {}; }
        std::unique_ptr<Writable> OpenStream(const Text&) override { return nullptr; }
        void Rename(const Text&) override {}
        void Delete() override { env->Remove(path); }
      };
      return std::make_unique<Checking>(this, path);
    }
  };
  EventLog log;
  BigEnv env(&log);
  FakeProgress window(&log);
  Engine run{env, window, L"C:\\", {Text()}};
  env.AddFile(kFile, "");
  ShredFile(run, kFile);
  FinishInFlight(run);
  EXPECT_EQ(env.written, Rounded(env.length));
  EXPECT_TRUE(env.unbroken);
  EXPECT_FALSE(env.Exists(kFile));
}

// ---- On real files -------------------------------------------------------------------------

namespace fs = std::filesystem;

// Reads a whole file and closes it again (Windows will not delete a file that is open).
std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The platform's own Env, except that it keeps each file's bytes and attributes as they are when
// it is to be deleted, and that its clock runs fast so failure waits take no real time. Windows
// lets nobody read a file we hold without sharing, so it is closed first and then removed here.
class CatchingEnv : public EnvWrapper {
 public:
  struct Caught {
    std::string data;
    uint32_t attributes;
  };
  std::map<Text, Caught> removed;

  std::unique_ptr<OpenFile> OpenNamedFile(const Text& path) override {
    struct Catching : OpenFileWrapper {
      Catching(CatchingEnv* e, const Text& p, std::unique_ptr<OpenFile> file)
          : OpenFileWrapper(std::move(file)), env(e), path(p), now(p) {}
      void Rename(const Text& name) override {
        OpenFileWrapper::Rename(name);
        now = (fs::path(now).parent_path() / fs::path(name)).wstring();
      }
      void PrepareDelete() override {}  // it removes the file itself, once it has read it
      void Delete() override {
        const uint32_t attributes = Info().attributes;
        Close();
        env->removed[path] = {ReadAll(fs::path(now)), attributes};
        fs::remove(fs::path(now));
      }
      CatchingEnv* env;
      Text path;
      Text now;  // the name it has by now
    };
    return std::make_unique<Catching>(this, path, EnvWrapper::OpenNamedFile(path));
  }
  double SecondsSinceMidnight() override { return clock_ += 0.5; }
  void WaitForMessages(int) override {}

 private:
  double clock_ = 1000.0;
};

class ShredRealFileTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("morvenit-shred-" + std::string(info->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    fs::remove_all(dir_);
  }
  Text Make(const std::string& name, uint64_t length) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << std::string(length, '\xA5');
    return path.wstring();
  }

  EventLog log_;
  CatchingEnv env_;
  FakeProgress window_{&log_};
  Engine run_{env_, window_, L"", {Text()}};
  fs::path dir_;
};

TEST_F(ShredRealFileTest, WritesTheExactPatternOverTheRoundedUpLength) {
  for (const uint64_t length :
       {uint64_t{0}, uint64_t{1}, uint64_t{67}, uint64_t{68}, uint64_t{69}, 3 * MiB + 5}) {
    const Text path = Make("file " + std::to_string(length) + ".bin", length);
    ShredFile(run_, path);
    FinishInFlight(run_);
    ASSERT_EQ(env_.removed.count(path), 1u) << length;
    EXPECT_TRUE(env_.removed[path].data == Pattern(Rounded(length))) << length;
    EXPECT_FALSE(fs::exists(fs::path(path))) << length;
  }
  EXPECT_FALSE(window_.label2_visible);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "label2 shown"), 0);
}

TEST_F(ShredRealFileTest, ReadOnlyHiddenAndSystemFilesAreClearedAndRemoved) {
  const Text path = Make("guarded.txt", 100);
  Env::Default().OpenNamedFile(path)->SetAttributes(kAttrReadOnly | kAttrHidden | kAttrSystem);
  ASSERT_TRUE(Env::Default().GetAttributes(path) & kAttrReadOnly);
#ifdef _WIN32
  ASSERT_EQ(Env::Default().GetAttributes(path) & (kAttrHidden | kAttrSystem),
            kAttrHidden | kAttrSystem);
#endif
  ShredFile(run_, path);
  FinishInFlight(run_);
  ASSERT_EQ(env_.removed.count(path), 1u);
  EXPECT_EQ(env_.removed[path].attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem), 0u);
  EXPECT_TRUE(env_.removed[path].data == Pattern(136));
  EXPECT_FALSE(fs::exists(fs::path(path)));
}

TEST_F(ShredRealFileTest, MissingFilesAndFoldersAreReportedAndLeft) {
  ShredFile(run_, (dir_ / "gone.txt").wstring());
  FinishInFlight(run_);
  EXPECT_EQ(window_.label2, L"File not found");
  fs::create_directory(dir_ / "folder");
  ShredFile(run_, (dir_ / "folder").wstring());
  FinishInFlight(run_);
  EXPECT_EQ(window_.label2, L"Processing folder");
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_TRUE(env_.removed.empty());
}

// A rename onto a name that is taken fails and changes neither file.
TEST_F(ShredRealFileTest, ARenameNeverReplacesAnything) {
  const Text path = Make("mine.txt", 10);
  Make("theirs.txt", 20);
  auto file = Env::Default().OpenNamedFile(path);
  if (!file->RenamesInPlace()) GTEST_SKIP() << "renames would go by a path here (Wine)";
  file->BeginWriting();
  EXPECT_THROW(file->Rename(L"theirs.txt"), Failure);
  file->Rename(L"free.txt");
  file.reset();
  EXPECT_EQ(ReadAll(dir_ / "theirs.txt"), std::string(20, '\xA5'));
  EXPECT_EQ(ReadAll(dir_ / "free.txt"), std::string(10, '\xA5'));
  EXPECT_FALSE(fs::exists(dir_ / "mine.txt"));
}

#ifdef _WIN32
// Another handle that shares nothing keeps the file from being written, beyond a few tries:
// reported, and left whole with the attributes it had.
TEST_F(ShredRealFileTest, FileInUseIsReportedAndLeftWhole) {
  const Text path = Make("in use.txt", 10);
  Env::Default().OpenNamedFile(path)->SetAttributes(kAttrReadOnly);
  auto holder = Env::Default().OpenNamedFile(path);
  holder->BeginWriting();
  ShredFile(run_, path);
  FinishInFlight(run_);
  EXPECT_EQ(window_.label2, L"Processing folder");
  holder.reset();
  EXPECT_EQ(ReadAll(fs::path(path)), std::string(10, '\xA5'));
  EXPECT_EQ(Env::Default().GetAttributes(path) & kAttrReadOnly, kAttrReadOnly);
}
#endif

}  // namespace
}  // namespace morvenit
