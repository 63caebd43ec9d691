#include "startup/startup.h"

#include <string>

#include "engine/engine.h"
#include "startup/command_line.h"

namespace morvenit {

namespace {

// Does what the program does and deals with how that ends: a cancel ends it at once, a failure
// with its message box.
int Guarded(Env& env, const std::function<void()>& body) {
  try {
    body();
  } catch (const EndProgram&) {
    // Cancelled: end at once, like a finished run.
  } catch (const Failure& failure) {
    env.ShowMessage(L"Error " + std::to_wstring(failure.number) + L": " + failure.description,
                    L"Morvenit");
    return kExitFailure;
  }
  return kExitDone;
}

// One run over `items`, the selections `shell` hands over meanwhile joining it.
void Run(Env& env, Progress& frmMain, Selections* shell, const ArgumentList& items,
         bool from_shell) {
  Engine run{env, frmMain, env.ProgramFolder(), {}};
  run.shell = shell;
  run.items_from_shell = from_shell;
  ProcessItems(run, items);
}

// A run over each selection `shell` hands over, the next starting when one came after a run's
// summary, until it hands over no more.
void RunSelections(Env& env, Progress& frmMain, Selections& shell) {
  for (ArgumentList items = shell.Wait(); !items.empty(); items = shell.Wait()) {
    Run(env, frmMain, &shell, items, true);
  }
}

}  // namespace

int Main(Env& env, Progress& frmMain, const std::function<void()>& ShowSplash,
         const JoinShell& join) {
  // Start-up is the platform's first caller: the modes hold before any file or window is reached.
  env.PrepareProcess();
  const Text raw = ArgumentPart(env.CommandLine());
  return Guarded(env, [&] {
    if (raw.empty()) {
      ShowSplash();
      return;
    }
    // Any run serves the verb while it goes: a selection made meanwhile joins it, and never
    // starts a second program.
    const std::unique_ptr<Selections> shell = join ? join() : nullptr;
    Run(env, frmMain, shell.get(), SplitCommandLine(raw), false);
    if (shell) RunSelections(env, frmMain, *shell);
  });
}

bool StartedAsServer(const Text& command_line) {
  const ArgumentList arguments = SplitCommandLine(ArgumentPart(command_line));
  return !arguments.empty() && arguments.front() == kServerSwitch;
}

int Serve(Env& env, Progress& frmMain, Selections& shell) {
  env.PrepareProcess();  // as in Main
  return Guarded(env, [&] { RunSelections(env, frmMain, shell); });
}

}  // namespace morvenit
