// The run driver and the cancellable wait.
#include <algorithm>

#include "engine/engine.h"

namespace morvenit {

namespace {

// The run up to the closing pause; returns false when it was cancelled. Files still in flight are
// left to the caller.
bool DispatchAndWalk(Engine& run, const ArgumentList& items) {
  run.FolderStack.assign(1, PendingFolder());
  run.frmMain.SetVisible(true);
  run.env.PumpMessages();
  if (items.empty()) throw Failure{kFailSubscript, L"Subscript out of range"};

  // Files are shredded as they are met; folders wait until every item has been dispatched.
  for (const Text& item : items) {
    if (run.frmMain.Check1() == 1) return false;
    if (run.env.GetAttributes(item) & kAttrDirectory) {
      // Pinned down now against the current directory, every name kept exactly as given: the
      // folder walked is the one named, "dir." no less than "..".
      run.FolderStack.push_back(run.env.FullPath(item));
    } else {
      ShredFile(run, item);
    }
    run.env.PumpMessages();
  }

  if (run.FolderStack.size() > 1) WalkFolders(run);
  return true;
}

}  // namespace

void ProcessItems(Engine& run, const ArgumentList& items) {
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
  if (!finished) return;

  run.env.SetCurrentFolder(run.StartFolder);
  run.frmMain.SetCaption(Text());
  run.env.PumpMessages();
  CancellableWait(run, 1000);
  run.frmMain.SetVisible(false);
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
