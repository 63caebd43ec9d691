// Extended-length paths: what the Win32 file functions are given. Wine enforces no length limit
// and keeps odd names as they are, so only these checks stand between such paths and Windows.
#include "platform/long_path.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_env.h"

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

// The current directory is C:\work\here; D: was last left in D:\d\cur.
Text Resolve(const Text& path, const Text& current = L"C:\\work\\here") {
  return ResolvePath(path, current,
                     [](wchar_t drive) { return drive == L'D' ? Text(L"D:\\d\\cur") : Text(); });
}

TEST(ResolvePath, EveryNameIsKeptExactlyAsGiven) {
  struct Case {
    Text given, resolved;
  } cases[] = {
      // The classic resolution would name another file: "notes" for "notes.", "dir" for "dir.".
      {L"notes.", L"C:\\work\\here\\notes."},
      {L"dir.", L"C:\\work\\here\\dir."},
      {L"trail ", L"C:\\work\\here\\trail "},
      {L"..\\notes.", L"C:\\work\\notes."},
      {L"nul", L"C:\\work\\here\\nul"},
      {L"...", L"C:\\work\\here\\..."},
      // "." and ".." are taken away, never above the root; repeated separators count once.
      {L".", L"C:\\work\\here"},
      {L"..", L"C:\\work"},
      {L"..\\..\\..\\..", L"C:\\"},
      {L"a\\.\\b\\..\\c\\\\d\\", L"C:\\work\\here\\a\\c\\d"},
      // Forward slashes are separators, Linux-style paths are rooted on the current drive.
      {L"Z:/home/user/w/notes.", L"Z:\\home\\user\\w\\notes."},
      {L"/home/user/w/trail ", L"C:\\home\\user\\w\\trail "},
      {L"\\top\\x", L"C:\\top\\x"},
      // A drive on its own, or with a relative name, means that drive's current directory.
      {L"c:name.", L"C:\\work\\here\\name."},
      {L"D:name", L"D:\\d\\cur\\name"},
      {L"D:", L"D:\\d\\cur"},
      {L"E:..\\x", L"E:\\x"},
      // Absolute paths, drive and network, keep every name.
      {L"C:\\a\\b. ", L"C:\\a\\b. "},
      {L"\\\\srv\\share\\a\\..\\b.", L"\\\\srv\\share\\b."},
      {L"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},
  };
  for (const Case& c : cases) EXPECT_EQ(Resolve(c.given), c.resolved) << Narrow(c.given);
}

TEST(ResolvePath, RelativeToANetworkOrExtendedLengthCurrentDirectory) {
  EXPECT_EQ(Resolve(L"x.", L"\\\\srv\\share\\dir"), L"\\\\srv\\share\\dir\\x.");
  EXPECT_EQ(Resolve(L"\\x", L"\\\\srv\\share\\dir"), L"\\\\srv\\share\\x");
  EXPECT_EQ(Resolve(L"..\\..\\..", L"\\\\srv\\share\\dir"), L"\\\\srv\\share\\");
  EXPECT_EQ(Resolve(L"x", L"\\\\?\\C:\\deep"), L"C:\\deep\\x");
  EXPECT_EQ(Resolve(L"x", L"\\\\?\\UNC\\srv\\share"), L"\\\\srv\\share\\x");
}

TEST(ResolvePath, DevicesAndEmptyPathsNameNoFile) {
  for (const Text& path :
       {Text(L""), Text(L"\\\\.\\PhysicalDrive0"), Text(L"//./C:"), Text(L"//?/C:/x")}) {
    try {
      Resolve(path);
      ADD_FAILURE() << Narrow(path);
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number, kFailFileNotFound) << Narrow(path);
    }
  }
}

}  // namespace
}  // namespace morvenit
