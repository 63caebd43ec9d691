#include "platform/long_path.h"

namespace morvenit {

bool IsPlainAbsolute(const Text& path) {
  size_t start;
  const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
                     ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
  if (drive) {
    start = 3;
  } else if (path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\?\\", 0) != 0 &&
             path.rfind(L"\\\\.\\", 0) != 0) {
    start = 2;
  } else {
    return false;
  }
  if (path.find(L'/') != Text::npos) return false;
  for (size_t i = start; i < path.size();) {
    size_t end = path.find(L'\\', i);
    if (end == Text::npos) end = path.size();
    const Text part = path.substr(i, end - i);
    if (part == L"." || part == L".." || (part.empty() && end < path.size())) return false;
    i = end + 1;
  }
  return true;
}

Text ExtendedLengthPath(const Text& path) {
  if (!IsPlainAbsolute(path)) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

}  // namespace morvenit
