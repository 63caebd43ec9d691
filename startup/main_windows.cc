// The Windows entry point.
#include "platform/win32.h"
#include "startup/startup.h"
#include "windows/progress_window.h"
#include "windows/splash_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  morvenit::ProgressWindow frmMain;
  const int code =
      morvenit::Main(morvenit::Env::Default(), frmMain, [] { morvenit::ShowSplashModal(); });
  // End at once: open files are closed by the system and no window runs its unload behaviour.
  ::ExitProcess(static_cast<UINT>(code));
}
