// What only the Win32 side can get wrong: Wine deletes an open file by the path it was opened by,
// a call can fail without saying why, a file held open elsewhere must read as busy, and Wine
// must be known for what it is.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/nt_calls.h"
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

// A subfolder that another program holds open sharing only reads is walked all the same (Wine
// alone asks for more there, for the flush): its file is reached and goes, and the flush after
// it fails nothing.
TEST(WalkedFolder, HeldElsewhereSharingOnlyReadsIsStillWalked) {
  TempTree tree;
  tree.File("top/sub/file.txt", "data");
  const ScopedHandle held(::CreateFileW((tree.text() + L"\\top\\sub").c_str(), FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(held.valid());
  const std::unique_ptr<Folder> top = Env::Default().OpenNamedFolder(tree.text() + L"\\top");
  const std::unique_ptr<Folder> sub = top->OpenSubfolder(top->List().at(0));
  ASSERT_TRUE(sub);
  std::unique_ptr<OpenFile> file = sub->OpenFileEntry(sub->List().at(0));
  ASSERT_TRUE(file);
  file->Delete();
  file->FlushFolder();
  EXPECT_FALSE(fs::exists(tree.root() / "top/sub/file.txt"));
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

// Wine is known by either of its signs that only Wine gives: a Wine build that hides ntdll's
// export, or its Linux namespace shut, still takes the Wine path; with both hidden the same calls
// show Windows, although Wine's keys are in this registry, as a stray one may be on Windows.
TEST(UnderWine, EitherSignIsEnoughItsKeysAreNone) {
  if (!Nt().under_wine) GTEST_SKIP() << "not under Wine";
  HKEY key;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ, &key), 0);
  ::RegCloseKey(key);
  for (int shown = 0; shown < 4; ++shown) {  // one bit a sign: export, namespace
    NtCalls calls = Nt();
    if (!(shown & 1)) calls.WineGetVersion = nullptr;
    if (!(shown & 2)) {
      calls.CreateFile = [](HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                            LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG) {
        return static_cast<NTSTATUS>(0xC000003A);  // no such path
      };
    }
    EXPECT_EQ(SeesWine(calls), shown != 0) << "signs shown: " << shown;
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
