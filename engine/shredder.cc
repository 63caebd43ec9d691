// The file shredder: overwrites one file with the fill pattern, makes sure the pattern is on the
// storage device, then deletes the file. It holds the program's only handler of file failures.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "engine/engine.h"

namespace morvenit {

namespace {

constexpr std::string_view FillPattern =
    "................ ................ ................ ................ ";
static_assert(FillPattern.size() == 68);

// One write: whole patterns, so the pattern runs on unbroken from write to write, and whole 4 KiB
// pages, which the system writes fastest (68 x 16384).
constexpr size_t kBlockBytes = FillPattern.size() * 16384;

// The window must never go 50 ms without its messages: pump whenever this much time has passed,
// and keep each write and each flush well below the rest.
constexpr uint64_t kPumpEveryMicros = 10'000;
constexpr uint64_t kFlushTargetMicros = 25'000;
// Never leave more than this in the cache, however fast the device seems (60 writes, 64 MiB).
constexpr uint64_t kMaxUnflushedBytes = 60 * kBlockBytes;

#ifdef MORVENIT_TEST_WITHOUT_FLUSH
// A build for the forensic test only, proving that it catches a pattern left in the cache.
constexpr bool kFlushToDevice = false;
#else
constexpr bool kFlushToDevice = true;
#endif

const std::string& PatternBlock() {
  static const std::string block = [] {
    std::string bytes;
    bytes.reserve(kBlockBytes);
    while (bytes.size() < kBlockBytes) bytes += FillPattern;
    return bytes;
  }();
  return block;
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// "..." and the last 30 characters of the path; a surrogate pair is one character, never split.
Text FileDisplay(const Text& path) {
  size_t start = path.size();
  for (int n = 0; n < 30 && start > 0; ++n) {
    --start;
    if (start > 0 && IsLowSurrogate(path[start]) && IsHighSurrogate(path[start - 1])) --start;
  }
  return L"..." + path.substr(start);
}

// Writes the pattern from the first byte over `length` rounded up to whole patterns, and returns
// once all of it is on the device. What waits in the cache is bounded by time: each flush is sized
// from the speed the last one showed, so no single flush freezes the window.
void OverwriteToDevice(Engine& run, OpenFile& file, uint64_t length) {
  const std::string& block = PatternBlock();
  const uint64_t pattern = FillPattern.size();
  const uint64_t end = (length + pattern - 1) / pattern * pattern;

  uint64_t position = 0, unflushed = 0;
  uint64_t flush_at = kBlockBytes;  // learns the device's speed from the first flush
  while (position < end) {
    // The old contents are covered before the file grows. NTFS moves a small file out of its file
    // record when it grows, and would leave the old bytes behind in the record.
    const uint64_t stop = position < length ? length : end;
    const size_t phase = static_cast<size_t>(position % pattern);
    const size_t size =
        static_cast<size_t>(std::min<uint64_t>(stop - position, block.size() - phase));
    file.Write(block.data() + phase, size);
    position += size;
    unflushed += size;
    if (kFlushToDevice && (unflushed >= flush_at || position == end)) {
      const uint64_t start = run.env.NowMicros();
      file.Flush();
      const uint64_t took = std::max<uint64_t>(run.env.NowMicros() - start, 1);
      // In whole writes, so that the full writes meet it exactly.
      flush_at = std::clamp<uint64_t>(unflushed * kFlushTargetMicros / took, kBlockBytes,
                                      kMaxUnflushedBytes) /
                 kBlockBytes * kBlockBytes;
      unflushed = 0;
    }
    // By time, not by count: a folder of small files pumps every few files, a large file after
    // every few writes.
    if (run.env.NowMicros() - run.last_pump_micros >= kPumpEveryMicros) {
      run.env.PumpMessages();
      run.last_pump_micros = run.env.NowMicros();
    }
  }
}

// Opens the file for writing; a file that another program holds open only for a moment (a virus
// scanner, an indexer) is worth a few short tries before it is reported.
void BeginWriting(Engine& run, OpenFile& file) {
  for (int wait_ms = 50;; wait_ms *= 2) {
    try {
      file.BeginWriting();
      return;
    } catch (const Failure& failure) {
      if (failure.number != kFailAccess || wait_ms > 400) throw;
    }
    // The window stays alive meanwhile; Cancel is not read, as the file is already begun.
    const uint64_t until = run.env.NowMicros() + uint64_t(wait_ms) * 1000;
    for (uint64_t now; (now = run.env.NowMicros()) < until;) {
      run.env.PumpMessages();
      run.env.WaitForMessages(static_cast<int>(std::min<uint64_t>(10, (until - now) / 1000 + 1)));
    }
    run.last_pump_micros = run.env.NowMicros();
  }
}

// The failure path after the file display already shows the file.
void ReportShown(Engine& run, const Failure& failure) {
  run.frmMain.ShowLabel2(true);
  if (failure.number == kFailFileNotFound) {
    run.frmMain.SetLabel2(L"File not found");
  } else if (failure.number == kFailAccess) {
    run.frmMain.SetLabel2(L"Processing folder");
  } else {
    run.frmMain.SetLabel2(L"Unexpected file error");
    run.env.ShowMessage(failure.description, std::to_wstring(failure.number));
  }
  CancellableWait(run, 3000);
  run.frmMain.ShowLabel2(false);
}

// Shreds the file that `open` opens (null: what stands there now is a link, not ours to touch),
// showing `path`. A file that is left keeps the attributes it had.
template <typename Opener>
void Shred(Engine& run, const Text& path, Opener open) {
  if (run.frmMain.Check1() == 1) return;

  std::unique_ptr<OpenFile> file;
  FileInfo info;
  bool cleared = false;
  try {
    run.frmMain.SetText1(FileDisplay(path));
    run.frmMain.SetLabel2(Text());
    file = open();
    if (!file) return;
    info = file->Info();
    // Its data belongs to names nobody gave too.
    if (info.names > 1) throw ManyNames(info.names);
    if (info.attributes != kAttrNormal) {
      file->SetAttributes(kAttrNormal);
      cleared = true;
    }
    BeginWriting(run, *file);
    OverwriteToDevice(run, *file, info.length);
    file->Delete();
  } catch (const Failure& failure) {
    // The file stays: not deleted, nothing undone, whatever was written stays written.
    if (file) {
      try {
        if (cleared) file->SetAttributes(info.attributes);
      } catch (const Failure&) {
      }
      try {
        file->Close();
      } catch (const Failure&) {
      }
      file.reset();
    }
    ReportShown(run, failure);
  }
}

}  // namespace

void ShredFile(Engine& run, Text path) {
  const Text shown = path;
  std::erase(path, L'"');
  Shred(run, shown, [&] { return run.env.OpenNamedFile(path); });
}

void ShredFile(Engine& run, const Text& path, Folder& folder, const FolderEntry& entry) {
  Shred(run, path, [&]() -> std::unique_ptr<OpenFile> {
    // A link is skipped before it gets here; any other reparse point keeps its data elsewhere.
    if (entry.attributes & kAttrReparsePoint) throw StoredElsewhere();
    return folder.OpenFileEntry(entry);
  });
}

void ReportFailure(Engine& run, const Text& path, const Failure& failure) {
  run.frmMain.SetText1(FileDisplay(path));
  ReportShown(run, failure);
}

}  // namespace morvenit
