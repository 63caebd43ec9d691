// A file found or named, open for its attributes or for writing: overwrite, flush, streams,
// renames through its folder, delete.
#ifndef MORVENIT_PLATFORM_FILE_WINDOWS_H_
#define MORVENIT_PLATFORM_FILE_WINDOWS_H_

#include <memory>

#include "platform/env.h"
#include "platform/open_in_folder_windows.h"

namespace morvenit {

// The file open as `attributes` (for its attributes), or as `data` (for writing already).
// `folder`: the folder that holds it under `name`, held open, or null where it is not known (a
// link the user named). `path`: its whole path as it was reached; `unix_path`, under Wine, the
// same in Linux's terms where it is known already.
std::unique_ptr<OpenFile> NewWindowsFile(ScopedHandle attributes, ScopedHandle data,
                                         SharedHandle folder, Text name, Text path,
                                         Text unix_path = Text());

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_FILE_WINDOWS_H_
