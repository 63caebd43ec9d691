// frmSplash, the information window shown when the program starts without arguments.
#ifndef MORVENIT_WINDOWS_SPLASH_WINDOW_H_
#define MORVENIT_WINDOWS_SPLASH_WINDOW_H_

namespace morvenit {

// Shows the information window modally; returns when it has been closed.
void ShowSplashModal();

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_SPLASH_WINDOW_H_
