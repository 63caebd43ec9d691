// The removal engine: the run driver, the cancellable wait, the file shredder and the folder
// walker. Portable; it reaches the platform only through Env and the progress window only through
// Progress.
#ifndef MORVENIT_ENGINE_ENGINE_H_
#define MORVENIT_ENGINE_ENGINE_H_

#include <cstdint>
#include <vector>

#include "engine/progress.h"
#include "platform/env.h"

namespace morvenit {

using ArgumentList = std::vector<Text>;

// What one removal run works with.
struct Engine {
  Env& env;
  Progress& frmMain;
  Text StartFolder;
  // Folders waiting to be walked, used as a stack above the empty sentinel at index 0.
  std::vector<Text> FolderStack;
  // When the shredder last pumped the window's messages (Env::NowMicros), across files: pumping
  // after every small file would cost more than overwriting it.
  uint64_t last_pump_micros = 0;
};

// Runs one removal run over `items`: named files are shredded as they are met, named folders are
// walked after the last item, the last-named first. Raises Failure for an empty list or an item
// whose attributes cannot be read; raises EndProgram when cancelled during the closing pause.
void ProcessItems(Engine& run, const ArgumentList& items);

// Waits `milliseconds` while keeping the window alive; raises EndProgram when Cancel is checked.
void CancellableWait(Engine& run, int32_t milliseconds);

// Overwrites one file with the fill pattern down to the disk and deletes it; reports its own
// failures on the status line and returns. Raises only EndProgram.
void ShredFile(Engine& run, Text path);

// Empties every folder on FolderStack of files at every depth, leaving the folders standing.
void WalkFolders(Engine& run);

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_ENGINE_H_
