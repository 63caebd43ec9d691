// The Windows entry point.
#include "platform/win32.h"
#include "startup/startup.h"
#include "windows/progress_window.h"
#include "windows/splash_window.h"
#include "windows/verb_server.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  morvenit::ProgressWindow frmMain;
  morvenit::Env& env = morvenit::Env::Default();
  int code;
  if (morvenit::StartedAsServer(env.CommandLine())) {
    // COM started the program for the shell's verb: the selections come through it.
    const auto shell = morvenit::ServeVerb(env, true);
    code = morvenit::Serve(env, frmMain, *shell);
  } else {
    code = morvenit::Main(
        env, frmMain, [] { morvenit::ShowSplashModal(); },
        [&env] { return morvenit::ServeVerb(env, false); });
  }
  // End at once: open files are closed by the system and no window runs its unload behaviour.
  ::ExitProcess(static_cast<UINT>(code));
}
