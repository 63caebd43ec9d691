// Start-up: chooses between the information window and a removal run.
#ifndef MORVENIT_STARTUP_STARTUP_H_
#define MORVENIT_STARTUP_STARTUP_H_

#include <functional>

#include "engine/progress.h"
#include "platform/env.h"

namespace morvenit {

// Exit codes of the program.
inline constexpr int kExitDone = 0;     // the run ended, was cancelled, or the window closed
inline constexpr int kExitFailure = 1;  // a failure ended the run after its message box

// Runs the program: an exactly empty command line shows the information window (modally, through
// `ShowSplash`); anything else is split and run. Returns the exit code; the caller must then end
// the process at once, without unloading any window.
int Main(Env& env, Progress& frmMain, const std::function<void()>& ShowSplash);

}  // namespace morvenit

#endif  // MORVENIT_STARTUP_STARTUP_H_
