// Real folders for the tests that walk the real file system: a private temporary tree, the
// conversions between std::filesystem paths and the engine's texts, and an Env that records what
// the engine asked of the real one.
#ifndef MORVENIT_TESTS_UNIT_REAL_TREE_H_
#define MORVENIT_TESTS_UNIT_REAL_TREE_H_

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/fakes/fake_env.h"

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
    std::vector<Text> names;
    try {
      names = env.ListFolder(folder);
    } catch (const Failure&) {
      return;
    }
    for (const Text& name : names) {
      if (name == L"." || name == L"..") continue;
      const Text path = folder + L"\\" + name;
      std::error_code ignored;
      try {
        const uint32_t attributes = env.GetAttributes(path);
        if ((attributes & kAttrDirectory) && !(attributes & kAttrReparsePoint)) RemoveTree(path);
        env.SetAttributes(path, kAttrNormal);
      } catch (const Failure&) {
      }
      fs::remove(ToPath(path), ignored);
    }
  }

  fs::path saved_cwd_;
  fs::path root_;
};

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

// The real Env, with a record of every path the engine handed it. Message boxes are recorded,
// not shown: under Wine one would wait for a click that never comes.
class RecordingEnv : public EnvWrapper {
 public:
  struct Call {
    std::string op;
    Text path;
  };
  std::vector<Call> calls;
  std::vector<Text> messages;

  // The paths given to `op`, in order.
  std::vector<Text> Paths(const std::string& op) const {
    std::vector<Text> out;
    for (const Call& call : calls) {
      if (call.op == op) out.push_back(call.path);
    }
    return out;
  }

  uint32_t GetAttributes(const Text& path) override {
    return Record("attributes", path).GetAttributes(path);
  }
  void SetAttributes(const Text& path, uint32_t attributes) override {
    Record("set-attributes", path).SetAttributes(path, attributes);
  }
  uint64_t FileLength(const Text& path) override { return Record("length", path).FileLength(path); }
  std::unique_ptr<OpenFile> OpenExisting(const Text& path) override {
    return Record("open", path).OpenExisting(path);
  }
  void RemoveFile(const Text& path) override { Record("remove", path).RemoveFile(path); }
  std::vector<Text> ListFolder(const Text& folder) override {
    return Record("list", folder).ListFolder(folder);
  }
  void SetCurrentFolder(const Text& folder) override {
    Record("enter", folder).SetCurrentFolder(folder);
  }
  void ShowMessage(const Text& text, const Text& title) override {
    messages.push_back(title + L": " + text);
  }

 private:
  Env& Record(const char* op, const Text& path) {
    calls.push_back({op, path});
    return real_;
  }
  Env& real_ = Env::Default();
};

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
