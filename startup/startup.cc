#include "startup/startup.h"

#include <string>

#include "engine/engine.h"
#include "startup/command_line.h"

namespace morvenit {

int Main(Env& env, Progress& frmMain, const std::function<void()>& ShowSplash) {
  // Start-up is the platform's first caller: the modes hold before any file or window is reached.
  env.PrepareProcess();
  Engine run{env, frmMain, env.ProgramFolder(), {}};
  const Text raw = ArgumentPart(env.CommandLine());
  try {
    if (raw.empty()) {
      ShowSplash();
    } else {
      ProcessItems(run, SplitCommandLine(raw));
    }
  } catch (const EndProgram&) {
    // Cancelled: end at once, like a finished run.
  } catch (const Failure& failure) {
    env.ShowMessage(L"Error " + std::to_wstring(failure.number) + L": " + failure.description,
                    L"Morvenit");
    return kExitFailure;
  }
  return kExitDone;
}

}  // namespace morvenit
