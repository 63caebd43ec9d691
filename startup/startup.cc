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

}  // namespace

int Main(Env& env, Progress& frmMain, const std::function<void()>& ShowSplash) {
  // Start-up is the platform's first caller: the modes hold before any file or window is reached.
  env.PrepareProcess();
  Engine run{env, frmMain, env.ProgramFolder(), {}};
  const Text raw = ArgumentPart(env.CommandLine());
  return Guarded(env, [&] {
    if (raw.empty()) {
      ShowSplash();
    } else {
      ProcessItems(run, SplitCommandLine(raw));
    }
  });
}

bool StartedAsServer(const Text& command_line) {
  const ArgumentList arguments = SplitCommandLine(ArgumentPart(command_line));
  return !arguments.empty() && arguments.front() == kServerSwitch;
}

int Serve(Env& env, Progress& frmMain, Selections& shell) {
  env.PrepareProcess();  // as in Main
  return Guarded(env, [&] {
    for (ArgumentList items = shell.Wait(); !items.empty(); items = shell.Wait()) {
      Engine run{env, frmMain, env.ProgramFolder(), {}};
      run.shell = &shell;
      run.items_from_shell = true;
      ProcessItems(run, items);
    }
  });
}

}  // namespace morvenit
