// Extended-length paths, so that the system takes every name literally and at any length: trees
// deeper than the classic 260-character limit, and names the classic form would change.
#ifndef MORVENIT_PLATFORM_LONG_PATH_H_
#define MORVENIT_PLATFORM_LONG_PATH_H_

#include <functional>

#include "platform/env.h"

namespace morvenit {

// The classic limit of a Win32 path, terminator included.
inline constexpr size_t kClassicPathLimit = 260;

// Whether `path` is absolute and already in the form GetFullPathNameW gives ("C:\a\b",
// "\\srv\share\a", at most one trailing backslash): no "/", no "." or ".." components.
bool IsPlainAbsolute(const Text& path);

// Returns a plain absolute path with the extended-length prefix, whatever its length:
// "C:\a" -> "\\?\C:\a", "\\srv\share\a" -> "\\?\UNC\srv\share\a". The classic form would drop a
// name's trailing dots and spaces and open a file named "nul" or "con" as a device, so a walk
// could miss a file or hit another. Any other path (already prefixed, relative, with "." or
// "..") is returned unchanged.
Text ExtendedLengthPath(const Text& path);

// Returns `path` made absolute as the system resolves a path, "/" read as "\\", "." and ".."
// taken away, but every name kept exactly as given: the classic resolution would drop a name's
// trailing dots and spaces and so name another file. `current` is the current directory;
// `drive_current` gives another drive's current directory (empty: its root). A path already in
// extended-length form is returned as it is. Raises 53 for an empty path or a device path.
Text ResolvePath(const Text& path, const Text& current,
                 const std::function<Text(wchar_t drive)>& drive_current);

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_LONG_PATH_H_
