#include "platform/long_path.h"

#include <vector>

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

namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool HasDrive(const Text& path) {
  return path.size() >= 2 && path[1] == L':' && IsDriveLetter(path[0]);
}
wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

// Splits an absolute classic path into its root ("C:" or "\\server\share") and the rest.
void SplitRoot(const Text& path, Text& root, Text& rest) {
  if (HasDrive(path)) {
    root = path.substr(0, 2);
    rest = path.substr(2);
    return;
  }
  // "\\server\share\rest": the root takes the first two names.
  size_t end = path.find(L'\\', 2);
  end = end == Text::npos ? path.size() : path.find(L'\\', end + 1);
  if (end == Text::npos) end = path.size();
  root = path.substr(0, end);
  rest = path.substr(end);
}

// The current directory in classic form, whichever form the system gave it in.
Text Classic(const Text& folder) {
  if (folder.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + folder.substr(8);
  if (folder.rfind(L"\\\\?\\", 0) == 0) return folder.substr(4);
  return folder;
}

}  // namespace

Text ResolvePath(const Text& given, const Text& current,
                 const std::function<Text(wchar_t drive)>& drive_current) {
  if (given.empty()) throw FileNotFound();
  if (given.rfind(L"\\\\?\\", 0) == 0) return given;
  Text path = given;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  // "\\.\" and "\\?\" written with forward slashes name devices, never a file to shred.
  if (path.rfind(L"\\\\.\\", 0) == 0 || path.rfind(L"\\\\?\\", 0) == 0) throw FileNotFound();

  Text root, rest;
  const Text here = Classic(current);
  if (path.rfind(L"\\\\", 0) == 0) {
    SplitRoot(path, root, rest);  // UNC
  } else if (HasDrive(path) && path.size() > 2 && path[2] == L'\\') {
    SplitRoot(path, root, rest);
  } else if (HasDrive(path)) {
    // "D:name": relative to that drive's own current directory.
    Text base = Upper(path[0]) == Upper(here.empty() ? 0 : here[0]) && HasDrive(here)
                    ? here
                    : Classic(drive_current(Upper(path[0])));
    if (!HasDrive(base)) base = Text(1, Upper(path[0])) + L":";
    SplitRoot(base, root, rest);
    rest += L"\\" + path.substr(2);
  } else if (path[0] == L'\\') {
    Text ignored;
    SplitRoot(here, root, ignored);  // the current drive's root
    rest = path;
  } else {
    SplitRoot(here, root, rest);
    rest += L"\\" + path;
  }

  std::vector<Text> names;
  for (size_t i = 0; i <= rest.size();) {
    size_t end = rest.find(L'\\', i);
    if (end == Text::npos) end = rest.size();
    const Text name = rest.substr(i, end - i);
    if (name == L"..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != L".") {
      names.push_back(name);
    }
    i = end + 1;
  }
  Text out = root;
  for (const Text& name : names) out += L"\\" + name;
  if (names.empty()) out += L"\\";
  return out;
}

Text ExtendedLengthPath(const Text& path) {
  if (!IsPlainAbsolute(path)) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

}  // namespace morvenit
