// The platform seam on POSIX systems, so that the engine's file behaviour is tested natively on
// real files. There is no window system here: pumping does nothing and message boxes print.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <utility>

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
    case EBUSY:
    case ETXTBSY:  // a program that is running
      return HeldElsewhere();
    case EACCES:
    case EPERM:
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

// A descriptor that closes itself; shared between a folder and the files opened in it.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The file open as `fd` opened once more, for `flags`, by its descriptor: never by a path.
Descriptor Reopen(int fd, int flags) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const int again = ::open(self.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (again < 0) throw FromErrno(errno);
  return Descriptor(again);
}

uint32_t AttributesOf(const struct stat& st) {
  uint32_t attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : 0;
  if (!(st.st_mode & S_IWUSR)) attributes |= kAttrReadOnly;
  return attributes ? attributes : kAttrNormal;
}

// A file reached as `name` inside the folder `folder`, which it is deleted from.
class PosixFile : public OpenFile {
 public:
  PosixFile(std::shared_ptr<Descriptor> folder, std::string name, int fd)
      : folder_(std::move(folder)), name_(std::move(name)), fd_(fd) {}

  FileInfo Info() override {
    const struct stat st = Stat(fd_.get());
    // No times: with no share modes here, the program's own second open of a file named twice
    // would pass for another program writing to it.
    return {AttributesOf(st),
            static_cast<uint64_t>(st.st_size),
            static_cast<uint32_t>(st.st_nlink),
            0,
            {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}};
  }

  void SetAttributes(uint32_t attributes) override {
    const mode_t mode = Stat(fd_.get()).st_mode & 07777;
    if (::fchmod(fd_.get(), (attributes & kAttrReadOnly) ? mode & ~mode_t{0222} : mode | S_IWUSR) !=
        0) {
      throw FromErrno(errno);
    }
  }

  void BeginWriting() override {
    // The very file open, whatever its name leads to by now: Linux reopens it by its descriptor.
    fd_ = Reopen(fd_.get(), O_RDWR);
  }

  void Write(const char* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_.get(), data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw FromErrno(errno);
      if (n == 0) throw FromErrno(ENOSPC);
      data += n;
      size -= static_cast<size_t>(n);
    }
  }

  void Flush() override {
    if (::fdatasync(fd_.get()) != 0) throw FromErrno(errno);
  }

  void Rewind() override {
    if (::lseek(fd_.get(), 0, SEEK_SET) != 0) throw FromErrno(errno);
  }

  void FlushFolder() override {
    if (::fsync(folder_->get()) != 0 && errno != EINVAL) throw FromErrno(errno);
  }

  // Linux takes no lock between a file's writes and an fdatasync of it, and writes a file's pages
  // out behind the writer only once the cache is far fuller.
  bool FlushesWhileWritten() override { return true; }

  void Close() override {
    const int fd = fd_.release();
    if (fd >= 0 && ::close(fd) != 0) throw FromErrno(errno);
  }

  // POSIX files have no named data streams.
  std::vector<StreamInfo> Streams() override { return {}; }
  std::unique_ptr<Writable> OpenStream(const Text&) override { throw FileNotFound(); }

  void Rename(const Text& name) override {
    const std::string to = ToBytes(name);
    if (::renameat2(folder_->get(), name_.c_str(), folder_->get(), to.c_str(), RENAME_NOREPLACE) !=
        0) {
      throw FromErrno(errno);
    }
    name_ = to;
  }

  void Delete() override {
    struct stat there;
    if (::fstatat(folder_->get(), name_.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
      throw FromErrno(errno);
    }
    if (!SameFile(there, Stat(fd_.get()))) throw Changed();
    if (::unlinkat(folder_->get(), name_.c_str(), 0) != 0) throw FromErrno(errno);
    Close();
  }

 private:
  static struct stat Stat(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) throw FromErrno(errno);
    return st;
  }
  static bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }

  std::shared_ptr<Descriptor> folder_;
  std::string name_;
  Descriptor fd_;
};

// Opens `name` inside the folder for its attributes, never through a link: null for a link.
// `listed_id`, where not 0, is the inode its folder's listing gave: another file put in its place
// since then is refused.
std::unique_ptr<OpenFile> OpenFileIn(std::shared_ptr<Descriptor> folder, const std::string& name,
                                     uint64_t listed_id = 0) {
  // Non-blocking, so that a pipe found in a folder cannot hang the walk.
  const int fd =
      ::openat(folder->get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ELOOP) return nullptr;
  if (fd < 0 && errno == ENXIO) throw NotData();  // a socket, which opens as nothing
  if (fd < 0) throw FromErrno(errno);
  Descriptor file(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0) throw FromErrno(errno);
  if (listed_id != 0 && st.st_ino != listed_id) throw Changed();
  if (S_ISDIR(st.st_mode)) throw AccessRefused();
  if (!S_ISREG(st.st_mode)) throw NotData();  // a pipe, a device
  return std::make_unique<PosixFile>(std::move(folder), name, file.release());
}

class PosixFolder : public Folder {
 public:
  explicit PosixFolder(int fd) : fd_(std::make_shared<Descriptor>(fd)) {}

  std::vector<FolderEntry> List() override {
    const int fd = ::openat(fd_->get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw FromErrno(errno);
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
      ::close(fd);
      throw FromErrno(errno);
    }
    std::vector<FolderEntry> entries;
    errno = 0;
    while (const dirent* record = ::readdir(dir)) {
      const std::string name = record->d_name;
      if (name == "." || name == "..") continue;
      FolderEntry entry;
      entry.name = FromBytes(name);
      struct stat st;
      const bool there = ::fstatat(fd_->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
      // The inode as an open shows it: for a mount point its mounted root's, where d_ino has the
      // one beneath.
      entry.id = there ? st.st_ino : record->d_ino;
      if (!there) {
        entry.attributes = kAttrNormal;  // gone already: opening it will say so
      } else if (S_ISLNK(st.st_mode)) {
        entry.attributes = kAttrReparsePoint;
        entry.reparse_tag = kReparseTagSymlink;
      } else {
        entry.attributes = AttributesOf(st);
      }
      entries.push_back(std::move(entry));
      errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) throw FromErrno(error);
    return entries;
  }

  std::unique_ptr<Folder> OpenSubfolder(const FolderEntry& entry) override {
    const int fd = ::openat(fd_->get(), ToBytes(entry.name).c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP) return nullptr;
    if (fd < 0) throw FromErrno(errno);
    Descriptor folder(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0) throw FromErrno(errno);
    // Another folder put in its place since the listing is not the one to walk.
    if (entry.id != 0 && st.st_ino != entry.id) throw Changed();
    return std::make_unique<PosixFolder>(folder.release());
  }

  std::unique_ptr<OpenFile> OpenFileEntry(const FolderEntry& entry) override {
    return OpenFileIn(fd_, ToBytes(entry.name), entry.id);
  }

 private:
  std::shared_ptr<Descriptor> fd_;
};

// Removes the link `path`, as `st` showed it, from its folder: only that very link, never what
// stands under its name by now.
void RemoveLink(const std::string& path, const struct stat& st) {
  const size_t slash = path.rfind('/');
  const std::string folder_path = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  const int fd = ::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FromErrno(errno);
  const Descriptor folder(fd);
  struct stat there;
  if (::fstatat(fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) throw FromErrno(errno);
  if (there.st_dev != st.st_dev || there.st_ino != st.st_ino) throw Changed();
  if (::unlinkat(fd, name.c_str(), 0) != 0) throw FromErrno(errno);
}

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
    return AttributesOf(st);
  }

  Named OpenNamed(const Text& path) override {
    if (path.empty()) throw FileNotFound();
    // The one look at the path, following the links along it but not a last name that is one; a
    // path-only descriptor, so that not even a device's driver is asked to open.
    const std::string bytes = ToBytes(path);
    const int fd = ::open(bytes.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw FromErrno(errno);
    const Descriptor named(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0) throw FromErrno(errno);
    if (S_ISLNK(st.st_mode)) {
      RemoveLink(bytes, st);
      return {};
    }
    if (S_ISDIR(st.st_mode)) {
      return {nullptr, std::make_unique<PosixFolder>(Reopen(fd, O_RDONLY | O_DIRECTORY).release())};
    }
    if (!S_ISREG(st.st_mode)) throw NamesDevice();
    Descriptor file = Reopen(fd, O_RDONLY);
    // The folder it is deleted from, found from the file itself, and the name it has there. The
    // delete goes only when that name still leads to this very file.
    char buffer[4096];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
    if (n <= 0 || n == sizeof buffer) throw FromErrno(n < 0 ? errno : ENAMETOOLONG);
    const std::string full(buffer, static_cast<size_t>(n));
    const size_t slash = full.rfind('/');
    const int folder = ::open(slash == 0 ? "/" : full.substr(0, slash).c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) throw FromErrno(errno);
    return {std::make_unique<PosixFile>(std::make_shared<Descriptor>(folder),
                                        full.substr(slash + 1), file.release()),
            nullptr};
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
