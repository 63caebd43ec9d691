#include "tests/fakes/fake_env.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace morvenit {

namespace {

// Files are flushed and deleted on worker threads: every fake serializes on this.
std::recursive_mutex& FakeLock() {
  static std::recursive_mutex lock;
  return lock;
}
using Guard = std::lock_guard<std::recursive_mutex>;

Text Key(const Text& path) {
  Text key = path;
  while (key.size() > 1 && key.back() == L'\\') key.pop_back();
  return key;
}

Text Parent(const Text& key) {
  const size_t slash = key.rfind(L'\\');
  return slash == Text::npos ? Text() : key.substr(0, slash);
}

// A named data stream of a fake file, reached by the file's name at the time it was opened.
class FakeStream : public Writable {
 public:
  FakeStream(FakeEnv* env, Text path, Text name)
      : env_(env), path_(std::move(path)), name_(std::move(name)) {}
  void Write(const char* data, size_t size) override {
    Guard guard(FakeLock());
    env_->Log("write " + Narrow(path_) + ":" + Narrow(name_) + " " + std::to_string(size));
    std::string& stream = env_->Find("stream-write", path_).streams.at(name_);
    if (stream.size() < position_ + size) stream.resize(position_ + size);
    stream.replace(position_, size, data, size);
    position_ += size;
  }
  void Flush() override {
    Guard guard(FakeLock());
    env_->Find("stream-flush", path_);
    env_->Log("flush " + Narrow(path_) + ":" + Narrow(name_));
  }
  void Close() override {}

 private:
  FakeEnv* env_;
  Text path_, name_;
  size_t position_ = 0;
};

class FakeFile : public OpenFile {
 public:
  FakeFile(FakeEnv* env, Text path) : env_(env), path_(path), opened_as_(std::move(path)) {}
  ~FakeFile() override {
    if (open_) env_->Log("close " + Narrow(path_) + " (discarded)");
  }
  FileInfo Info() override {
    Guard guard(FakeLock());
    env_->Log("info " + Narrow(path_));
    const FakeEnv::Node& node = env_->Find("info", path_);
    return {node.attributes,  node.data.size(), node.names,
            node.reparse_tag, {0, node.number}, node.write_time};
  }
  void SetAttributes(uint32_t attributes) override {
    Guard guard(FakeLock());
    env_->Log("set-attributes " + Narrow(path_) + " " + std::to_string(attributes));
    env_->Find("set-attributes", path_).attributes = attributes;
  }
  void BeginWriting() override {
    Guard guard(FakeLock());
    env_->Log("reopen " + Narrow(path_));
    env_->Find("reopen", path_);
  }
  void Write(const char* data, size_t size) override {
    if (env_->during_write) env_->during_write(path_);
    Guard guard(FakeLock());
    FakeEnv::Node& node = env_->Find("write", path_);
    env_->Log("write " + Narrow(path_) + " " + std::to_string(size));
    const size_t fits = static_cast<size_t>(std::min<uint64_t>(size, env_->disk_free));
    if (node.data.size() < position_ + fits) node.data.resize(position_ + fits);
    node.data.replace(position_, fits, data, fits);
    position_ += fits;
    ++node.write_time;
    env_->disk_free -= fits;
    if (fits < size) throw Failure{-2147024784, L"There is not enough space on the disk."};
  }
  void Flush() override {
    if (env_->during_flush) env_->during_flush(path_);
    Guard guard(FakeLock());
    FakeEnv::Node& node = env_->Find("flush", path_);
    env_->Log("flush " + Narrow(path_));
    if (node.growths == 0) return;
    if (node.growths > 0) --node.growths;
    if (node.grows_in_place) {
      node.data.replace(0, node.grows.size(), node.grows);
      ++node.write_time;
    } else {
      node.data += node.grows;
    }
    env_->Log("grow " + Narrow(path_) + " " + std::to_string(node.grows.size()));
  }
  void Rewind() override { position_ = 0; }
  // Logged as "flush" and the folder's path, which ends in a backslash; "flush-folder" to `before`.
  void FlushFolder() override {
    Guard guard(FakeLock());
    const Text folder = Parent(path_) + L"\\";
    if (env_->before) env_->before("flush-folder", folder);
    env_->Log("flush " + Narrow(folder));
  }
  void Close() override {
    Guard guard(FakeLock());
    if (!open_) return;
    open_ = false;
    env_->Log("close " + Narrow(path_));
    env_->Find("close", path_);
  }
  std::vector<StreamInfo> Streams() override {
    Guard guard(FakeLock());
    std::vector<StreamInfo> streams;
    for (const auto& [name, data] : env_->Find("streams", path_).streams) {
      streams.push_back({name, data.size()});
    }
    return streams;
  }
  std::unique_ptr<Writable> OpenStream(const Text& name) override {
    Guard guard(FakeLock());
    env_->Log("open " + Narrow(path_) + ":" + Narrow(name));
    // The hook sees which stream: "file:stream".
    if (env_->before) env_->before("stream-open", path_ + L":" + name);
    if (!env_->Exists(path_)) throw FileNotFound();
    return std::make_unique<FakeStream>(env_, path_, name);
  }
  bool RenamesInPlace() override {
    Guard guard(FakeLock());
    return !env_->Exists(path_) || env_->At(path_).renames_in_place;
  }
  bool FlushesWhileWritten() override {
    Guard guard(FakeLock());
    return env_->Exists(path_) && env_->At(path_).flushes_while_written;
  }
  void Rename(const Text& name) override {
    if (env_->during_scrub) env_->during_scrub("rename", opened_as_);
    Guard guard(FakeLock());
    const Text to = path_.substr(0, path_.rfind(L'\\') + 1) + name;
    env_->Log("rename " + Narrow(path_) + " " + Narrow(name));
    FakeEnv::Node node = env_->Find("rename", path_);
    if (env_->Exists(to))
      throw Failure{-2147024713, L"Cannot create a file when that file already exists."};
    env_->Remove(path_);
    env_->AddFile(to, node.data, node.attributes);
    env_->At(to) = node;
    path_ = to;
  }
  void PrepareDelete() override {
    if (env_->during_scrub) env_->during_scrub("prepare", opened_as_);
    Guard guard(FakeLock());
    env_->Log("prepare " + Narrow(opened_as_));
    env_->Find("prepare", path_);
  }
  void Delete() override {
    Guard guard(FakeLock());
    env_->Log("remove " + Narrow(opened_as_));
    env_->Find("remove", path_);
    env_->Remove(path_);
    open_ = false;
  }

 private:
  FakeEnv* env_;
  Text path_;
  Text opened_as_;  // removals are logged by the name the test gave the file
  size_t position_ = 0;
  bool open_ = true;
};

// A folder of the fake file system, reached by its path (the fake has nobody to race with, but a
// test can swap what stands under a name).
class FakeFolder : public Folder {
 public:
  FakeFolder(FakeEnv* env, Text key) : env_(env), key_(std::move(key)) {}
  std::vector<FolderEntry> List() override { return env_->Entries(key_); }
  std::unique_ptr<Folder> OpenSubfolder(const FolderEntry& entry) override {
    const Text path = key_ + L"\\" + entry.name;
    env_->Log("enter " + Narrow(path) + "\\");
    const FakeEnv::Node& node = env_->Find("enter", path);
    if (node.attributes & kAttrReparsePoint) return nullptr;
    if (!node.folder) throw FileNotFound();
    return std::make_unique<FakeFolder>(env_, path);
  }
  std::unique_ptr<OpenFile> OpenFileEntry(const FolderEntry& entry) override {
    const Text path = key_ + L"\\" + entry.name;
    env_->Log("open " + Narrow(path));
    const FakeEnv::Node& node = env_->Find("open", path);
    if ((node.attributes & kAttrReparsePoint) && IsNameSurrogate(node.reparse_tag)) return nullptr;
    if (node.folder) throw AccessRefused();
    return std::make_unique<FakeFile>(env_, path);
  }

 private:
  FakeEnv* env_;
  Text key_;
};

}  // namespace

std::string Narrow(const Text& text) {
  std::string out;
  for (const wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

std::vector<std::string> EventsNamed(const EventLog& log, const std::string& op) {
  std::vector<std::string> out;
  for (const std::string& event : log) {
    if (event == op) out.emplace_back();
    if (event.rfind(op + " ", 0) == 0) out.push_back(event.substr(op.size() + 1));
  }
  return out;
}

void FakeEnv::AddFolder(const Text& path, uint32_t attributes) {
  Guard guard(FakeLock());
  const uint32_t tag = (attributes & kAttrReparsePoint) ? kReparseTagSymlink : 0;
  nodes_[Key(path)] = Node{true, attributes | kAttrDirectory, {}, 1, tag, {}};
  nodes_[Key(path)].number = ++numbers_;
  order_.push_back(Key(path));
}

void FakeEnv::AddFile(const Text& path, std::string data, uint32_t attributes) {
  Guard guard(FakeLock());
  const uint32_t tag = (attributes & kAttrReparsePoint) ? kReparseTagSymlink : 0;
  nodes_[Key(path)] = Node{false, attributes, std::move(data), 1, tag, {}};
  nodes_[Key(path)].number = ++numbers_;
  order_.push_back(Key(path));
}

void FakeEnv::Log(const std::string& event) {
  Guard guard(FakeLock());
  log_->push_back(event);
}

bool FakeEnv::Exists(const Text& path) const {
  Guard guard(FakeLock());
  return nodes_.count(Key(path)) > 0;
}

const FakeEnv::Node& FakeEnv::At(const Text& path) const {
  Guard guard(FakeLock());
  return nodes_.at(Key(path));
}

FakeEnv::Node& FakeEnv::Find(const std::string& op, const Text& path) {
  Guard guard(FakeLock());
  if (before) before(op, path);
  const auto it = nodes_.find(Key(path));
  if (path.empty() || it == nodes_.end()) throw FileNotFound();
  return it->second;
}

FakeEnv::Node& FakeEnv::At(const Text& path) {
  Guard guard(FakeLock());
  return nodes_.at(Key(path));
}

void FakeEnv::Remove(const Text& path) {
  Guard guard(FakeLock());
  nodes_.erase(Key(path));
  order_.erase(std::find(order_.begin(), order_.end(), Key(path)));
}

void FakeEnv::ReplaceWithLink(const Text& path) {
  Guard guard(FakeLock());
  const Text key = Key(path);
  for (const Text& inside : std::vector<Text>(order_)) {
    if (inside.rfind(key + L"\\", 0) == 0) Remove(inside);
  }
  nodes_[key] = Node{false, kAttrReparsePoint | kAttrDirectory, {}, 1, kReparseTagSymlink, {}};
  nodes_[key].number = ++numbers_;
}

std::vector<FolderEntry> FakeEnv::Entries(const Text& folder) {
  Guard guard(FakeLock());
  Log("list " + Narrow(folder) + "\\");
  if (!Find("list", folder).folder) throw FileNotFound();
  std::vector<FolderEntry> entries;
  for (const Text& key : order_) {
    if (Parent(key) != Key(folder)) continue;
    const Node& node = nodes_.at(key);
    FolderEntry entry;
    entry.name = key.substr(Key(folder).size() + 1);
    entry.attributes = node.attributes;
    entry.reparse_tag = node.reparse_tag;
    entry.id = node.number;
    entries.push_back(std::move(entry));
  }
  return entries;
}

uint32_t FakeEnv::GetAttributes(const Text& path) {
  Log("attributes " + Narrow(path));
  return Find("attributes", path).attributes;
}

std::unique_ptr<OpenFile> FakeEnv::OpenNamedFile(const Text& path) {
  Log("open " + Narrow(path));
  if (Find("open", path).folder) throw AccessRefused();
  return std::make_unique<FakeFile>(this, Key(path));
}

std::unique_ptr<Folder> FakeEnv::OpenNamedFolder(const Text& path) {
  Log("enter " + Narrow(path));
  if (!Find("enter", path).folder) throw FileNotFound();
  return std::make_unique<FakeFolder>(this, Key(path));
}

Env::Named FakeEnv::OpenNamed(const Text& path) {
  if (Exists(path) && At(path).folder) return {nullptr, OpenNamedFolder(path)};
  return {OpenNamedFile(path), nullptr};
}

Text FakeEnv::FullPath(const Text& path) {
  if (path.empty()) throw FileNotFound();
  if (path.size() >= 2 && path[1] == L':') return path;
  return Key(current_folder) + L"\\" + path;
}

void FakeEnv::SetCurrentFolder(const Text& folder) {
  Log("current " + Narrow(folder));
  if (!Find("current", folder).folder) throw FileNotFound();
  current_folder = folder;
}

double FakeEnv::SecondsSinceMidnight() {
  const double now = time_of_day;
  time_of_day += tick;
  if (time_of_day >= 86400.0) time_of_day -= 86400.0;
  return now;
}

void FakeEnv::PumpMessages() {
  Log("pump");
  if (on_pump) on_pump();
}

void FakeEnv::WaitForMessages(int max_ms) {
  if (max_ms < 0 || max_ms > 10) throw std::logic_error("waits must stay short");
  micros += static_cast<uint64_t>(max_ms) * 1000;
}

void FakeEnv::ShowMessage(const Text& text, const Text& title) {
  Log("message " + Narrow(title) + ": " + Narrow(text));
  messages.emplace_back(text, title);
}

int FakeProgress::Check1() {
  Guard guard(FakeLock());
  ++check1_reads;
  if (on_check1) on_check1();
  return check1;
}

void FakeProgress::SetText1(const Text& text) {
  Guard guard(FakeLock());
  log_->push_back("text1 " + Narrow(text));
  text1 = text;
}

void FakeProgress::SetLabel2(const Text& caption) {
  Guard guard(FakeLock());
  log_->push_back("label2 " + Narrow(caption));
  label2 = caption;
}

void FakeProgress::ShowLabel2(bool shown) {
  Guard guard(FakeLock());
  log_->push_back(shown ? "label2 shown" : "label2 hidden");
  label2_visible = shown;
}

void FakeProgress::SetCaption(const Text& text) {
  Guard guard(FakeLock());
  log_->push_back("caption " + Narrow(text));
  caption = text;
}

void FakeProgress::SetVisible(bool shown) {
  Guard guard(FakeLock());
  log_->push_back(shown ? "window shown" : "window hidden");
  visible = shown;
}

void FakeProgress::ShowSummary(const Text& counts, const std::vector<Text>& lines) {
  Guard guard(FakeLock());
  log_->push_back("summary " + Narrow(counts));
  Text list;
  for (const Text& line : lines) list += line + L"\n";
  summaries.emplace_back(counts, list);
}

}  // namespace morvenit
