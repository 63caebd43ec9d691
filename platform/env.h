// The one seam between Morvenit's portable core and the platform it runs on: the file system,
// the process, the clocks, the message pump and the message box. There is one implementation per
// platform (env_windows.cc, env_posix.cc) and a fake for tests; the core never includes
// <windows.h>.
#ifndef MORVENIT_PLATFORM_ENV_H_
#define MORVENIT_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvenit {

// Paths and texts are wide strings: UTF-16 on Windows, and on POSIX one code point a character
// (bytes that are not UTF-8 are carried as U+DC80..U+DCFF, so every name round-trips).
using Text = std::wstring;

// File attribute bits, valued as Windows' own so that they pass through unchanged.
inline constexpr uint32_t kAttrReadOnly = 0x1;
inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrSystem = 0x4;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kAttrReparsePoint = 0x400;

// Failure numbers the program tells apart. Every other platform error carries a negative number
// (an HRESULT on Windows, minus errno on POSIX), so it can never be mistaken for one of these.
inline constexpr int32_t kFailSubscript = 9;      // "Subscript out of range"
inline constexpr int32_t kFailFileNotFound = 53;  // "File not found"
inline constexpr int32_t kFailAccess = 75;        // "Path/File access error"

// A failure raised by the platform or the engine. Failures are raised, never returned.
struct Failure {
  int32_t number;
  Text description;
};

inline Failure FileNotFound() { return {kFailFileNotFound, L"File not found"}; }
inline Failure AccessRefused() { return {kFailAccess, L"Path/File access error"}; }

// Raised to end the program at once (a cancel seen during a wait). It is not a Failure, so no
// handler of failures can swallow it; only start-up catches it.
struct EndProgram {};

// A file opened by Env::OpenExisting. Destroying it closes it and ignores any error.
class OpenFile {
 public:
  virtual ~OpenFile() = default;

  // Writes all `size` bytes at the current position and advances it; raises Failure otherwise.
  virtual void Write(const char* data, size_t size) = 0;
  // Returns once everything written so far is on the storage device; raises Failure otherwise.
  virtual void Flush() = 0;
  // Closes the file; raises Failure when the system reports an error. Later calls do nothing.
  virtual void Close() = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // Returns the environment of the platform the program was built for. Never fails.
  static Env& Default();

  // Returns the folder of the program's executable, without a trailing separator unless it is a
  // root. Never fails.
  virtual Text ProgramFolder() = 0;
  // Returns the whole command line, the program's own path first, exactly as the system holds it.
  // Never fails.
  virtual Text CommandLine() = 0;

  // Returns the attributes of `path` (kAttr*). Raises 53 for an empty or missing path, 75 when
  // access is refused, another Failure otherwise. A link is reported as itself, with
  // kAttrReparsePoint (plus kAttrDirectory when it points at a folder), never as its target.
  virtual uint32_t GetAttributes(const Text& path) = 0;
  // Sets the attributes of `path`; kAttrNormal clears read-only, hidden, system and archive.
  // Raises Failure as GetAttributes does.
  virtual void SetAttributes(const Text& path, uint32_t attributes) = 0;
  // Returns the length of the file in bytes (64-bit). Raises Failure as GetAttributes does.
  virtual uint64_t FileLength(const Text& path) = 0;
  // Opens an existing file for reading and writing at its first byte, never creating or
  // truncating it, shared with nobody. Raises 53 when missing, 75 when refused (a folder, a file
  // in use), another Failure otherwise.
  virtual std::unique_ptr<OpenFile> OpenExisting(const Text& path) = 0;
  // Deletes the file `path` (a link itself, never its target). Raises Failure as OpenExisting.
  virtual void RemoveFile(const Text& path) = 0;
  // Returns the names of every entry in `folder`, "." and ".." included, whatever their
  // attributes, in the platform's listing order. Raises Failure when the folder cannot be listed.
  virtual std::vector<Text> ListFolder(const Text& folder) = 0;
  // Returns `path` made absolute against the current directory, as the system would resolve it
  // when opening it. Raises 53 for an empty path, another Failure when it cannot be resolved.
  virtual Text FullPath(const Text& path) = 0;
  // Makes `folder` the process's current directory. Raises Failure when it cannot be entered.
  virtual void SetCurrentFolder(const Text& folder) = 0;

  // Returns the local time of day in seconds since midnight, with fractions. Never fails.
  virtual double SecondsSinceMidnight() = 0;
  // Returns a monotonic clock in microseconds, for measuring elapsed time. Never fails.
  virtual uint64_t NowMicros() = 0;

  // Processes every pending window message of this thread (painting, timer ticks, clicks) and
  // returns. Never fails.
  virtual void PumpMessages() = 0;
  // Blocks until a window message arrives or `max_ms` milliseconds pass, without processing
  // anything. Never fails.
  virtual void WaitForMessages(int max_ms) = 0;
  // Shows a modal message box with an OK button and no icon; returns when it is dismissed.
  virtual void ShowMessage(const Text& text, const Text& title) = 0;
};

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_ENV_H_
