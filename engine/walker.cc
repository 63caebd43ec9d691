// The folder walker: empties every folder on FolderStack of files at every depth and leaves the
// folders themselves standing. It never recurses: subfolders go onto the same stack, so a tree of
// any depth costs no more than its pending folders in memory.
#include <utility>
#include <vector>

#include "engine/engine.h"

namespace morvenit {

void WalkFolders(Engine& run) {
  Env& env = run.env;
  // The sentinel at index 0 is never walked.
  while (run.FolderStack.size() > 1) {
    Text folder = std::move(run.FolderStack.back());
    run.FolderStack.pop_back();

    // A blank entry names nothing. A folder that already ends with a backslash (a drive root)
    // keeps it as it is; the test looks past trailing spaces, but the spaces stay in the path.
    const size_t last = folder.find_last_not_of(L' ');
    if (last == Text::npos) continue;
    if (folder[last] != L'\\') folder += L'\\';

    // A folder that vanished after it was pushed, or that we may not enter, is skipped with its
    // whole subtree, silently: nothing inside it can be reached anyway.
    std::vector<Text> names;
    try {
      env.SetCurrentFolder(folder);
      names = env.ListFolder(folder);
    } catch (const Failure&) {
      continue;
    }

    for (Text& name : names) {
      if (run.frmMain.Check1() == 1) return;  // the folders still stacked are abandoned
      if (name == L"." || name == L"..") continue;

      Text path = folder + name;
      uint32_t attributes;
      try {
        attributes = env.GetAttributes(path);
      } catch (const Failure&) {
        // Taken for a folder, so it is never overwritten; entering it fails and skips it.
        attributes = kAttrDirectory;
      }
      // A link or junction leads out of what the user dropped: neither follow, overwrite nor
      // delete it.
      if (attributes & kAttrReparsePoint) continue;
      if (attributes & kAttrDirectory) {
        run.FolderStack.push_back(std::move(path));
      } else {
        ShredFile(run, std::move(path));
      }
    }
  }
}

}  // namespace morvenit
