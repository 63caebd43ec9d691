// The file shredder: overwrites one file with the fill pattern, makes sure the pattern is on the
// storage device, then deletes the file. It holds the program's only handler of file failures.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/pattern.h"

namespace morvenit {

namespace {

// The window must never go 50 ms without its messages: pump whenever this much time has passed,
// and keep each write well below the rest.
constexpr uint64_t kPumpEveryMicros = 10'000;

// A file at least this long is written on a worker while the window's thread pumps: the system
// may hold a writer back for long while it writes other files out of its cache.
constexpr uint64_t kWriteAsideBytes = 32 << 20;

// Files written and waiting for their flush and delete. Enough for the file system to commit many
// flushes together, few enough that the open handles stay bounded.
constexpr size_t kMaxInFlight = 256;

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

void Pump(Engine& run) {
  run.env.PumpMessages();
  run.last_pump_micros = run.env.NowMicros();
}

// Pumps once kPumpEveryMicros have passed: by time, not by count, a folder of small files pumps
// every few files. Called after each step that waits for the system: on a busy machine each of
// its calls may wait for a processor.
void KeepAlive(Engine& run) {
  if (run.env.NowMicros() - run.last_pump_micros >= kPumpEveryMicros) Pump(run);
}

// Writes the pattern from the first byte over `length` rounded up to whole patterns; returns where
// it ends. The flush to the device comes after the last write, on a worker: flushing as it goes
// would stop the writes each time until the device caught up.
uint64_t Overwrite(Engine& run, Writable& file, uint64_t length) {
  return WritePattern(file, 0, length, [&run] { KeepAlive(run); });
}

// Opens the file for writing; a file that another program holds open only for a moment (a virus
// scanner, an indexer) is worth a few short tries before it is reported. A refused access would
// be refused again: it is reported at once. Once a held file was reported, the next ones most
// likely belong to the same program (a folder it holds): one short try each.
void BeginWriting(Engine& run, OpenFile& file) {
  const int last_wait_ms = run.failures_explained.count(kFailAccess) ? 50 : 400;
  for (int wait_ms = 50;; wait_ms *= 2) {
    try {
      file.BeginWriting();
      return;
    } catch (const Failure& failure) {
      if (!failure.busy || wait_ms > last_wait_ms) throw;
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

// What a file shown as a reparse point or compressed is: a link (a name for something elsewhere,
// not ours to touch), a file kept compressed (NTFS's or WOF's, which no overwrite reaches alike),
// or a file whose data an overwrite may not reach, unless the system keeps it all here.
enum class Reparse { kNone, kLink, kCompressed, kDataElsewhere };

Reparse ReparseKind(uint32_t attributes, uint32_t tag) {
  const bool reparse = attributes & kAttrReparsePoint;
  if (reparse && IsNameSurrogate(tag)) return Reparse::kLink;
  if ((attributes & kAttrCompressed) || (reparse && tag == kReparseTagWof)) {
    return Reparse::kCompressed;
  }
  if (!reparse || KeepsDataHere(attributes, tag)) return Reparse::kNone;
  return Reparse::kDataElsewhere;
}

// Gives a file that stays the attributes it had, and closes it; errors change nothing now.
void Leave(OpenFile& file, const FileInfo& original, bool cleared) {
  try {
    if (cleared) file.SetAttributes(original.attributes);
  } catch (const Failure&) {
  }
  try {
    file.Close();
  } catch (const Failure&) {
  }
}

// The failure path after the file display already shows `path`.
void ReportShown(Engine& run, const Text& path, const Failure& failure, Item item = Item::kFile) {
  // A walked file not found is gone; a named one may be mistyped, and was never touched.
  const bool named_not_found = failure.number == kFailFileNotFound && item == Item::kNamed;
  if (failure.number != kFailFileNotFound || named_not_found) {
    LeftFor& left = run.left[failure.number];
    ++(item == Item::kFolder ? left.folders : left.files);
    if (left.description.empty()) left.description = failure.description;
    std::erase(left.paths.emplace_back(path), L'"');  // a path as named may come quoted
  }
  // Cancelled: the run ends at once, and the files in flight settle without a word.
  if (run.frmMain.Check1() == 1) return;
  run.frmMain.ShowLabel2(true);
  run.status_lingers = false;
  if (failure.number == kFailFileNotFound) {
    run.frmMain.SetLabel2(L"File not found");
  } else if (failure.number == kFailAccess) {
    run.frmMain.SetLabel2(L"Processing folder");
  } else {
    run.frmMain.SetLabel2(L"Unexpected file error");
  }
  // A named item not found is explained apart from the walk's files gone meanwhile, which get no
  // box: the user is told that what they gave was not there.
  if (!run.failures_explained.insert(named_not_found ? -kFailFileNotFound : failure.number)
           .second) {
    run.status_lingers = true;
    return;
  }
  if (named_not_found) {
    // The box names what was given: the file display shows only the path's tail.
    run.env.ShowMessage(failure.description + L"\n\n" + (path.empty() ? L"(an empty name)" : path),
                        std::to_wstring(failure.number));
  } else if (failure.number != kFailFileNotFound && failure.number != kFailAccess) {
    run.env.ShowMessage(failure.description, std::to_wstring(failure.number));
  }
  CancellableWait(run, 3000);
  run.frmMain.ShowLabel2(false);
}

// Takes back the files in flight that are done, reporting each that failed, in the order they
// were written; waits, keeping the window alive, while more than `keep` are left.
void Settle(Engine& run, size_t keep) {
  for (;;) {
    if (std::optional<InFlight::File> done = run.in_flight.TakeDone()) {
      // Gone, but it may come back (a device that fails): its folder is reported with the first
      // of its files, and each file by its path.
      if (done->folder_failure) {
        const Text& path = done->path;
        if (done->reports_folder) {
          ReportFailure(run, path.substr(0, path.find_last_of(L"\\/") + 1), *done->folder_failure,
                        Item::kFolder);
        }
        ReportFailure(run, path, DeleteMayNotLast());
      }
      if (done->failure) {
        Leave(*done->file, done->original, done->cleared);
        done->file.reset();
        ReportFailure(run, done->path, *done->failure);
      } else {
        // Gone: its number may be given to a new file.
        run.met.erase(done->original.number);
      }
      continue;
    }
    if (run.in_flight.Size() <= keep) return;
    run.in_flight.Release();
    run.env.PumpMessages();
    run.last_pump_micros = run.env.NowMicros();
    run.in_flight.WaitForOldest(10);
  }
}

// Shreds the file that `open` opens (null: what stands there now is a link, not ours to touch),
// showing `path`. A file that is left keeps the attributes it had. A walked file that turns out to
// be a link once open is passed over in silence, as the walker passes over links it lists; a link
// the user named was to be followed to its file, and one that was not is reported.
template <typename Opener>
void Shred(Engine& run, const Text& path, bool walked, Opener open) {
  if (run.frmMain.Check1() == 1) return;
  Settle(run, kMaxInFlight - 1);

  std::unique_ptr<OpenFile> file;
  std::vector<std::unique_ptr<Writable>> streams;
  FileInfo info;
  uint64_t pattern_end = 0;
  FileInfo written;
  bool cleared = false;
  const auto pump_and_wait = [&run] {
    Pump(run);
    run.env.WaitForMessages(10);
  };
  try {
    run.frmMain.SetText1(FileDisplay(path));
    if (std::exchange(run.status_lingers, false)) run.frmMain.ShowLabel2(false);
    run.frmMain.SetLabel2(Text());
    file = open();
    if (!file) return;
    KeepAlive(run);
    info = file->Info();
    // Met before in this run (named, and inside a named folder too): written already, or left and
    // reported. Where the system gives no number, a file in hand shows as held by another program.
    if (info.number.known() && !run.met.insert(info.number).second) {
      Leave(*file, info, false);
      return;
    }
    // As the open file shows it: a listing may be old by now (a cloud file freed meanwhile).
    switch (ReparseKind(info.attributes, info.reparse_tag)) {
      case Reparse::kNone:
        break;
      case Reparse::kLink:
        if (!walked) throw StoredElsewhere();
        Leave(*file, info, false);
        return;
      case Reparse::kCompressed:
        throw KeptCompressed();
      case Reparse::kDataElsewhere:
        throw StoredElsewhere();
    }
    // Its data belongs to names nobody gave too.
    if (info.names > 1) throw ManyNames(info.names);
    // Only read-only refuses the write and the delete; the file goes, so the others may stay.
    if (info.attributes & kAttrReadOnly) {
      file->SetAttributes(kAttrNormal);
      cleared = true;
    }
    BeginWriting(run, *file);
    KeepAlive(run);
    // Its named data streams go with the file, and may hold as much as it does. All are opened
    // before a byte is written: a stream that another program holds leaves the file whole.
    const std::vector<StreamInfo> stream_infos = file->Streams();
    for (const StreamInfo& stream : stream_infos) streams.push_back(file->OpenStream(stream.name));
    pattern_end = info.length >= kWriteAsideBytes
                      ? run.in_flight.WriteAside(*file, info.length, pump_and_wait)
                      : Overwrite(run, *file, info.length);
    for (size_t i = 0; i < streams.size(); ++i) {
      Overwrite(run, *streams[i], stream_infos[i].length);
    }
    // What it shows now, after our last write: another program's write moves it. Where the
    // system shows no times nobody else can write to it meanwhile, and nothing would move.
    written = info.write_time || info.change_time ? file->Info() : info;
  } catch (const Failure& failure) {
    // The file stays: not deleted, nothing undone, whatever was written stays written.
    streams.clear();
    // A flush of it may still run from its writes aside: it is closed only once that is over.
    if (info.length >= kWriteAsideBytes) run.in_flight.EndAside(pump_and_wait);
    if (file) Leave(*file, info, cleared);
    file.reset();
    ReportShown(run, path, failure);
    return;
  }
  run.written.insert(info.number.id);
  run.in_flight.Add({path, std::move(file), pattern_end, written, std::move(streams), info, cleared,
                     std::nullopt, std::nullopt});
}

}  // namespace

void ShredFile(Engine& run, Text path) {
  const Text shown = path;
  std::erase(path, L'"');
  Shred(run, shown, false, [&] { return run.env.OpenNamedFile(path); });
}

void ShredFile(Engine& run, const Text& path, std::unique_ptr<OpenFile> named) {
  Shred(run, path, false, [&] { return std::move(named); });
}

void ShredFile(Engine& run, const Text& path, Folder& folder, const FolderEntry& entry) {
  Shred(run, path, true, [&]() -> std::unique_ptr<OpenFile> {
    // As the listing shows it: an online-only file is never opened, which could fetch its data.
    switch (ReparseKind(entry.attributes, entry.reparse_tag)) {
      case Reparse::kNone:
        try {
          return folder.OpenFileEntry(entry);
        } catch (const Failure& failure) {
          // Listed, then deleted by this run before the walk reached it: nothing to say.
          if (failure.number == kFailFileNotFound && entry.id != 0 && run.written.count(entry.id)) {
            return nullptr;
          }
          throw;
        }
      case Reparse::kLink:
        return nullptr;
      case Reparse::kCompressed:
        throw KeptCompressed();
      case Reparse::kDataElsewhere:
        break;
    }
    throw StoredElsewhere();
  });
}

void FinishInFlight(Engine& run) {
  // A cancel cuts the reports' waits short, but every file in flight is still seen to the end.
  bool cancelled = false;
  for (;;) {
    try {
      Settle(run, 0);
      break;
    } catch (const EndProgram&) {
      cancelled = true;
    }
  }
  if (cancelled) throw EndProgram{};
}

void ReportFailure(Engine& run, const Text& path, const Failure& failure, Item item) {
  run.frmMain.SetText1(FileDisplay(path));
  ReportShown(run, path, failure, item);
}

}  // namespace morvenit
