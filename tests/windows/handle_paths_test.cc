// What only the Win32 side can get wrong: Wine deletes an open file by the path it was opened by,
// a call can fail without saying why, and a file held open elsewhere must read as busy.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/win32.h"
#include "tests/unit/real_tree.h"

namespace morvenit {
namespace {

// A folder on the file's path is renamed while the file is open, and another folder with a file of
// the same name is put in its place: that other file must not be what the delete removes, even
// when it has the same length and every time a program can set.
TEST(DeleteThroughAFolder, NeverRemovesWhatTheOldPathLeadsToNow) {
  TempTree tree;
  tree.File("walked/victim.txt", "mine");
  const std::unique_ptr<Folder> folder = Env::Default().OpenNamedFolder(tree.text() + L"\\walked");
  const std::vector<FolderEntry> entries = folder->List();
  ASSERT_EQ(entries.size(), 1u);
  std::unique_ptr<OpenFile> file = folder->OpenFileEntry(entries[0]);
  ASSERT_TRUE(file);
  file->BeginWriting();
  std::error_code refused;
  fs::rename(tree.root() / "walked", tree.root() / "renamed", refused);
  if (refused) GTEST_SKIP() << "this system refuses to rename a folder holding an open file";
  // A twin made a moment later: the same name and length, and every time a program can set.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  tree.File("walked/victim.txt", "MINE");
  WIN32_FILE_ATTRIBUTE_DATA mine;
  ASSERT_TRUE(::GetFileAttributesExW((tree.text() + L"\\renamed\\victim.txt").c_str(),
                                     GetFileExInfoStandard, &mine));
  {
    const ScopedHandle twin(::CreateFileW((tree.text() + L"\\walked\\victim.txt").c_str(),
                                          FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(twin.valid() && ::SetFileTime(twin.get(), &mine.ftCreationTime,
                                              &mine.ftLastAccessTime, &mine.ftLastWriteTime));
  }

  EXPECT_THROW(file->Delete(), Failure);
  file.reset();
  EXPECT_EQ(ReadAll(tree.root() / "walked/victim.txt"), "MINE");
  EXPECT_EQ(ReadAll(tree.root() / "renamed/victim.txt"), "mine");
}

// A file another program holds open without sharing is busy: worth a few more tries, where a
// refused access is not.
TEST(LastFailure, AFileHeldOpenElsewhereIsBusy) {
  TempTree tree;
  const fs::path path = tree.File("held.txt", "held");
  const ScopedHandle held(
      ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  try {
    Env::Default().OpenNamedFile(ToText(path))->BeginWriting();
    ADD_FAILURE() << "a file held open without sharing opened for writing";
  } catch (const Failure& failure) {
    EXPECT_TRUE(failure.busy) << Narrow(failure.description);
  }
}

TEST(LastFailure, AFailureWithoutAReasonStillReadsAsOne) {
  ::SetLastError(ERROR_SUCCESS);
  const Failure failure = LastFailure();
  EXPECT_NE(failure.number, 0);
  EXPECT_EQ(failure.description.find(L"success"), Text::npos) << Narrow(failure.description);
}

}  // namespace
}  // namespace morvenit
