#include "startup/startup.h"

#include <string>

#include "engine/engine.h"
#include "startup/command_line.h"

namespace morvenit {

namespace {

// Does what the program does and deals with how that ends: a cancel ends it at once, a failure
// with its message box. Returns the exit code: the body's, or the end's.
int Guarded(Env& env, const std::function<int()>& body) {
  try {
    return body();
  } catch (const EndProgram&) {
    // Cancelled: end at once, like a finished run.
    return kExitCancelled;
  } catch (const Failure& failure) {
    env.ShowMessage(L"Error " + std::to_wstring(failure.number) + L": " + failure.description,
                    L"Morvenit");
    return kExitFailure;
  }
}

// One run over `items`, the selections `shell` hands over meanwhile joining it; its exit code.
int Run(Env& env, Progress& frmMain, Selections* shell, const ArgumentList& items,
        bool from_shell) {
  Engine run{env, frmMain, env.ProgramFolder(), {}};
  run.shell = shell;
  run.items_from_shell = from_shell;
  switch (ProcessItems(run, items)) {
    case Outcome::kAllGone:
      return kExitDone;
    case Outcome::kLeft:
      return kExitLeft;
    case Outcome::kCancelled:
      return kExitCancelled;
  }
  return kExitFailure;
}

// A run over each selection `shell` hands over, the next starting when one came after a run's
// summary, until it hands over no more, or a run was cancelled, which ends the program as at
// once as a cancel anywhere; the worst exit code of them, starting from `code`.
int RunSelections(Env& env, Progress& frmMain, Selections& shell, int code) {
  for (ArgumentList items; code != kExitCancelled && !(items = shell.Wait()).empty();) {
    code = Worse(code, Run(env, frmMain, &shell, items, true));
  }
  return code;
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
      return kExitDone;
    }
    // Any run serves the verb while it goes: a selection made meanwhile joins it, and never
    // starts a second program.
    const std::unique_ptr<Selections> shell = join ? join() : nullptr;
    const int code = Run(env, frmMain, shell.get(), SplitCommandLine(raw), false);
    return shell ? RunSelections(env, frmMain, *shell, code) : code;
  });
}

int Worse(int a, int b) {
  const auto rank = [](int code) {
    switch (code) {
      case kExitDone:
        return 0;
      case kExitLeft:
        return 1;
      case kExitCancelled:
        return 2;
      default:
        return 3;
    }
  };
  return rank(a) >= rank(b) ? a : b;
}

bool StartedAsServer(const Text& command_line) {
  const ArgumentList arguments = SplitCommandLine(ArgumentPart(command_line));
  return !arguments.empty() && arguments.front() == kServerSwitch;
}

int Serve(Env& env, Progress& frmMain, Selections& shell) {
  env.PrepareProcess();  // as in Main
  return Guarded(env, [&] { return RunSelections(env, frmMain, shell, kExitDone); });
}

}  // namespace morvenit
