// A plain stand-in for frmSplash until the real information window lands.
#include "windows/splash_window.h"

#include "platform/win32.h"

namespace morvenit {

void ShowSplashModal() {
  ::MessageBoxW(nullptr, L"Drop files or folders on the Morvenit icon to shred them.", L"Morvenit",
                MB_OK);
}

}  // namespace morvenit
