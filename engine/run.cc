// The run driver and the cancellable wait.
#include <algorithm>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"

namespace morvenit {

namespace {

// Whether `path` says where it starts: a drive and a separator, or a share or device namespace
// (two separators). Every other form ("C:notes.txt", "notes.txt", "\\notes.txt") is read from a
// current folder.
bool IsFullPath(const Text& path) {
  const auto separator = [&path](size_t i) {
    return i < path.size() && (path[i] == L'\\' || path[i] == L'/');
  };
  const bool drive = path.size() >= 2 && std::iswalpha(path[0]) && path[1] == L':';
  return (drive && separator(2)) || (separator(0) && separator(1));
}

// Shreds the files of `items` and walks its folders; returns false when it was cancelled. Items
// the shell handed over must be full paths: any program may hand some over through the verb, and
// this program's current folder is nobody's choice.
bool Dispatch(Engine& run, const ArgumentList& items, bool from_shell) {
  // Files are shredded as they are met; folders wait until every item has been dispatched.
  for (const Text& item : items) {
    if (run.frmMain.Check1() == 1) return false;
    if (from_shell && !IsFullPath(item)) {
      ReportFailure(run, item, NotFullPath(), Item::kNamed);
    } else {
      DispatchItem(run, item);
    }
    run.env.PumpMessages();
  }

  if (run.FolderStack.size() > 1) WalkFolders(run);
  return true;
}

// The run up to the closing pause; returns false when it was cancelled. Files still in flight are
// left to the caller.
bool DispatchAndWalk(Engine& run, const ArgumentList& items) {
  run.FolderStack.assign(1, PendingFolder());
  run.frmMain.SetVisible(true);
  run.env.PumpMessages();
  if (items.empty()) throw Failure{kFailSubscript, L"Subscript out of range"};
  if (!Dispatch(run, items, run.items_from_shell)) return false;
  // Another selection handed over meanwhile joins the run, in the same window, before its summary.
  while (run.shell && run.frmMain.Check1() != 1) {
    const ArgumentList more = run.shell->Take();
    if (more.empty()) break;
    if (!Dispatch(run, more, true)) return false;
  }
  return true;
}

// Where a named folder is, against the current directory with every name kept exactly as given
// ("dir." no less than ".."): only shown, as the folder walked is the one open already.
Text Where(Engine& run, const Text& item) {
  try {
    return run.env.FullPath(item);
  } catch (const Failure&) {
    return item;
  }
}

// "1 file", "3 folders".
Text Counted(uint32_t count, const Text& noun) {
  return std::to_wstring(count) + L" " + noun + (count == 1 ? L"" : L"s");
}

// Why files were left, in a few words where the reason is the program's own; the system's words
// for anything else.
Text Reason(int32_t number, const Text& description) {
  switch (number) {
    case kFailAccess:
      return L"in use by another program, or access refused";
    case kFailManyNames:
      return L"more than one name (hard links)";
    case kFailStoredElsewhere:
      return L"data kept elsewhere or in a special way (online-only cloud files, deduplicated or "
             L"archived files)";
    case kFailCompressed:
      return L"data kept compressed, which an overwrite cannot reach";
    case kFailUnreachableName:
      return L"a name that no Windows program can open (forbidden by Windows, or not UTF-8 on "
             L"Linux)";
    case kFailChanged:
      return L"replaced by something else during the run";
    case kFailNotDeleted:
      return L"reported deleted by the system, but still there (overwritten)";
    case kFailNotData:
      return L"not files that hold data (devices, pipes, sockets)";
    case kFailTooDeep:
      return L"deeper than Wine reaches (4,096 bytes of path)";
    case kFailKeepsGrowing:
      return L"kept growing while another program added to them";
    case kFailVanished:
      return L"moved or removed during the run; its files were not reached";
    case kFailDevice:
      return L"devices, not files or folders";
    case kFailDeviceName:
      return L"names Windows keeps for devices; name the folder that holds such a file to shred it";
    case kFailNamedLink:
      return L"links the system cannot remove here; what they point to was not touched";
    case kFailNotRenamed:
      return L"could not be renamed before its delete";
    case kFailWrittenAfter:
      return L"written to by another program after they were overwritten";
    case kFailDeleteMayNotLast:
      return L"deleted, but their folder could not be flushed, so the delete may not last";
    case kFailNotFullPath:
      return L"handed over without a drive or share to start from (not full paths)";
    default:
      return description;
  }
}

// How many files and folders the run left and why, one line a reason; empty when it left none.
Text Summary(const Engine& run) {
  uint32_t files = 0, folders = 0;
  Text reasons;
  for (const auto& [number, left] : run.left) {
    files += left.files;
    folders += left.folders;
    Text counts = left.files ? Counted(left.files, L"file") : Text();
    if (left.folders) counts += (counts.empty() ? L"" : L", ") + Counted(left.folders, L"folder");
    reasons += L"\n" + counts + L": " + Reason(number, left.description);
  }
  if (files == 0 && folders == 0) return Text();
  Text text;
  if (files) text = Counted(files, L"file") + (files == 1 ? L" was" : L" were") + L" not removed";
  if (folders) {
    text +=
        (text.empty() ? L"" : L", and ") + Counted(folders, L"folder") + L" could not be emptied";
  }
  return text + L":\n" + reasons;
}

// Every file and folder left, by its path, under its reason, the reasons in the summary's order:
// one line each.
std::vector<Text> LeftList(const Engine& run) {
  std::vector<Text> lines;
  for (const auto& [number, left] : run.left) {
    Text heading = Reason(number, left.description);
    if (!heading.empty() && heading.back() == L'.') heading.pop_back();
    if (!heading.empty()) heading[0] = static_cast<wchar_t>(std::towupper(heading[0]));
    lines.push_back(heading + L":");
    for (const Text& path : left.paths) lines.push_back(L"    " + path);
  }
  return lines;
}

}  // namespace

void DispatchItem(Engine& run, Text item) {
  const Text shown = item;
  std::erase(item, L'"');
  Env::Named named;
  try {
    named = run.env.OpenNamed(item);
  } catch (const Failure& failure) {
    ReportFailure(run, shown, failure, Item::kNamed);
    return;
  }
  if (named.file) {
    ShredFile(run, shown, std::move(named.file));
    return;
  }
  // Neither: a link, removed itself.
  if (named.folder) run.FolderStack.emplace_back(Where(run, item), std::move(named.folder));
}

Outcome ProcessItems(Engine& run, const ArgumentList& items) {
  bool finished;
  try {
    finished = DispatchAndWalk(run, items);
  } catch (...) {
    // However the run ends, nothing written is left undeleted or unreported.
    try {
      FinishInFlight(run);
    } catch (const EndProgram&) {
    }
    throw;
  }
  FinishInFlight(run);
  if (!finished) return Outcome::kCancelled;

  run.env.SetCurrentFolder(run.StartFolder);
  run.frmMain.SetCaption(Text());
  run.env.PumpMessages();
  // What was left, once every file is reported and before the pause; a cancel clicked meanwhile
  // ends the run without it.
  if (run.frmMain.Check1() != 1) {
    const Text summary = Summary(run);
    if (!summary.empty()) run.frmMain.ShowSummary(summary, LeftList(run));
  }
  CancellableWait(run, 1000);
  run.frmMain.SetVisible(false);
  return run.left.empty() ? Outcome::kAllGone : Outcome::kLeft;
}

void CancellableWait(Engine& run, int32_t milliseconds) {
  // The clock is kept in single precision, as a time of day that wraps at midnight.
  auto now = [&run] { return static_cast<float>(run.env.SecondsSinceMidnight()); };
  const float wait = static_cast<float>(milliseconds) / 1000.0f;

  for (;;) {  // Restarts from here when the clock passes midnight.
    const float start = now();
    for (;;) {
      const float deadline = start + wait;
      const float time = now();
      if (!(deadline > time)) return;
      if (run.frmMain.Check1() == 1) throw EndProgram{};
      run.env.PumpMessages();
      const float after = now();
      if (after < start) break;
      // Sleep until input arrives or the deadline nears, rather than spin a core.
      const float left_ms = (deadline - after) * 1000.0f;
      run.env.WaitForMessages(static_cast<int>(std::clamp(left_ms, 0.0f, 10.0f)));
    }
  }
}

}  // namespace morvenit
