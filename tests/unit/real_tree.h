// Real folders for the tests that walk the real file system: a private temporary tree, the
// conversions between std::filesystem paths and the engine's texts, and an Env that records what
// the engine asked of the real one.
#ifndef MORVENIT_TESTS_UNIT_REAL_TREE_H_
#define MORVENIT_TESTS_UNIT_REAL_TREE_H_

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tests/fakes/fake_env.h"
#ifdef _WIN32
#include "platform/win32.h"
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#endif

namespace morvenit {

namespace fs = std::filesystem;

// The engine's text for a path: UTF-16 on Windows, one code point a character elsewhere.
inline Text ToText(const fs::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  const std::u32string chars = path.u32string();
  return Text(chars.begin(), chars.end());
#endif
}

// The path for one of the engine's texts, which joins its paths with backslashes everywhere.
inline fs::path ToPath(Text text) {
#ifdef _WIN32
  return fs::path(text);
#else
  std::replace(text.begin(), text.end(), L'\\', L'/');
  return fs::path(std::u32string(text.begin(), text.end()));
#endif
}

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
// A walk leaves the current directory inside the tree, so the previous one is restored first.
class TempTree {
 public:
  TempTree() : saved_cwd_(fs::current_path()) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() / ("morvenit-walk-" + std::to_string(stamp));
    fs::create_directories(root_);
  }
  ~TempTree() {
    std::error_code ignored;
    fs::current_path(saved_cwd_, ignored);
    RemoveTree(text());
    fs::remove(root_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const fs::path& root() const { return root_; }
  Text text() const { return ToText(root_); }

  fs::path Folder(const fs::path& relative) const {
    fs::create_directories(root_ / relative);
    return root_ / relative;
  }
  fs::path File(const fs::path& relative, const std::string& contents) const {
    Folder(relative.parent_path());
    std::ofstream(root_ / relative, std::ios::binary) << contents;
    return root_ / relative;
  }

 private:
  // Listed through the platform: on Windows std::filesystem cannot list a folder deeper than
  // 260 characters. Links are removed, never followed.
  static void RemoveTree(const Text& folder) {
    Env& env = Env::Default();
    std::vector<FolderEntry> entries;
    try {
      entries = env.OpenNamedFolder(folder)->List();
    } catch (const Failure&) {
      return;
    }
    for (const FolderEntry& entry : entries) {
      const Text path = folder + L"\\" + entry.name;
      std::error_code ignored;
      if (!(entry.attributes & kAttrReparsePoint)) {
        try {
          if (entry.attributes & kAttrDirectory) {
            RemoveTree(path);
          } else {
            env.OpenNamedFile(path)->SetAttributes(kAttrNormal);
          }
        } catch (const Failure&) {
        }
      }
      fs::remove(ToPath(path), ignored);
    }
  }

  fs::path saved_cwd_;
  fs::path root_;
};

// Whether the tests run under Wine.
inline bool OnWine() {
#ifdef _WIN32
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

#ifdef _WIN32
// Wine alone: Linux's path for `path`, empty where it has none.
inline std::wstring LinuxPath(const fs::path& path) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unix_name ? unix_name(path.wstring().c_str()) : nullptr;
  if (!name) return std::wstring();
  const std::wstring wide = fs::path(name).wstring();
  ::HeapFree(::GetProcessHeap(), 0, name);
  return wide;
}

// Whether `path` is listed in its folder: Wine lists a FIFO or a socket that no look finds.
inline bool Listed(const fs::path& path) {
  WIN32_FIND_DATAW found;
  return ScopedFind(::FindFirstFileW(path.wstring().c_str(), &found)).valid();
}

// Wine alone: runs the Linux program `program` (a whole path) with `arguments`, as another
// program would, and waits up to 10 s for `made` to be listed, where given: Wine's wait for the
// program may end before its work. Whether `made` is. Paths go as Linux's own: Wine does not
// always start it in the folder asked.
inline bool RunLinux(const std::wstring& program, const std::vector<std::wstring>& arguments,
                     const fs::path& made = fs::path()) {
  std::wstring line = program;
  for (const std::wstring& argument : arguments) line += L" \"" + argument + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return false;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  for (int wait = 0; wait < 1000 && !made.empty() && !Listed(made); ++wait) ::Sleep(10);
  return made.empty() || Listed(made);
}
#endif

// Makes `link`, in the folder `in`, a symbolic link to `target` (relative to that folder), as
// another program would; false where none was made. Wine makes no Linux link (it reports one
// made and makes nothing): there Linux's ln makes it.
inline bool MakeLink(const fs::path& in, const std::string& target, const std::string& link) {
#ifdef _WIN32
  return RunLinux(L"/bin/ln", {L"-s", fs::path(target).wstring(), LinuxPath(in / link)}, in / link);
#else
  std::error_code error;
  fs::create_symlink(target, in / link, error);
  return fs::exists(fs::symlink_status(in / link));
#endif
}

// Makes a Linux socket at `path`, as another program would; false where none was made. Wine
// makes none: there Linux's Python makes it.
inline bool MakeSocket(const fs::path& path) {
#ifdef _WIN32
  return RunLinux(L"/usr/bin/python3",
                  {L"-c", L"import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])",
                   LinuxPath(path)},
                  path);
#else
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  const bool bound = ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(socket);
  return bound;
#endif
}

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a tree holds, by kind, links counted as files and never followed.
struct Inventory {
  std::set<fs::path> files, folders;
};

inline Inventory Take(const fs::path& root) {
  Inventory inventory;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    (entry.is_directory() && !entry.is_symlink() ? inventory.folders : inventory.files)
        .insert(entry.path().lexically_relative(root));
  }
  return inventory;
}

// The real Env, with a record of every path the engine reached, through the folders it holds
// open too. Message boxes are recorded, not shown: under Wine one would wait for a click that
// never comes.
class RecordingEnv : public EnvWrapper {
 public:
  struct Call {
    std::string op;
    Text path;
  };
  std::vector<Call> calls;
  std::vector<Text> messages;
  // Called with a subfolder's path just before the engine enters it through its parent, after
  // the parent was listed: where a test plays the hostile program that swaps it for a link.
  std::function<void(const Text& path)> before_enter;
  // The same just before a named item is opened, and before a file opened already is opened
  // again for writing.
  std::function<void(const Text& path)> before_named;
  std::function<void(const Text& path)> before_writing;
  // The same just before a file is deleted, after the checks before its delete (on a worker).
  std::function<void(const Text& path)> before_delete;

  // The paths given to `op`, in order.
  std::vector<Text> Paths(const std::string& op) const {
    std::vector<Text> out;
    for (const Call& call : calls) {
      if (call.op == op) out.push_back(call.path);
    }
    return out;
  }
  // Deletes are recorded on a worker thread.
  void Record(const char* op, const Text& path) {
    std::lock_guard lock(mutex_);
    calls.push_back({op, path});
  }

  uint32_t GetAttributes(const Text& path) override {
    Record("attributes", path);
    return EnvWrapper::GetAttributes(path);
  }
  std::unique_ptr<OpenFile> OpenNamedFile(const Text& path) override;
  std::unique_ptr<Folder> OpenNamedFolder(const Text& path) override;
  Named OpenNamed(const Text& path) override;
  void SetCurrentFolder(const Text& folder) override {
    Record("current", folder);
    EnvWrapper::SetCurrentFolder(folder);
  }
  void ShowMessage(const Text& text, const Text& title) override {
    messages.push_back(title + L": " + text);
  }

 private:
  std::mutex mutex_;
};

class RecordingFile : public OpenFileWrapper {
 public:
  RecordingFile(RecordingEnv* env, Text path, std::unique_ptr<OpenFile> real)
      : OpenFileWrapper(std::move(real)), env_(env), path_(std::move(path)) {}
  void BeginWriting() override {
    if (env_->before_writing) env_->before_writing(path_);
    OpenFileWrapper::BeginWriting();
  }
  void Delete() override {
    env_->Record("remove", path_);
    if (env_->before_delete) env_->before_delete(path_);
    OpenFileWrapper::Delete();
  }

 private:
  RecordingEnv* env_;
  Text path_;
};

class RecordingFolder : public Folder {
 public:
  RecordingFolder(RecordingEnv* env, Text path, std::unique_ptr<Folder> real)
      : env_(env), path_(std::move(path)), real_(std::move(real)) {}
  std::vector<FolderEntry> List() override {
    env_->Record("list", path_);
    return real_->List();
  }
  std::unique_ptr<Folder> OpenSubfolder(const FolderEntry& entry) override {
    const Text path = Join(entry);
    if (env_->before_enter) env_->before_enter(path);
    env_->Record("enter", path);
    std::unique_ptr<Folder> real = real_->OpenSubfolder(entry);
    if (!real) return nullptr;
    return std::make_unique<RecordingFolder>(env_, path, std::move(real));
  }
  std::unique_ptr<OpenFile> OpenFileEntry(const FolderEntry& entry) override {
    const Text path = Join(entry);
    env_->Record("open", path);
    std::unique_ptr<morvenit::OpenFile> real = real_->OpenFileEntry(entry);
    if (!real) return nullptr;
    return std::make_unique<RecordingFile>(env_, path, std::move(real));
  }

 private:
  Text Join(const FolderEntry& entry) const {
    return path_ + (path_.back() == L'\\' ? L"" : L"\\") + entry.name;
  }
  RecordingEnv* env_;
  Text path_;
  std::unique_ptr<Folder> real_;
};

inline std::unique_ptr<OpenFile> RecordingEnv::OpenNamedFile(const Text& path) {
  Record("open", path);
  std::unique_ptr<OpenFile> real = EnvWrapper::OpenNamedFile(path);
  if (!real) return nullptr;
  return std::make_unique<RecordingFile>(this, path, std::move(real));
}

inline std::unique_ptr<Folder> RecordingEnv::OpenNamedFolder(const Text& path) {
  Record("enter", path);
  return std::make_unique<RecordingFolder>(this, path, EnvWrapper::OpenNamedFolder(path));
}

inline Env::Named RecordingEnv::OpenNamed(const Text& path) {
  if (before_named) before_named(path);
  Named named = EnvWrapper::OpenNamed(path);
  Record(named.file ? "open" : named.folder ? "enter" : "unlink", path);
  if (named.file) named.file = std::make_unique<RecordingFile>(this, path, std::move(named.file));
  if (named.folder) {
    named.folder = std::make_unique<RecordingFolder>(this, path, std::move(named.folder));
  }
  return named;
}

// An engine over the real file system, with a fresh tree and a progress window that records.
struct RealRun {
  EventLog log;
  RecordingEnv env;
  FakeProgress window{&log};
  TempTree tree;
  Engine run{env, window, tree.text(), {Text()}};

  // Whether the status line ever showed: it does only when a file failed.
  bool AnyFileFailed() const {
    return std::find(log.begin(), log.end(), "label2 shown") != log.end();
  }
};

}  // namespace morvenit

#endif  // MORVENIT_TESTS_UNIT_REAL_TREE_H_
