// Checks that exist for Wine alone, because Wine does by a file's path what Windows does by its
// handle. Nothing here runs on Windows.
#ifndef MORVENIT_PLATFORM_WINE_ONLY_H_
#define MORVENIT_PLATFORM_WINE_ONLY_H_

#include <optional>

#include "platform/env.h"
#include "platform/nt_calls.h"

namespace morvenit {

// FILE_NETWORK_OPEN_INFORMATION, which not every SDK declares.
struct NetworkOpenInfo {
  LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime, AllocationSize, EndOfFile;
  ULONG FileAttributes;
};

// What a file open for writing keeps for the checks around its delete.
struct WineFile {
  // The path in Linux's terms (found at the open, where a file Wine cannot reach by a path is
  // refused before a byte is written), and what it showed before the delete.
  Text unix_path;
  std::optional<NetworkOpenInfo> checked;
  LONGLONG id = 0;
  // The name Wine knows the file by (ObjectPath), where it is known from the open.
  Text object_path;
};

// The file's path in Wine's own namespace of Linux paths ("\\??\\unix\\..."). There a name that
// is not found is simply not found; by a drive letter, Wine would read the whole folder in search
// of a name that differs only in case. A name Linux keeps in bytes that are not UTF-8 has no such
// path, and keeps its usual one. Raises TooDeep() when Wine cannot reach the file by any path
// (Linux takes at most 4,096 bytes a path, Wine's own folder in front included), and Changed()
// when the path does not lead to the file.
Text UnixNtPath(const Text& path);

// The name the system knows an open file or folder by: its whole path as the system's own
// objects name it (a link resolved), in a form only ever compared with another of its kind.
Text ObjectPath(HANDLE handle);

// Whether the handle opened as `name` in the folder whose object path is `folder` is that entry
// itself. There a link to a file opens as its target, and neither the listing nor the handle shows
// a reparse point or a number of its own; only the path of what was opened differs. The handle's
// object path goes to `object_path`, where given.
bool IsEntryOf(Text folder, HANDLE handle, const Text& name, Text* object_path = nullptr);

// Whether the file or folder open as `handle`, opened as `name` in the folder held open as `folder`
// (whose path, as named, is `folder_path`; `path`: the whole path), is that entry itself and not
// what a link of that name leads to: a link opens as its target, and neither the handle nor the
// listing shows it; only the name Wine knows the handle by tells. Raises Changed() when
// `folder_path` leads elsewhere by now.
bool IsNamedEntry(HANDLE folder, const Text& folder_path, HANDLE handle, const Text& name,
                  const Text& path);

// Whether `object_path` leads somewhere else than to the folder open as `folder` (other times,
// seen along the path and through the handle), or nowhere. Wine opens whatever is inside a folder
// along the path it opened the folder by, so a folder swapped for a link since would have it all
// opened elsewhere. A path too long for Wine to follow tells nothing: false.
bool FolderMovedFrom(const Text& object_path, HANDLE folder);

// Whether the file open is the one its object path leads to now, by its times and length, seen
// along the path and through the handle.
bool NamedByItsObjectPath(HANDLE handle);

// Why Linux refuses every write on the file system that holds `unix_path` (UnixNtPath's), as
// Windows would say it: ERROR_NOT_READY where Linux turned it read-only as its device failed (a
// stick pulled out), ERROR_WRITE_PROTECT where it is mounted read-only; 0 where it takes writes
// or nobody can tell. Wine tells such a refusal as access refused.
DWORD WritesRefusedFor(const Text& unix_path);

// Before the delete of the file open as `data`: raises Changed() unless `file.unix_path` still
// leads to this very file, and notes what it showed in `file`.
void EnsurePathLeadsHere(WineFile& file, HANDLE data);

// Just before the last handle `data` closes: raises KeepsGrowing() or WrittenAfter(), with the
// delete taken back and `delete_prepared` cleared, when the file has grown or been written to
// since EnsurePathLeadsHere.
void EnsureUnchanged(const WineFile& file, HANDLE data, bool& delete_prepared);

// After the delete: raises NotDeleted() when the file is still there, its attributes handle put
// back in `attributes` where it is found. `folder`: the folder held open that holds it under
// `name`, or null.
void ConfirmGone(const WineFile& file, HANDLE folder, const Text& name, ScopedHandle& attributes);

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_WINE_ONLY_H_
