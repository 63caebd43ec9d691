// Extended-length paths: what the Win32 file functions are given for a path of any length. Wine
// enforces no length limit, so only these checks stand between a deep tree and real Windows.
#include "platform/long_path.h"

#include <gtest/gtest.h>

namespace morvenit {
namespace {

// An absolute path of exactly `size` characters under `root`.
Text PathOfLength(const Text& root, size_t size) {
  Text path = root;
  while (path.size() + 10 <= size) path += L"\\folder_xx";
  path.resize(size, L'x');
  return path;
}

TEST(ExtendedLengthPath, LongPathsGetThePrefixForTheirKind) {
  const Text drive = PathOfLength(L"C:", 300);
  EXPECT_EQ(ExtendedLengthPath(drive), L"\\\\?\\" + drive);

  const Text unc = PathOfLength(L"\\\\server\\share", 300);
  EXPECT_EQ(ExtendedLengthPath(unc), L"\\\\?\\UNC\\" + unc.substr(2));

  // Already in a form that has no limit: left alone rather than prefixed twice.
  for (const Text& prefixed :
       {L"\\\\?\\" + drive, L"\\\\?\\UNC\\" + unc.substr(2), PathOfLength(L"\\\\.\\C:", 300)}) {
    EXPECT_EQ(ExtendedLengthPath(prefixed), prefixed);
  }
}

TEST(ExtendedLengthPath, PathsWithinTheClassicLimitAreLeftAsTheyAre) {
  EXPECT_EQ(ExtendedLengthPath(L"C:\\"), L"C:\\");
  EXPECT_EQ(ExtendedLengthPath(L"\\\\server\\share\\a.txt"), L"\\\\server\\share\\a.txt");
  // A folder must leave room for an 8.3 name within the limit: 247 characters do, 248 do not.
  EXPECT_EQ(ExtendedLengthPath(PathOfLength(L"C:", 247)), PathOfLength(L"C:", 247));
  EXPECT_EQ(ExtendedLengthPath(PathOfLength(L"C:", 248)), L"\\\\?\\" + PathOfLength(L"C:", 248));
  EXPECT_EQ(ExtendedLengthPath(PathOfLength(L"C:", kClassicPathLimit - 1)).substr(0, 4),
            L"\\\\?\\");
}

}  // namespace
}  // namespace morvenit
