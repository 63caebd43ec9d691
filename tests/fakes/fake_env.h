// Test doubles for the platform seam and the progress window: an in-memory file system that
// records every operation and can inject failures, a clock you set, and a progress window that
// records what the engine shows.
#ifndef MORVENIT_TESTS_FAKES_FAKE_ENV_H_
#define MORVENIT_TESTS_FAKES_FAKE_ENV_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace morvenit {

// Narrows a wide test string to ASCII for readable event logs.
std::string Narrow(const Text& text);

// The fill pattern over `length` bytes, spelled out here on its own so that a test compares the
// program's bytes with the pattern, not with the program's own copy of it.
inline std::string Pattern(uint64_t length) {
  const std::string one = "................ ................ ................ ................ ";
  std::string out;
  while (out.size() < length) out += one;
  out.resize(length);
  return out;
}

// Passes every call on to another Env, so that a test's own Env overrides only what it watches
// or changes.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target = Env::Default()) : target_(target) {}

  void PrepareProcess() override { target_.PrepareProcess(); }
  Text ProgramFolder() override { return target_.ProgramFolder(); }
  Text CommandLine() override { return target_.CommandLine(); }
  uint32_t GetAttributes(const Text& p) override { return target_.GetAttributes(p); }
  std::unique_ptr<OpenFile> OpenNamedFile(const Text& p) override {
    return target_.OpenNamedFile(p);
  }
  std::unique_ptr<Folder> OpenNamedFolder(const Text& p) override {
    return target_.OpenNamedFolder(p);
  }
  Named OpenNamed(const Text& p) override { return target_.OpenNamed(p); }
  Text FullPath(const Text& p) override { return target_.FullPath(p); }
  void SetCurrentFolder(const Text& f) override { target_.SetCurrentFolder(f); }
  double SecondsSinceMidnight() override { return target_.SecondsSinceMidnight(); }
  uint64_t NowMicros() override { return target_.NowMicros(); }
  void PumpMessages() override { target_.PumpMessages(); }
  void WaitForMessages(int max_ms) override { target_.WaitForMessages(max_ms); }
  void ShowMessage(const Text& text, const Text& title) override {
    target_.ShowMessage(text, title);
  }

 private:
  Env& target_;
};

// Passes every call on to another open file, so that a test's own file overrides only what it
// watches or changes.
class OpenFileWrapper : public OpenFile {
 public:
  explicit OpenFileWrapper(std::unique_ptr<OpenFile> real) : real_(std::move(real)) {}
  FileInfo Info() override { return real_->Info(); }
  void SetAttributes(uint32_t attributes) override { real_->SetAttributes(attributes); }
  void BeginWriting() override { real_->BeginWriting(); }
  void Write(const char* data, size_t size) override { real_->Write(data, size); }
  void Flush() override { real_->Flush(); }
  void Rewind() override { real_->Rewind(); }
  void FlushFolder() override { real_->FlushFolder(); }
  void Close() override { real_->Close(); }
  std::vector<StreamInfo> Streams() override { return real_->Streams(); }
  std::unique_ptr<Writable> OpenStream(const Text& name) override {
    return real_->OpenStream(name);
  }
  bool RenamesInPlace() override { return real_->RenamesInPlace(); }
  bool FlushesWhileWritten() override { return real_->FlushesWhileWritten(); }
  void Rename(const Text& name) override { real_->Rename(name); }
  void Delete() override { real_->Delete(); }
  void PrepareDelete() override { real_->PrepareDelete(); }

 protected:
  OpenFile& real() { return *real_; }

 private:
  std::unique_ptr<OpenFile> real_;
};

// One shared, ordered log of what the engine did, so tests can check the order across the file
// system, the pump and the window.
using EventLog = std::vector<std::string>;

// The events of `log` named `op` ("remove", "pump", ...) in order, each without its name: what is
// left is the path, or nothing.
std::vector<std::string> EventsNamed(const EventLog& log, const std::string& op);

class FakeEnv : public Env {
 public:
  struct Node {
    bool folder = false;
    uint32_t attributes = kAttrArchive;
    std::string data;
    uint32_t names = 1;                   // hard links
    uint32_t reparse_tag = 0;             // a link's, unless a test sets another
    std::map<Text, std::string> streams;  // named data streams
    bool renames_in_place = true;         // what its open file's RenamesInPlace() answers
    bool flushes_while_written = false;   // and FlushesWhileWritten()
    // Another program adding to the file: `grows` goes onto its end as each flush returns,
    // `growths` times (-1: after every flush); or over its first bytes, in place.
    std::string grows = {};
    int growths = 0;
    bool grows_in_place = false;
    uint64_t number = 0;  // its file number, given as it is made: listed, and shown when open
    // Its last-write time: set as it is made, as a real file's is; each of our writes moves it.
    uint64_t write_time = 1;
  };

  explicit FakeEnv(EventLog* log) : log_(log) {}

  // Builders. Paths use backslashes; parents must be added first.
  void AddFolder(const Text& path, uint32_t attributes = kAttrDirectory);
  void AddFile(const Text& path, std::string data, uint32_t attributes = kAttrArchive);
  bool Exists(const Text& path) const;
  const Node& At(const Text& path) const;
  Node& At(const Text& path);
  // Puts a link where the folder `path` stood (a hostile program's swap); its files go with it.
  void ReplaceWithLink(const Text& path);

  // Called before every file-system operation with its name ("attributes", "open", "info",
  // "set-attributes", "reopen", "write", "flush", "close", "rename", "prepare", "remove", "list",
  // "enter", "stream-open" with "file:stream", "stream-write", "stream-flush", "flush-folder" with
  // the folder's path) and path; throw a Failure from it to inject one.
  std::function<void(const std::string& op, const Text& path)> before;
  // Called by every flush, on the worker thread that flushes, outside the fakes' lock: where a
  // test makes a flush take time, wait for others, or fail.
  std::function<void(const Text& path)> during_flush;
  // The same for every write of a file, on whichever thread writes.
  std::function<void(const Text& path)> during_write;
  // The same for every rename ("rename") and every preparation of a delete ("prepare"), with the
  // path the test gave the file.
  std::function<void(const std::string& op, const Text& path)> during_scrub;
  // Called by every PumpMessages, after it is logged: where a test clicks Cancel or moves time.
  std::function<void()> on_pump;
  // Bytes that still fit on the disk; a write past them raises the disk-full failure after
  // writing what fits.
  uint64_t disk_free = UINT64_MAX;
  // The clock: the time of day in seconds, advanced by `tick` on every read, so waits end.
  double time_of_day = 36000.0;
  double tick = 0.05;
  uint64_t micros = 0;

  Text program_folder = L"C:\\Program Files\\Morvenit";
  Text command_line = L"morvenit.exe";
  Text current_folder;
  std::vector<std::pair<Text, Text>> messages;  // (text, title) of every message box

  void PrepareProcess() override { Log("prepare"); }
  Text ProgramFolder() override { return program_folder; }
  Text CommandLine() override { return command_line; }
  uint32_t GetAttributes(const Text& path) override;
  std::unique_ptr<OpenFile> OpenNamedFile(const Text& path) override;
  std::unique_ptr<Folder> OpenNamedFolder(const Text& path) override;
  // A folder as OpenNamedFolder opens it ("enter"), anything else as OpenNamedFile ("open").
  Named OpenNamed(const Text& path) override;
  Text FullPath(const Text& path) override;
  void SetCurrentFolder(const Text& folder) override;
  double SecondsSinceMidnight() override;
  uint64_t NowMicros() override { return micros; }
  void PumpMessages() override;
  void WaitForMessages(int max_ms) override;
  void ShowMessage(const Text& text, const Text& title) override;

  void Log(const std::string& event);
  Node& Find(const std::string& op, const Text& path);
  void Remove(const Text& path);
  // The entries of a folder, in creation order.
  std::vector<FolderEntry> Entries(const Text& folder);

 private:
  EventLog* log_;
  std::map<Text, Node> nodes_;
  std::vector<Text> order_;  // creation order, which is the listing order
  uint64_t numbers_ = 0;     // the last file number given
};

// A progress window that records what the engine shows and reads.
class FakeProgress : public Progress {
 public:
  explicit FakeProgress(EventLog* log) : log_(log) {}

  std::atomic<int> check1 = 0;  // a worker may click it too
  Text text1, label2, caption = L"Morvenit";
  bool label2_visible = false, visible = false;
  int check1_reads = 0;
  std::function<void()> on_check1;               // called before each read of Check1
  // (counts, lines each ending in '\n') of every summary shown.
  std::vector<std::pair<Text, Text>> summaries;

  int Check1() override;
  void SetText1(const Text& text) override;
  void SetLabel2(const Text& caption) override;
  void ShowLabel2(bool visible) override;
  void SetCaption(const Text& caption) override;
  void SetVisible(bool visible) override;
  void ShowSummary(const Text& counts, const std::vector<Text>& lines) override;

 private:
  EventLog* log_;
};

// An engine over the fakes, with its log.
struct FakeRun {
  EventLog log;
  FakeEnv env{&log};
  FakeProgress window{&log};
  Engine run{env, window, L"C:\\Program Files\\Morvenit", {Text()}};

  FakeRun() { env.AddFolder(run.StartFolder); }
};

}  // namespace morvenit

#endif  // MORVENIT_TESTS_FAKES_FAKE_ENV_H_
