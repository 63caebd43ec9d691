// The folder walker on real trees: natively against the POSIX file system and, in the Windows
// build under Wine, against the Win32 one.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/unit/real_tree.h"

namespace morvenit {
namespace {

std::string Listed(const std::set<fs::path>& paths) {
  std::string out;
  for (const fs::path& path : paths) out += " [" + path.generic_string() + "]";
  return out;
}

TEST(WalkRealTree, EveryFileAtEveryDepthGoesEveryFolderStays) {
  RealRun r;
  r.tree.File("top.txt", std::string(1000, 't'));
  r.tree.File("zero.txt", "");
  r.tree.Folder("empty");
  r.tree.File("with space/file with space.txt", "s");
  r.tree.File(u8"Ωmega/čaj é.txt", "u");
  r.tree.File("a/.dotfile", "d");
  r.tree.File("a/b/c/deep.bin", std::string(69, 'd'));
  const Text hidden = ToText(r.tree.File("a/hidden.txt", "h"));
  const Text system = ToText(r.tree.File("a/b/system.sys", "y"));
  const Text read_only = ToText(r.tree.File("a/b/read-only.txt", "r"));
  Env::Default().OpenNamedFile(hidden)->SetAttributes(kAttrHidden);
  Env::Default().OpenNamedFile(system)->SetAttributes(kAttrSystem | kAttrHidden);
  Env::Default().OpenNamedFile(read_only)->SetAttributes(kAttrReadOnly);
  ASSERT_TRUE(r.env.GetAttributes(read_only) & kAttrReadOnly);
#ifdef _WIN32
  ASSERT_TRUE(r.env.GetAttributes(hidden) & kAttrHidden);
  ASSERT_TRUE(r.env.GetAttributes(system) & kAttrSystem);
#endif
  const Inventory before = Take(r.tree.root());
  ASSERT_EQ(before.files.size(), 9u);

  r.run.FolderStack.push_back(r.tree.text());
  WalkFolders(r.run);
  FinishInFlight(r.run);

  const Inventory after = Take(r.tree.root());
  EXPECT_TRUE(after.files.empty()) << "left:" << Listed(after.files);
  EXPECT_EQ(after.folders, before.folders);
  EXPECT_FALSE(r.AnyFileFailed());
  EXPECT_TRUE(r.env.messages.empty());
}

TEST(WalkRealTree, NamedFilesGoFirstThenTheLastNamedFolder) {
  RealRun r;
  const fs::path a = r.tree.Folder("A"), b = r.tree.Folder("B");
  r.tree.File("A/a.txt", "a");
  r.tree.File("B/b.txt", "b");
  r.tree.File("B/sub/c.txt", "c");
  const fs::path x = r.tree.File("x.txt", "x"), y = r.tree.File("y.txt", "y");

  ProcessItems(r.run, {ToText(a), ToText(x), ToText(b), ToText(y)});

  std::vector<std::string> removed;
  for (const Text& path : r.env.Paths("remove")) {
    removed.push_back(ToPath(path).lexically_relative(r.tree.root()).generic_string());
  }
  EXPECT_EQ(removed,
            (std::vector<std::string>{"x.txt", "y.txt", "B/b.txt", "B/sub/c.txt", "A/a.txt"}));
  EXPECT_TRUE(Take(r.tree.root()).files.empty());
  EXPECT_TRUE(fs::is_directory(a) && fs::is_directory(b / "sub"));
}

// A folder named relative to the current directory is the one emptied, never one beside or above
// it.
TEST(WalkRealTree, RelativeFolderIsTheOneEmptied) {
  RealRun r;
  const fs::path outside = r.tree.File("outside.txt", "keep me");
  r.tree.File("dir/inside.txt", "i");
  r.tree.File("dir/sub/deep.txt", "d");
  const fs::path here = r.tree.Folder("dir/sub");
  fs::current_path(here);

  ProcessItems(r.run, {L"..", L"."});

  EXPECT_EQ(ReadAll(outside), "keep me");
  EXPECT_FALSE(fs::exists(r.tree.root() / "dir/inside.txt"));
  EXPECT_FALSE(fs::exists(r.tree.root() / "dir/sub/deep.txt"));
}

// A hostile program with write access to the dropped folder swaps each subfolder, after its
// parent was listed and before it is entered, for a link to a folder outside. Nothing outside is
// touched: the subfolders are entered through their parent, and a link is never entered. The
// folders moved away are reported, each by its path.
TEST(WalkRealTree, FoldersSwappedForLinksDuringTheWalkLeadNowhere) {
  RealRun r;
  TempTree outside;
  std::vector<fs::path> precious;
  std::set<Text> moved, reported;
  for (int i = 0; i < 12; ++i) {
    const std::string n = std::to_string(10 + i);
    r.tree.File("dropped/s" + n + "/mine.txt", "mine");
    precious.push_back(outside.File("o" + n + "/precious.txt", "precious " + n));
    moved.insert(ToText(r.tree.root() / "dropped") + L"\\s" + Text(n.begin(), n.end()) + L"\\");
  }
  int swapped = 0;
  r.env.before_enter = [&](const Text& path) {
    const fs::path folder = ToPath(path);
    const std::string n = folder.filename().string().substr(1);
    fs::rename(folder, folder.parent_path() / ("moved away " + n));
    const fs::path target = fs::path("../..") / outside.root().filename() / ("o" + n);
    if (MakeLink(folder.parent_path(), target.generic_string(), folder.filename().string())) {
      ++swapped;
    }
  };

  r.run.FolderStack.push_back(ToText(r.tree.root() / "dropped"));
  WalkFolders(r.run);
  FinishInFlight(r.run);

  for (size_t i = 0; i < precious.size(); ++i) {
    EXPECT_EQ(ReadAll(precious[i]), "precious " + std::to_string(10 + i));
  }
  EXPECT_EQ(r.env.Paths("enter").size(), 13u) << "each folder is tried once";
  for (const auto& [number, left] : r.run.left) {
    reported.insert(left.paths.begin(), left.paths.end());
  }
  EXPECT_EQ(reported, moved);
  EXPECT_EQ(swapped, 12);
}

// A file that also has a name outside the dropped folder keeps its data for that name.
TEST(WalkRealTree, AFileWithASecondNameIsLeftWholeAndReported) {
  RealRun r;
  TempTree outside;
  const fs::path kept = outside.File("kept.txt", "kept data");
  const fs::path linked = r.tree.root() / "linked.txt";
  fs::create_hard_link(kept, linked);
  r.tree.File("plain.txt", "plain");

  r.run.FolderStack.push_back(r.tree.text());
  WalkFolders(r.run);
  FinishInFlight(r.run);

  EXPECT_EQ(ReadAll(kept), "kept data");
  EXPECT_EQ(ReadAll(linked), "kept data");
  EXPECT_FALSE(fs::exists(r.tree.root() / "plain.txt"));
  ASSERT_EQ(r.env.messages.size(), 1u);
  EXPECT_EQ(r.env.messages[0].substr(0, 6), L"1001: ");
}

TEST(WalkRealTree, TreeDeeperThanTheClassicLimitIsEmptied) {
  RealRun r;
  // std::filesystem cannot list such a tree on Windows, so each path is checked on its own.
  std::vector<fs::path> folders, files;
  fs::path deep;
  Text deepest_file = r.tree.text();
  for (int level = 10; level < 26; ++level) {
    const std::string name = "level " + std::to_string(level) + " of a deep tree";
    deep /= name;
    files.push_back(r.tree.File(deep / "file.txt", name));
    folders.push_back(r.tree.root() / deep);
    deepest_file += L"\\" + Text(name.begin(), name.end());
  }
  deepest_file += L"\\file.txt";
  ASSERT_GT(deepest_file.size(), 400u);
  for (const fs::path& file : files) ASSERT_TRUE(fs::is_regular_file(file)) << file;

  r.run.FolderStack.push_back(r.tree.text());
  WalkFolders(r.run);
  FinishInFlight(r.run);

  for (const fs::path& file : files) EXPECT_FALSE(fs::exists(file)) << file;
  for (const fs::path& folder : folders) EXPECT_TRUE(fs::is_directory(folder)) << folder;
  EXPECT_FALSE(r.AnyFileFailed());
  // The file is shown by the path the user knows, which the engine alone never lengthens.
  EXPECT_EQ(r.window.text1, L"..." + deepest_file.substr(deepest_file.size() - 30));
  for (const auto& call : r.env.calls) {
    EXPECT_NE(call.path.substr(0, 4), L"\\\\?\\") << call.op;
  }
}

// What was named is what is reached, from the moment it is met. Another program swaps a named item
// for a link to an outside file of the same name at the worst moment (after the named folder was
// met, between a named file's two opens, before it is opened: a link named); names lead nowhere,
// to a device, or to a file already in hand. Nothing outside changes, and every refusal is told:
// under Wine, which opens by path, the swapped folder is reported; elsewhere it is walked through
// the handle held.
TEST(WalkRealTree, NamedItemsArePinnedWhenTheyAreMet) {
  // Devices named, and a Linux socket named: none is ever opened for writing.
#ifdef _WIN32
  const ArgumentList devices = {L"NUL", L"NUL.txt", L"\\\\.\\NUL",
                                L"\\\\?\\GLOBALROOT\\Device\\Null"};
  const char* kDeviceBoxes = "1012|1010|Morvenit";
#else
  const ArgumentList devices = {L"/dev/null"};
  const char* kDeviceBoxes = "1010|Morvenit";
#endif
  // Names apart by spaces, boxes by "|" (each box's beginning, "title: text"). `swapped` is made
  // a link at `hook` ("named x": before the item x is opened; "writing x": before x is opened
  // again to be written; "deleting x": before x is deleted); what is left is what the tree
  // holds, but that link.
  struct Case {
    const char *what, *files, *items, *hook, *swapped, *boxes, *left;
  } cases[] = {
      {"a named folder swapped after it was met", "D/a f", "D f", "named f", "D",
       OnWine() ? "1004|Morvenit: 1 folder" : "", OnWine() ? "D.moved/a" : ""},
      {"a named file swapped between its two opens", "f", "f", "writing f", "f",
       "1004|Morvenit: 1 file", "f.moved"},
      // A link named is removed itself where the system can, else left and reported; what it
      // points to is never touched.
      {"a link to a file named", "f", "f", "named f", "f", OnWine() ? "1011|Morvenit: 1 file" : "",
       "f.moved"},
      {"a link to a folder named", "D/a", "D", "named D", "D",
       OnWine() ? "1011|Morvenit: 1 file" : "", "D.moved/a"},
      {"a named file's folder swapped after the checks before its delete", "D/f", "D/f",
       "deleting f", "D", OnWine() ? "1005|Morvenit: 1 file" : "", OnWine() ? "D.moved/f" : ""},
      {"a missing item between two others", "f g", "f missing g", "", "",
       "53: File not found|Morvenit: 1 file was not removed", ""},
      {"a file named and inside a named folder", "D/a", "D/a D", "", "", "", ""},
      {"devices, and names Windows keeps for them", "f", "dev f", "", "", kDeviceBoxes, "socket"},
  };
  const auto split = [](const std::string& text, char by) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, by);) parts.push_back(part);
    return parts;
  };
  for (const Case& c : cases) {
    RealRun r;
    TempTree outside;
    std::set<fs::path> outside_files, left;
    for (const std::string& file : split(c.files, ' ')) {
      r.tree.File(file, file);
      outside_files.insert(outside.File(fs::path(file).filename(), "outside").filename());
    }
    ArgumentList items;
    for (const std::string& item : split(c.items, ' ')) {
      if (item == "dev") {
        items.insert(items.end(), devices.begin(), devices.end());
        ASSERT_TRUE(MakeSocket(r.tree.root() / "socket"));
        items.push_back(ToText(r.tree.root() / "socket"));
      }
      if (item != "dev") items.push_back(ToText(r.tree.root() / item));
    }
    enum { kWaiting, kSwapped } swap = *c.swapped ? kWaiting : kSwapped;
    const auto hook = [&](const std::string& when, const Text& path) {
      if (swap != kWaiting || when + " " + ToPath(path).filename().string() != c.hook) return;
      const fs::path named = r.tree.root() / c.swapped;
      fs::rename(named, named.string() + ".moved");
      const fs::path target = fs::path("..") / outside.root().filename() /
                              (c.swapped == std::string("D") ? "" : c.swapped);
      if (MakeLink(r.tree.root(), target.generic_string(), c.swapped)) swap = kSwapped;
    };
    r.env.before_named = [&](const Text& path) { hook("named", path); };
    r.env.before_writing = [&](const Text& path) { hook("writing", path); };
    r.env.before_delete = [&](const Text& path) { hook("deleting", path); };

    ProcessItems(r.run, items);

    EXPECT_EQ(swap, kSwapped) << c.what;
    EXPECT_EQ(Take(outside.root()).files, outside_files) << c.what;
    for (const fs::path& file : outside_files) {
      EXPECT_EQ(ReadAll(outside.root() / file), "outside") << c.what;
    }
    for (const fs::path& file : Take(r.tree.root()).files) {
      if (file.begin()->string() != c.swapped) left.insert(file);
    }
    const std::vector<std::string> kept = split(c.left, ' ');
    EXPECT_EQ(left, std::set<fs::path>(kept.begin(), kept.end())) << c.what;
    const std::vector<std::string> boxes = split(c.boxes, '|');
    EXPECT_EQ(r.AnyFileFailed(), !boxes.empty()) << c.what;  // no report but these
    std::vector<Text> all = r.env.messages;  // the boxes, then the summary window's counts
    for (const auto& summary : r.window.summaries) all.push_back(L"Morvenit: " + summary.first);
    std::vector<std::string> shown;  // each box's beginning, as long as the one expected
    for (const Text& box : all) {
      shown.push_back(
          Narrow(box).substr(0, shown.size() < boxes.size() ? boxes[shown.size()].size() : 9));
    }
    EXPECT_EQ(shown, boxes) << c.what;
    if (c.items == std::string("f missing g") && !shown.empty()) {
      EXPECT_NE(r.env.messages[0].find(items[1]), Text::npos);  // the box names what was given
    }
  }
}

}  // namespace
}  // namespace morvenit
