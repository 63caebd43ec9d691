// Start-up: chooses between the information window and a removal run.
#ifndef MORVENIT_STARTUP_STARTUP_H_
#define MORVENIT_STARTUP_STARTUP_H_

#include <functional>
#include <memory>

#include "engine/engine.h"
#include "engine/progress.h"
#include "engine/selections.h"
#include "platform/env.h"

namespace morvenit {

// Exit codes of the program, for scripts and the shell; of several runs, the worst (Worse).
inline constexpr int kExitDone = 0;       // every file named is gone, or the window was closed
inline constexpr int kExitFailure = 1;    // a failure ended the run after its message box
inline constexpr int kExitLeft = 2;       // the run ended and left files, each reported
inline constexpr int kExitCancelled = 3;  // the user cancelled the run

// The worse of two exit codes: a failure, then a cancel, then files left, then none.
int Worse(int a, int b);

// Serves the shell's verb to the program from now on: returns the selections handed over through
// it, served until the result is destroyed. Null where there is no shell to serve.
using JoinShell = std::function<std::unique_ptr<Selections>()>;

// Runs the program: an exactly empty command line shows the information window (modally, through
// `ShowSplash`); anything else is split and run, serving the verb meanwhile (through `join`), so
// that a selection made while the run goes joins it, and one made during its closing pause runs
// next. Returns the exit code; the caller must then end the process at once, without unloading
// any window.
int Main(Env& env, Progress& frmMain, const std::function<void()>& ShowSplash,
         const JoinShell& join = {});

// The first argument COM's command line for the shell's verb carries, as the setup registers it
// (installer/morvenit.nsi reads this line). Windows forbids "<" and ">" in names, so no dropped
// path can be taken for it, nor it for a path; COM's own switch follows it and is never read.
inline constexpr wchar_t kServerSwitch[] = L"<shell-verb>";

// Whether `command_line` (the whole of it) is COM starting the program to serve the shell's verb.
bool StartedAsServer(const Text& command_line);

// Runs the program for the shell's verb: a run over each selection `shell` hands over, those that
// come while it goes joining it, the next starting when one came after its summary. Never shows
// the information window. Returns the exit code, as Main does.
int Serve(Env& env, Progress& frmMain, Selections& shell);

}  // namespace morvenit

#endif  // MORVENIT_STARTUP_STARTUP_H_
