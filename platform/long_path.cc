#include "platform/long_path.h"

namespace morvenit {

Text ExtendedLengthPath(const Text& full_path) {
  // Folders must leave room for an 8.3 name, hence the margin of 12.
  if (full_path.size() < kClassicPathLimit - 12) return full_path;
  if (full_path.rfind(L"\\\\?\\", 0) == 0 || full_path.rfind(L"\\\\.\\", 0) == 0) return full_path;
  if (full_path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full_path.substr(2);
  return L"\\\\?\\" + full_path;
}

}  // namespace morvenit
