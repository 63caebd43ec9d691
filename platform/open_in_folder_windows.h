// Opening a name inside a folder held open, never through a link, and proving by the file's number
// that it is the entry listed; with the queries that tell what an open file or folder is.
#ifndef MORVENIT_PLATFORM_OPEN_IN_FOLDER_WINDOWS_H_
#define MORVENIT_PLATFORM_OPEN_IN_FOLDER_WINDOWS_H_

#include <cstdint>
#include <memory>

#include "platform/env.h"
#include "platform/nt_calls.h"

#ifndef FILE_OPEN_REPARSE_POINT
#define FILE_OPEN_REPARSE_POINT 0x00200000
#endif
#ifndef FILE_OPEN_FOR_BACKUP_INTENT
#define FILE_OPEN_FOR_BACKUP_INTENT 0x00004000
#endif
#ifndef FILE_DIRECTORY_FILE
#define FILE_DIRECTORY_FILE 0x00000001
#endif
#ifndef FILE_NON_DIRECTORY_FILE
#define FILE_NON_DIRECTORY_FILE 0x00000040
#endif
#ifndef FILE_SYNCHRONOUS_IO_NONALERT
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#endif
#ifndef FILE_OPEN
#define FILE_OPEN 0x00000001
#endif

namespace morvenit {

inline constexpr NTSTATUS kStatusObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033);
// Wine alone: a Linux socket cannot be opened at all ("no such device").
inline constexpr NTSTATUS kStatusNoSuchDevice = static_cast<NTSTATUS>(0xC000000E);
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
inline constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;
// A folder's flush asks for a handle that may write, which for a folder is one that may add files.
inline constexpr DWORD kFolderFlushAccess = FILE_ADD_FILE;
// Opening a file for its attributes alone is refused by no other program's share mode: the way in
// for a file that cannot be opened for writing at once.
inline constexpr DWORD kAttributeAccess =
    FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
// What the overwrite, its flush, the renames and the delete need.
inline constexpr DWORD kDataAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

// A folder held open, shared by the folder object that walks it and the files found in it, which
// are renamed through it.
using SharedHandle = std::shared_ptr<ScopedHandle>;

// The failure a system status stands for.
Failure FromStatus(NTSTATUS status);

// The system's counted form of `text`, which must outlive it. A text too long for it is refused,
// never cut: a path cut short names another file.
UNICODE_STRING Counted(const Text& text);

// The system's own form of an extended-length path ("\\?\C:\..." -> "\??\C:\...").
Text NtPath(const Text& path);

// Asks the open `handle` for its information of class `info_class`; returns the status.
template <typename Info>
NTSTATUS Query(HANDLE handle, ULONG info_class, Info& info) {
  IO_STATUS_BLOCK io;
  return Nt().QueryInformationFile(handle, &io, &info, sizeof info, info_class);
}

// The same, raising the failure where the query fails.
template <typename Info>
Info MustQuery(HANDLE handle, ULONG info_class) {
  Info info;
  const NTSTATUS status = Query(handle, info_class, info);
  if (status < 0) throw FromStatus(status);
  return info;
}

// What an open file or folder is: its attributes, which every file system gives, and for a
// reparse point its tag. FAT answers no tag query ("invalid parameter"): it has no reparse points.
struct Look {
  uint32_t attributes = 0;
  uint32_t tag = 0;
};

// What the open `handle` is.
Look LookAt(HANDLE handle);

// Raises NotData() unless the open `handle` is a file that holds data.
void EnsureHoldsData(HANDLE handle);

// Raises NamesDevice() unless the open `handle`, opened by a path the user gave, is a file or a
// folder on a file system: never a device, nor a disk or volume opened as a whole.
void EnsureNamedOnFileSystem(HANDLE handle);

// Which file the open `handle` reached. `object_path`: under Wine, the name Wine knows it by,
// where known already (ObjectPath).
FileNumber NumberOf(HANDLE handle, const Text& object_path = Text());

// Opens the file or folder open as `first` once more, for `access`, and proves it the same file.
// Raises Changed() when what the system opened is another file, another Failure when it cannot
// be opened.
ScopedHandle ReopenSame(HANDLE first, ACCESS_MASK access, ULONG options, ULONG share);

// A file number the file system did not give: ReFS numbers that need 128 bits.
bool Missing(uint64_t id);

// Opens `name` inside `folder` (a path when `folder` is null), never following a link the system
// would resolve itself unless `follow`. Returns the status instead of raising.
NTSTATUS OpenIn(HANDLE folder, const Text& name, ACCESS_MASK access, ULONG options,
                ScopedHandle& out, ULONG share = kShareAll, bool follow = false);

// The name to open the entry by: its own, or where Windows forbids that (a name made on another
// system) its 8.3 short name. Raises UnreachableName() when neither will do.
const Text& ReachableName(const FolderEntry& entry);

// Opens the entry of `folder` by the name it can be reached by, following no link. Returns null
// when it is a link, as listed; raises Changed() when it is not the entry listed, FileNotFound()
// when it is gone or going (its delete pending). `path` is the entry's whole path; for a file
// under Wine, `unix_path` gets it in Linux's terms and `object_path` the name Wine knows it by.
// `folder_path` is the folder's object path as last seen (Wine alone), looked up again when it no
// longer fits (the folder was renamed meanwhile).
ScopedHandle OpenEntry(HANDLE folder, Text& folder_path, const FolderEntry& entry, const Text& path,
                       ACCESS_MASK access, ULONG options, ULONG share, Look& look,
                       Text* unix_path = nullptr, Text* object_path = nullptr);

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_OPEN_IN_FOLDER_WINDOWS_H_
