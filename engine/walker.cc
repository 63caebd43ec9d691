// The folder walker: empties every folder on FolderStack of files at every depth and leaves the
// folders themselves standing. It never recurses: subfolders go onto the same stack, so a tree of
// any depth costs no more than its pending folders in memory. Each folder is held open while its
// entries are reached through it, so nobody can swap a folder for a link to somewhere else
// between the listing and the shredding.
#include <utility>
#include <vector>

#include "engine/engine.h"

namespace morvenit {

namespace {

// Enters the folder: the one the user named, held open since it was met; through the folder it
// was listed in; or, given by its path alone, by that path. Null when it cannot be walked, and
// reported, as files may be left inside it.
std::shared_ptr<Folder> Enter(Engine& run, const PendingFolder& pending, const Text& path) {
  if (pending.open) return pending.open;
  try {
    if (!pending.parent) return run.env.OpenNamedFolder(path);
    std::shared_ptr<Folder> folder = pending.parent->OpenSubfolder(pending.entry);
    // A link under its name by now leads out of what was dropped; the folder went elsewhere.
    if (!folder) throw Vanished();
    return folder;
  } catch (const Failure& failure) {
    // Gone since it was listed or named: renamed or moved with its files, most likely.
    ReportFailure(run, path, failure.number == kFailFileNotFound ? Vanished() : failure,
                  Item::kFolder);
    return nullptr;
  }
}

}  // namespace

void WalkFolders(Engine& run) {
  // The sentinel at index 0 is never walked.
  while (run.FolderStack.size() > 1) {
    const PendingFolder pending = std::move(run.FolderStack.back());
    run.FolderStack.pop_back();

    // A blank entry names nothing. A folder that already ends with a backslash (a drive root)
    // keeps it as it is; the test looks past trailing spaces, but the spaces stay in the path.
    Text folder = pending.path;
    const size_t last = folder.find_last_not_of(L' ');
    if (last == Text::npos) continue;
    if (folder[last] != L'\\') folder += L'\\';

    const std::shared_ptr<Folder> open = Enter(run, pending, folder);
    if (!open) continue;
    std::vector<FolderEntry> entries;
    try {
      entries = open->List();
    } catch (const Failure& failure) {
      ReportFailure(run, folder, failure, Item::kFolder);
      continue;
    }

    for (const FolderEntry& entry : entries) {
      if (run.frmMain.Check1() == 1) return;  // the folders still stacked are abandoned
      Text path = folder + entry.name;
      // A link or junction leads out of what the user dropped: neither follow, overwrite nor
      // delete it. Any other reparse point is a file whose data is stored some special way.
      const bool link =
          (entry.attributes & kAttrReparsePoint) && IsNameSurrogate(entry.reparse_tag);
      if (link) continue;
      if (entry.attributes & kAttrDirectory) {
        run.FolderStack.emplace_back(path, open, entry);
      } else {
        ShredFile(run, path, *open, entry);
      }
    }
    // Its files' names go together, with no flush between them.
    run.in_flight.Release();
  }
}

}  // namespace morvenit
