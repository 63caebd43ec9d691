// The platform seam on POSIX systems, so that the engine's file behaviour is tested natively on
// real files. There is no window system here: pumping does nothing and message boxes print.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/env.h"

namespace morvenit {

namespace {

// Names are UTF-8 bytes; bytes that are not valid UTF-8 travel as U+DC80..U+DCFF and come back.
// The engine joins paths with backslashes, as on Windows, so a backslash is a separator here too
// (a name that holds one cannot be reached, and so is never touched).
std::string ToBytes(const Text& text) {
  std::string out;
  for (const wchar_t wc : text) {
    const auto c = static_cast<uint32_t>(wc);
    if (c == L'\\') {
      out.push_back('/');
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(static_cast<char>(c - 0xDC00));
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

Text FromBytes(const std::string& bytes) {
  Text out;
  for (size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const size_t len = b < 0x80         ? 1
                       : (b >> 5) == 6  ? 2
                       : (b >> 4) == 14 ? 3
                       : (b >> 3) == 30 ? 4
                                        : 0;
    uint32_t c = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
    bool ok = len > 0 && i + len <= bytes.size();
    for (size_t k = 1; ok && k < len; ++k) {
      const auto cont = static_cast<unsigned char>(bytes[i + k]);
      ok = (cont >> 6) == 2;
      c = (c << 6) | (cont & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8 either.
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (ok) {
      out.push_back(static_cast<wchar_t>(c));
      i += len;
    } else {
      out.push_back(static_cast<wchar_t>(0xDC00 + b));
      ++i;
    }
  }
  return out;
}

Failure FromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
      return FileNotFound();
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EISDIR:
    case EROFS:
      return AccessRefused();
    default: {
      const std::string message = std::strerror(error);
      return Failure{-error, FromBytes(message)};
    }
  }
}

struct stat Lstat(const Text& path) {
  struct stat st;
  if (path.empty()) throw FileNotFound();
  if (::lstat(ToBytes(path).c_str(), &st) != 0) throw FromErrno(errno);
  return st;
}

class PosixFile : public OpenFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  void Write(const char* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw FromErrno(errno);
      if (n == 0) throw FromErrno(ENOSPC);
      data += n;
      size -= static_cast<size_t>(n);
    }
  }
  void Flush() override {
    if (::fdatasync(fd_) != 0) throw FromErrno(errno);
  }
  void Close() override {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw FromErrno(errno);
  }

 private:
  int fd_;
};

class PosixEnv : public Env {
 public:
  Text ProgramFolder() override {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    std::string path = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string("/");
    const size_t slash = path.rfind('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
    return FromBytes(path);
  }

  Text CommandLine() override {
    // The arguments joined as the Windows shell would: by spaces, quoted when they hold one.
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string arg, line;
    while (std::getline(in, arg, '\0')) {
      if (!line.empty()) line += ' ';
      line += arg.find(' ') == std::string::npos ? arg : '"' + arg + '"';
    }
    return FromBytes(line);
  }

  uint32_t GetAttributes(const Text& path) override {
    const struct stat st = Lstat(path);
    if (S_ISLNK(st.st_mode)) {
      struct stat target;
      const bool folder = ::stat(ToBytes(path).c_str(), &target) == 0 && S_ISDIR(target.st_mode);
      return kAttrReparsePoint | (folder ? kAttrDirectory : 0);
    }
    uint32_t attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : 0;
    if (!(st.st_mode & S_IWUSR)) attributes |= kAttrReadOnly;
    return attributes ? attributes : kAttrNormal;
  }

  void SetAttributes(const Text& path, uint32_t attributes) override {
    const struct stat st = Lstat(path);
    if (S_ISLNK(st.st_mode)) return;  // a link has no permissions of its own
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttrReadOnly) ? mode & ~mode_t{0222} : mode | S_IWUSR;
    if (::chmod(ToBytes(path).c_str(), mode) != 0) throw FromErrno(errno);
  }

  uint64_t FileLength(const Text& path) override {
    struct stat st;
    if (path.empty()) throw FileNotFound();
    if (::stat(ToBytes(path).c_str(), &st) != 0) throw FromErrno(errno);
    return static_cast<uint64_t>(st.st_size);
  }

  std::unique_ptr<OpenFile> OpenExisting(const Text& path) override {
    if (path.empty()) throw FileNotFound();
    const int fd = ::open(ToBytes(path).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) throw FromErrno(errno);
    return std::make_unique<PosixFile>(fd);
  }

  void RemoveFile(const Text& path) override {
    if (path.empty()) throw FileNotFound();
    if (::unlink(ToBytes(path).c_str()) != 0) throw FromErrno(errno);
  }

  std::vector<Text> ListFolder(const Text& folder) override {
    if (folder.empty()) throw FileNotFound();
    DIR* dir = ::opendir(ToBytes(folder).c_str());
    if (dir == nullptr) throw FromErrno(errno);
    std::vector<Text> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) names.push_back(FromBytes(entry->d_name));
    const int error = errno;
    ::closedir(dir);
    if (error != 0) throw FromErrno(error);
    return names;
  }

  Text FullPath(const Text& path) override {
    if (path.empty()) throw FileNotFound();
    if (path[0] == L'/' || path[0] == L'\\') return path;
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) throw FromErrno(errno);
    const Text folder = FromBytes(cwd);
    std::free(cwd);
    return folder + L"/" + path;
  }

  void SetCurrentFolder(const Text& folder) override {
    if (folder.empty()) throw FileNotFound();
    if (::chdir(ToBytes(folder).c_str()) != 0) throw FromErrno(errno);
  }

  double SecondsSinceMidnight() override {
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    ::localtime_r(&now.tv_sec, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + now.tv_nsec / 1e9;
  }

  uint64_t NowMicros() override {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000u;
  }

  void PumpMessages() override {}

  void WaitForMessages(int max_ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(max_ms));
  }

  void ShowMessage(const Text& text, const Text& title) override {
    std::fprintf(stderr, "[%s] %s\n", ToBytes(title).c_str(), ToBytes(text).c_str());
  }
};

}  // namespace

Env& Env::Default() {
  static PosixEnv env;
  return env;
}

}  // namespace morvenit
