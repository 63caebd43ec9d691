// Extended-length paths, so that trees deeper than the classic 260-character limit can be
// emptied on Windows.
#ifndef MORVENIT_PLATFORM_LONG_PATH_H_
#define MORVENIT_PLATFORM_LONG_PATH_H_

#include "platform/env.h"

namespace morvenit {

// The classic limit of a Win32 path, terminator included.
inline constexpr size_t kClassicPathLimit = 260;

// Returns `full_path` (absolute and normalised, as GetFullPathNameW gives it) in the form the
// Win32 file functions accept at any length: "C:\a" -> "\\?\C:\a", "\\srv\share\a" ->
// "\\?\UNC\srv\share\a". Paths that already carry a "\\?\" or "\\.\" prefix, and paths short
// enough for the classic limit, are returned unchanged.
Text ExtendedLengthPath(const Text& full_path);

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_LONG_PATH_H_
