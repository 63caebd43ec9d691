// Names the classic Win32 path form would change (trailing dots and spaces, device names such as
// "nul") must be walked and shredded as they are: otherwise a walk skips them, or hits a sibling.
#include <gtest/gtest.h>

#include <map>

#include "platform/win32.h"
#include "tests/unit/real_tree.h"

namespace morvenit {
namespace {

// Creates `name` in `folder` through the extended-length form, which keeps the name literally.
void CreateLiteral(const Text& folder, const Text& name, const std::string& data) {
  const Text path = L"\\\\?\\" + folder + L"\\" + name;
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid()) << "cannot create a test file: " << ::GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
}

bool ExistsLiteral(const Text& folder, const Text& name) {
  const Text path = L"\\\\?\\" + folder + L"\\" + name;
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(LiteralNames, TrailingDotsSpacesAndDeviceNamesAreShreddedAsTheyAre) {
  RealRun r;
  const Text folder = ToText(r.tree.Folder("odd"));
  const Text names[] = {L"trail.", L"space ", L"nul", L"con.txt", L"trail"};
  for (const Text& name : names) CreateLiteral(folder, name, "secret " + Narrow(name));

  ProcessItems(r.run, {folder});

  for (const Text& name : names) EXPECT_FALSE(ExistsLiteral(folder, name)) << Narrow(name);
  EXPECT_FALSE(r.AnyFileFailed()) << "every file was found as it is named";
  EXPECT_TRUE(ExistsLiteral(folder, L""));
}

// A folder whose name ends in a dot or a space (made on Linux, or through "\\?\" on NTFS) is
// walked by its exact name, named or met, down to its subfolders' files.
TEST(LiteralNames, FoldersEndingInADotOrASpaceAreWalkedAsTheyAre) {
  RealRun r;
  const Text top = ToText(r.tree.Folder("top"));
  const Text folders[] = {L"dir.", L"dir ", L"plain", L"plain\\met.", L"plain\\met.\\sub"};
  for (const Text& folder : folders) {
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + top + L"\\" + folder).c_str(), nullptr));
  }
  const Text with_files[] = {L"dir.", L"dir ", L"plain\\met.", L"plain\\met.\\sub"};
  for (const Text& folder : with_files) CreateLiteral(top + L"\\" + folder, L"f", "secret");

  ProcessItems(r.run, {top + L"\\dir.", top + L"\\dir ", top + L"\\plain"});

  for (const Text& folder : with_files) {
    EXPECT_FALSE(ExistsLiteral(top + L"\\" + folder, L"f")) << Narrow(folder);
    EXPECT_TRUE(ExistsLiteral(top, folder)) << Narrow(folder);
  }
  EXPECT_FALSE(r.AnyFileFailed());
}

// The folder's entries, by name.
std::map<Text, FolderEntry> Entries(const fs::path& folder) {
  std::map<Text, FolderEntry> entries;
  for (const FolderEntry& entry : Env::Default().OpenNamedFolder(ToText(folder))->List()) {
    entries[entry.name] = entry;
  }
  return entries;
}

// A name Windows forbids, made on Linux, is reached by its short name. Where another file, link
// or folder stands under exactly that short name, the entry is left whole and reported by its own
// name as one Windows cannot open, never passed over; the twin goes its own way (a file is
// shredded, a link passed over, a folder walked).
TEST(LiteralNames, AForbiddenNameWhoseShortNameIsTakenIsReportedNeverPassedOver) {
  RealRun r;
  TempTree outside;
  const fs::path target = outside.File("target.txt", "outside");
  const fs::path folder = r.tree.Folder("twins");
  ASSERT_TRUE(RunLinux(L"/bin/sh",
                       {L"-c",
                        L"cd $0 && printf a > 'a*secret.txt' && printf b > 'b?secret.txt' && "
                        L"mkdir 'c<dir' && printf c > 'c<dir/c.txt' && : > ../made",
                        LinuxPath(folder)},
                       r.tree.root() / "made"));
  std::map<Text, FolderEntry> listed = Entries(folder);
  const Text a = listed[L"a*secret.txt"].short_name, b = listed[L"b?secret.txt"].short_name,
             c = listed[L"c<dir"].short_name;
  ASSERT_FALSE(a.empty() || b.empty() || c.empty());
  ASSERT_TRUE(RunLinux(L"/bin/sh",
                       {L"-c", L"cd $0 && printf twin > $1 && ln -s $4 $2 && mkdir $3 && : > $3/t",
                        LinuxPath(folder), a, b, c,
                        L"../../" + outside.root().filename().wstring() + L"/target.txt"},
                       folder / c / "t"));

  ProcessItems(r.run, {ToText(folder)});

  listed = Entries(folder);
  std::set<Text> names;
  for (const auto& [name, entry] : listed) names.insert(name);
  EXPECT_EQ(names, (std::set<Text>{L"a*secret.txt", L"b?secret.txt", L"c<dir", b, c}));
  EXPECT_EQ(listed[L"a*secret.txt"].length, 1u);
  EXPECT_EQ(ReadAll(target), "outside");
  const Text in = ToText(folder) + L"\\";
  const LeftFor& left = r.run.left[kFailUnreachableName];
  EXPECT_EQ(std::set<Text>(left.paths.begin(), left.paths.end()),
            (std::set<Text>{in + L"a*secret.txt", in + L"b?secret.txt", in + L"c<dir\\"}));
  EXPECT_EQ(r.run.left.size(), 1u);
  RunLinux(L"/bin/rm", {L"-rf", LinuxPath(folder)});  // names no Windows call removes
}

}  // namespace
}  // namespace morvenit
