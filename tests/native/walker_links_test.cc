// Links met by the folder walker, entries swapped under it, and the special files Linux keeps in
// folders, on the real file system. Natively only: Wine shows a link to a file as the file itself,
// so this is the one place where a file link can be tested.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "tests/unit/real_tree.h"

namespace morvenit {
namespace {

bool Touched(const RecordingEnv& env, const fs::path& path) {
  for (const auto& call : env.calls) {
    Text called = call.path;  // a folder is entered and listed with a trailing backslash
    while (called.size() > 1 && called.back() == L'\\') called.pop_back();
    if (call.op != "attributes" && ToPath(called) == path) return true;
  }
  return false;
}

TEST(WalkLinks, LinksInsideTheTreeStayAndSoDoTheirTargets) {
  RealRun r;
  TempTree outside;
  const fs::path far_file = outside.File("far/secret.txt", "far away");
  const fs::path target = outside.File("target.txt", "target");
  const fs::path to_folder = r.tree.root() / "to folder", to_file = r.tree.root() / "sub/to file",
                 dangling = r.tree.root() / "dangling";
  r.tree.File("sub/ordinary.txt", "o");
  fs::create_directory_symlink(outside.root() / "far", to_folder);
  fs::create_symlink(target, to_file);
  fs::create_symlink(outside.root() / "missing", dangling);

  r.run.FolderStack.push_back(r.tree.text());
  WalkFolders(r.run);
  FinishInFlight(r.run);

  EXPECT_FALSE(fs::exists(r.tree.root() / "sub/ordinary.txt"));
  for (const fs::path& link : {to_folder, to_file, dangling}) {
    EXPECT_TRUE(fs::is_symlink(link)) << link;
    EXPECT_FALSE(Touched(r.env, link)) << link;
  }
  EXPECT_EQ(ReadAll(far_file), "far away");
  EXPECT_EQ(ReadAll(target), "target");
}

// A link the user names goes itself, as rm removes one; what it points to is never touched.
TEST(WalkLinks, LinksTheUserNamedGoThemselvesTheirTargetsStay) {
  RealRun r;
  TempTree outside;
  const fs::path mine = outside.File("mine/mine.txt", "mine");
  const fs::path kept = outside.File("kept.txt", "kept");
  const fs::path to_folder = r.tree.root() / "to folder", to_file = r.tree.root() / "to file";
  fs::create_directory_symlink(outside.root() / "mine", to_folder);
  fs::create_symlink(kept, to_file);

  ProcessItems(r.run, {ToText(to_folder), ToText(to_file)});

  EXPECT_FALSE(fs::exists(fs::symlink_status(to_folder)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(to_file)));
  EXPECT_EQ(ReadAll(mine), "mine");
  EXPECT_EQ(ReadAll(kept), "kept");
  EXPECT_FALSE(r.AnyFileFailed());
}

// A FIFO, a socket and a device hold no data of their own: each is refused before anything would
// write to it, the first with a box, and the walk never waits on the FIFO for a writer.
TEST(WalkLinks, PipesSocketsAndDevicesAreNotData) {
  RealRun r;
  const fs::path folder = r.tree.Folder("special");
  r.tree.File("special/plain.txt", "plain");
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (folder / "socket").c_str(), sizeof address.sun_path - 1);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(socket);
  // (Only root may make a device node.)
  const bool device = ::mknod((folder / "null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;

  r.run.FolderStack.push_back(ToText(folder));
  WalkFolders(r.run);
  FinishInFlight(r.run);

  EXPECT_FALSE(fs::exists(folder / "plain.txt"));
  EXPECT_TRUE(fs::is_fifo(folder / "fifo") && fs::is_socket(folder / "socket"));
  EXPECT_TRUE(!device || fs::is_character_file(folder / "null"));
  ASSERT_EQ(r.env.messages.size(), 1u);
  EXPECT_EQ(r.env.messages[0].substr(0, 5), L"1006:") << Narrow(r.env.messages[0]);
}

// Another program replaces a file and a folder, after their folder was listed, with new ones under
// the same names: neither is opened as if it were the one listed.
TEST(WalkSwaps, AnEntryReplacedAfterTheListingIsRefusedAsChanged) {
  TempTree tree;
  tree.File("file", "listed");
  tree.Folder("folder");
  const std::unique_ptr<Folder> folder = Env::Default().OpenNamedFolder(tree.text());
  const std::vector<FolderEntry> listed = folder->List();
  ASSERT_EQ(listed.size(), 2u);
  // Made before the old ones go, so that they cannot be given the old numbers.
  tree.File("new file", "other");
  tree.Folder("new folder");
  fs::rename(tree.root() / "new file", tree.root() / "file");
  fs::rename(tree.root() / "new folder", tree.root() / "folder");

  const auto open = [&](const FolderEntry& entry) {
    return (entry.attributes & kAttrDirectory) ? folder->OpenSubfolder(entry) != nullptr
                                               : folder->OpenFileEntry(entry) != nullptr;
  };
  for (const FolderEntry& entry : listed) {
    try {
      open(entry);
      ADD_FAILURE() << Narrow(entry.name) << " was opened";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number, kFailChanged) << Narrow(entry.name);
    }
  }
  // Listed again, they are what stands there now.
  for (const FolderEntry& entry : folder->List()) EXPECT_TRUE(open(entry)) << Narrow(entry.name);
}

}  // namespace
}  // namespace morvenit
