// Placeholder until the folder walker lands: walks nothing.
#include "engine/engine.h"

namespace morvenit {

void WalkFolders(Engine& run) { run.FolderStack.resize(1); }

}  // namespace morvenit
