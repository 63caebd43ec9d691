// The folder walker against the fakes: the order of the walk, Cancel, and the failures it lets
// pass.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fakes/fake_env.h"

namespace morvenit {
namespace {

using Events = std::vector<std::string>;

// FolderStack holding the sentinel and the folders a user named.
std::vector<PendingFolder> Stack(std::initializer_list<const wchar_t*> named) {
  std::vector<PendingFolder> stack{PendingFolder()};
  for (const wchar_t* path : named) stack.emplace_back(path);
  return stack;
}

// Two named folders: B holds files around two subfolders, one of them nested.
void AddTwoTrees(FakeEnv& env) {
  env.AddFolder(L"C:\\A");
  env.AddFile(L"C:\\A\\a.txt", "a");
  env.AddFolder(L"C:\\A\\sub");
  env.AddFile(L"C:\\A\\sub\\x.txt", "x");
  env.AddFolder(L"C:\\B");
  env.AddFile(L"C:\\B\\f1", "1");
  env.AddFolder(L"C:\\B\\s1");
  env.AddFile(L"C:\\B\\s1\\g", "g");
  env.AddFolder(L"C:\\B\\s1\\deep");
  env.AddFile(L"C:\\B\\s1\\deep\\h", "h");
  env.AddFolder(L"C:\\B\\s2");
  env.AddFile(L"C:\\B\\s2\\k", "k");
  env.AddFile(L"C:\\B\\f2", "2");
}

TEST(WalkFolders, LastNamedFirstDepthFirstSiblingsInReverse) {
  FakeRun f;
  AddTwoTrees(f.env);
  f.run.FolderStack = Stack({L"C:\\A", L"C:\\B"});

  WalkFolders(f.run);

  FinishInFlight(f.run);

  // B's own files go before any subfolder is opened; s2, pushed last, is walked first.
  EXPECT_EQ(EventsNamed(f.log, "enter"), (Events{"C:\\B\\", "C:\\B\\s2\\", "C:\\B\\s1\\",
                                                 "C:\\B\\s1\\deep\\", "C:\\A\\", "C:\\A\\sub\\"}));
  EXPECT_EQ(EventsNamed(f.log, "remove"),
            (Events{"C:\\B\\f1", "C:\\B\\f2", "C:\\B\\s2\\k", "C:\\B\\s1\\g", "C:\\B\\s1\\deep\\h",
                    "C:\\A\\a.txt", "C:\\A\\sub\\x.txt"}));
  for (const wchar_t* folder :
       {L"C:\\A", L"C:\\A\\sub", L"C:\\B", L"C:\\B\\s1", L"C:\\B\\s1\\deep", L"C:\\B\\s2"}) {
    EXPECT_TRUE(f.env.Exists(folder)) << Narrow(folder);
  }
  ASSERT_EQ(f.run.FolderStack.size(), 1u);
  EXPECT_TRUE(f.run.FolderStack[0].path.empty());
}

TEST(WalkFolders, CancelStopsBeforeTheNextEntryAndAbandonsTheStack) {
  FakeRun f;
  AddTwoTrees(f.env);
  f.run.FolderStack = Stack({L"C:\\A", L"C:\\B"});
  // Cancel is clicked while the first file is being overwritten.
  f.env.before = [&](const std::string& op, const Text&) {
    if (op == "write") f.window.check1 = 1;
  };

  WalkFolders(f.run);

  FinishInFlight(f.run);

  EXPECT_FALSE(f.env.Exists(L"C:\\B\\f1")) << "a file once begun is finished";
  EXPECT_EQ(EventsNamed(f.log, "enter"), Events{"C:\\B\\"});
  EXPECT_EQ(EventsNamed(f.log, "open"), Events{"C:\\B\\f1"}) << "no entry looked at after it";
  EXPECT_TRUE(f.env.Exists(L"C:\\B\\f2"));
  EXPECT_TRUE(f.env.Exists(L"C:\\A\\a.txt"));
}

TEST(WalkFolders, LinksStayAndFilesThatCannotBeShreddedAreReported) {
  FakeRun f;
  f.env.AddFolder(L"C:\\T");
  f.env.AddFolder(L"C:\\T\\junction", kAttrReparsePoint);
  f.env.AddFile(L"C:\\T\\junction\\far.txt", "far away");
  f.env.AddFile(L"C:\\T\\file link", "target", kAttrReparsePoint);
  f.env.AddFile(L"C:\\T\\placeholder", "in the cloud", kAttrReparsePoint | kAttrRecallOnDataAccess);
  f.env.At(L"C:\\T\\placeholder").reparse_tag = kReparseTagCloud;  // online-only: not a link
  f.env.AddFile(L"C:\\T\\unopenable", "secret");
  f.env.AddFile(L"C:\\T\\last.txt", "z");
  f.env.tick = 0.5;
  f.env.before = [](const std::string& op, const Text& path) {
    if (op == "open" && path == L"C:\\T\\unopenable") throw Failure{-5, L"Denied"};
  };
  f.run.FolderStack = Stack({L"C:\\T"});

  WalkFolders(f.run);

  FinishInFlight(f.run);

  EXPECT_EQ(EventsNamed(f.log, "enter"), Events{"C:\\T\\"}) << "no link is entered";
  EXPECT_EQ(EventsNamed(f.log, "remove"), Events{"C:\\T\\last.txt"});
  EXPECT_EQ(EventsNamed(f.log, "open"), (Events{"C:\\T\\unopenable", "C:\\T\\last.txt"}));
  EXPECT_EQ(f.env.At(L"C:\\T\\unopenable").data, "secret");
  EXPECT_EQ(f.env.At(L"C:\\T\\placeholder").data, "in the cloud");
  EXPECT_EQ(f.env.At(L"C:\\T\\file link").data, "target");
  EXPECT_TRUE(f.env.Exists(L"C:\\T\\junction\\far.txt"));
  // Nothing is left in silence: the placeholder and the unopenable file are reported.
  EXPECT_EQ(EventsNamed(f.log, "message"),
            (Events{"1002: " + Narrow(StoredElsewhere().description), "-5: Denied"}));
}

TEST(WalkFolders, AFolderSwappedForALinkAfterItsListingIsNeverEntered) {
  FakeRun f;
  AddTwoTrees(f.env);
  f.env.AddFolder(L"C:\\Outside");
  f.env.AddFile(L"C:\\Outside\\precious.txt", "precious");
  f.env.before = [&](const std::string& op, const Text& path) {
    // After B was listed, while its files are shredded, before s1 is entered.
    if (op == "open" && path == L"C:\\B\\f2") f.env.ReplaceWithLink(L"C:\\B\\s1");
  };
  f.run.FolderStack = Stack({L"C:\\B"});

  WalkFolders(f.run);

  FinishInFlight(f.run);

  EXPECT_EQ(EventsNamed(f.log, "remove"), (Events{"C:\\B\\f1", "C:\\B\\f2", "C:\\B\\s2\\k"}));
  EXPECT_EQ(f.env.At(L"C:\\Outside\\precious.txt").data, "precious");
  EXPECT_EQ(EventsNamed(f.log, "enter"), (Events{"C:\\B\\", "C:\\B\\s2\\", "C:\\B\\s1\\"}));
  EXPECT_EQ(f.run.left.at(kFailVanished).paths, std::vector<Text>{L"C:\\B\\s1\\"}) << "reported";
}

TEST(WalkFolders, VanishedAndRefusedFoldersAreReported) {
  FakeRun f;
  AddTwoTrees(f.env);
  f.env.tick = 0.5;
  // s1 vanished after it was listed; s2 may be entered but not listed; C:\Gone went after it was
  // named.
  f.env.before = [](const std::string& op, const Text& path) {
    if (op == "enter" && path == L"C:\\B\\s1") throw FileNotFound();
    if (op == "list" && path == L"C:\\B\\s2") throw AccessRefused();
  };
  f.run.FolderStack = Stack({L"C:\\A", L"C:\\Gone", L"C:\\B"});

  WalkFolders(f.run);

  FinishInFlight(f.run);

  EXPECT_EQ(EventsNamed(f.log, "remove"),
            (Events{"C:\\B\\f1", "C:\\B\\f2", "C:\\A\\a.txt", "C:\\A\\sub\\x.txt"}));
  EXPECT_TRUE(f.env.Exists(L"C:\\B\\s1\\deep\\h")) << "the subtree goes with its folder";
  EXPECT_TRUE(f.env.Exists(L"C:\\B\\s2\\k"));
  // Each is shown with its status; the first of the vanished with its box too.
  EXPECT_EQ(EventsNamed(f.log, "message"), Events{"1015: " + Narrow(Vanished().description)});
  EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "label2 shown"), 3);
  EXPECT_EQ(f.run.left.at(kFailVanished).paths, (std::vector<Text>{L"C:\\B\\s1\\", L"C:\\Gone\\"}));
}

TEST(WalkFolders, TrailingBackslashKeptOthersGetOneBlankEntriesSkipped) {
  FakeRun f;
  f.env.AddFolder(L"C:");
  f.env.AddFile(L"C:\\root.txt", "r");
  f.env.AddFolder(L"D:\\sp ");
  f.env.AddFile(L"D:\\sp \\in.txt", "i");
  f.run.FolderStack = Stack({L"C:\\", L"D:\\sp ", L"D:\\x\\  ", L"   "});

  WalkFolders(f.run);

  FinishInFlight(f.run);

  // The test looks past trailing spaces, but they stay in the path that is entered.
  EXPECT_EQ(EventsNamed(f.log, "enter"), (Events{"D:\\x\\  ", "D:\\sp \\", "C:\\"}));
  EXPECT_EQ(EventsNamed(f.log, "remove"), (Events{"D:\\sp \\in.txt", "C:\\root.txt"}));
}

}  // namespace
}  // namespace morvenit
