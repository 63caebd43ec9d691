// A file found or named, open for its attributes or for writing: overwrite, flush, streams,
// renames through its folder, delete.
#ifndef MORVENIT_PLATFORM_FILE_WINDOWS_H_
#define MORVENIT_PLATFORM_FILE_WINDOWS_H_

#include <memory>

#include "platform/env.h"
#include "platform/open_in_folder_windows.h"
#include "platform/wine_only.h"

namespace morvenit {

// The file open as `attributes` (for its attributes), or as `data` (for writing already).
// `folder`: the folder that holds it under `name`, held open, or null where it is not known (one
// that could not be opened; never under Wine). `path`: its whole path as it was reached; `wine`,
// under Wine, its path in Linux's terms and the name Wine knows it by, where they are known
// already.
std::unique_ptr<OpenFile> NewWindowsFile(ScopedHandle attributes, ScopedHandle data,
                                         SharedHandle folder, Text name, Text path,
                                         WineFile wine = {});

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_FILE_WINDOWS_H_
