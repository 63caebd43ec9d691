// The removal engine: the run driver, the cancellable wait, the file shredder and the folder
// walker. Portable; it reaches the platform only through Env and the progress window only through
// Progress.
#ifndef MORVENIT_ENGINE_ENGINE_H_
#define MORVENIT_ENGINE_ENGINE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "engine/in_flight.h"
#include "engine/progress.h"
#include "engine/selections.h"
#include "platform/env.h"

namespace morvenit {

// A folder waiting to be walked: its path; for a folder the user named, the folder itself, held
// open since it was met; for a folder found inside another, the folder it was listed in (held
// open) and its entry there, so that it is entered through its parent. Either way it is never
// reached again through a path that could lead elsewhere by then. A path alone is opened when
// the walk reaches it.
struct PendingFolder {
  PendingFolder(Text folder_path = Text()) : path(std::move(folder_path)) {}
  PendingFolder(const Text& folder_path, std::shared_ptr<Folder> named)
      : path(folder_path), open(std::move(named)) {}
  PendingFolder(const Text& folder_path, std::shared_ptr<Folder> in, const FolderEntry& as)
      : path(folder_path), parent(std::move(in)), entry(as) {}

  Text path;
  std::shared_ptr<Folder> open;    // a folder the user named
  std::shared_ptr<Folder> parent;  // null for a folder the user named
  FolderEntry entry;
};

// What a run left for one reason: how many files and folders, the words the first failure came
// with, and the path of each, in the order met (a folder's ends in a backslash). Paths alone: a
// run may leave many.
struct LeftFor {
  uint32_t files = 0;
  uint32_t folders = 0;
  Text description;
  std::vector<Text> paths;
};

// What a failure report is about: a file, a folder that could not be walked, or an item the
// user named that could not be opened at all (not found, a device).
enum class Item { kFile, kFolder, kNamed };

// What one removal run works with.
struct Engine {
  Engine(Env& platform, Progress& window, Text start_folder,
         std::vector<PendingFolder> folders = {PendingFolder()})
      : env(platform),
        frmMain(window),
        StartFolder(std::move(start_folder)),
        FolderStack(std::move(folders)) {}

  Env& env;
  Progress& frmMain;
  Text StartFolder;
  // Folders waiting to be walked, used as a stack above the empty sentinel at index 0.
  std::vector<PendingFolder> FolderStack;
  // When the shredder last pumped the window's messages (Env::NowMicros), across files: pumping
  // after every small file would cost more than overwriting it.
  uint64_t last_pump_micros = 0;
  // Files written and waiting for their flush and delete.
  InFlight in_flight;
  // The failures already explained this run (a box where the status line has no words for them,
  // and the wait), by number: a folder of a thousand hard-linked files, or a device that fails
  // under a thousand files, needs one box and one wait, not a thousand.
  std::set<int32_t> failures_explained;
  // The status line still shows a failure reported without a wait; the next file's display
  // takes it away.
  bool status_lingers = false;
  // Files and folders left by this run, by failure number, for the summary at its end. A file not
  // found is gone, and never counted, unless the user named it.
  std::map<int32_t, LeftFor> left;
  // Where items handed over while the run goes come from (another selection given to the
  // running program), taken with Take(); null for a run over its command line alone.
  Selections* shell = nullptr;
  // The items the run starts with came from the shell too, not from a command line.
  bool items_from_shell = false;
  // The files this run met, by number: written (until their delete), or left and reported. A file
  // met again (named, and inside a named folder too) is passed over in silence: it is in hand.
  std::set<FileNumber> met;
  // The listing numbers of the files this run wrote: one of them listed, then gone before it is
  // opened, was deleted by this run.
  std::set<uint64_t> written;
};

// How a run ended: every file named gone; files or folders left, each reported; cancelled.
enum class Outcome { kAllGone, kLeft, kCancelled };

// Runs one removal run over `items`: named files are shredded as they are met, named folders are
// held open as they are met and walked after the last item, the last-named first. A run that left
// files or folders says how many, why and which in the summary window before its closing pause,
// unless it was cancelled. Raises Failure for an empty list; raises EndProgram when cancelled
// during the closing pause. Items the shell hands over meanwhile go the same way once those are
// done, as often as they come, before the summary.
Outcome ProcessItems(Engine& run, const ArgumentList& items);

// Opens the item the user named, once, as it is met: a file is shredded at once through the very
// handle opened; a folder is pushed onto FolderStack, held open, to be walked through that handle;
// a link is removed itself (OpenNamed), never followed.
// An item that cannot be opened (not found, a device) is reported by its path, in a box when it
// was not found, and counted; the run goes on. Raises only EndProgram.
void DispatchItem(Engine& run, Text item);

// Waits `milliseconds` while keeping the window alive; raises EndProgram when Cancel is checked.
void CancellableWait(Engine& run, int32_t milliseconds);

// Overwrites one file with the fill pattern down to the disk and deletes it; reports its own
// failures on the status line and returns. Raises only EndProgram. The first form takes a path
// the user named; the second the file it names, opened already (OpenNamed); the third a file
// found in a walked folder, reached through that folder.
void ShredFile(Engine& run, Text path);
void ShredFile(Engine& run, const Text& path, std::unique_ptr<OpenFile> named);
void ShredFile(Engine& run, const Text& path, Folder& folder, const FolderEntry& entry);

// Waits, keeping the window alive, until every file in flight is flushed and deleted, or
// reported. Raises EndProgram after the last when Cancel cut a report short.
void FinishInFlight(Engine& run);

// Shows why `path` (a file, or a folder that could not be walked) was left: its tail in the file
// display, the failure on the status line (with a message box for a failure the status line has
// no words for), for three seconds, and keeps it for the summary. A failure of a number explained
// before in this run stays on the status line instead, with neither box nor wait, until the next
// file is shown; after a cancel nothing is shown at all. Raises only EndProgram.
void ReportFailure(Engine& run, const Text& path, const Failure& failure, Item item = Item::kFile);

// Empties every folder on FolderStack of files at every depth, leaving the folders standing.
void WalkFolders(Engine& run);

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_ENGINE_H_
