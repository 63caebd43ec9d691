// Extended-length paths: what the Win32 file functions are given. Wine enforces no length limit
// and keeps odd names as they are, so only these checks stand between such paths and Windows.
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

TEST(ExtendedLengthPath, PlainAbsolutePathsGetThePrefixForTheirKindAtAnyLength) {
  for (const size_t size : {size_t{12}, size_t{247}, size_t{248}, size_t{300}, size_t{1000}}) {
    const Text drive = PathOfLength(L"C:", size);
    EXPECT_EQ(ExtendedLengthPath(drive), L"\\\\?\\" + drive);
    const Text unc = PathOfLength(L"\\\\server\\share", size);
    EXPECT_EQ(ExtendedLengthPath(unc), L"\\\\?\\UNC\\" + unc.substr(2));
  }
  // Names the classic form would change are kept as they are.
  EXPECT_EQ(ExtendedLengthPath(L"C:\\dir\\trail. "), L"\\\\?\\C:\\dir\\trail. ");
  EXPECT_EQ(ExtendedLengthPath(L"C:\\dir\\nul"), L"\\\\?\\C:\\dir\\nul");
  EXPECT_EQ(ExtendedLengthPath(L"C:\\"), L"\\\\?\\C:\\");
  EXPECT_EQ(ExtendedLengthPath(L"d:\\folder\\"), L"\\\\?\\d:\\folder\\");
}

TEST(ExtendedLengthPath, EverythingElseIsLeftForTheSystemToResolve) {
  for (const Text& path :
       {Text(L"\\\\?\\C:\\a"), Text(L"\\\\?\\UNC\\srv\\share"), Text(L"\\\\.\\C:"),
        Text(L"relative\\a.txt"), Text(L"C:relative"), Text(L"C:\\a\\..\\b"), Text(L"C:\\a\\.\\b"),
        Text(L"C:\\a/b"), Text(L"C:\\a\\\\b"), Text(L"\\rooted\\a"), Text(L"")}) {
    EXPECT_FALSE(IsPlainAbsolute(path)) << path.size();
    EXPECT_EQ(ExtendedLengthPath(path), path) << path.size();
  }
}

}  // namespace
}  // namespace morvenit
