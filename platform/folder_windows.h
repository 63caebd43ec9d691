// A folder held open while it is walked: its listing, and its entries opened through it.
#ifndef MORVENIT_PLATFORM_FOLDER_WINDOWS_H_
#define MORVENIT_PLATFORM_FOLDER_WINDOWS_H_

#include <memory>

#include "platform/env.h"
#include "platform/win32.h"

namespace morvenit {

// The folder open as `handle`. `path`: the folder's whole path as it was reached,
// extended-length, every name as listed.
std::unique_ptr<Folder> NewWindowsFolder(ScopedHandle handle, Text path);

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_FOLDER_WINDOWS_H_
