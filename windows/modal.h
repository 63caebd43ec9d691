// The one message loop of the windows shown modally: the information window and the summary.
#ifndef MORVENIT_WINDOWS_MODAL_H_
#define MORVENIT_WINDOWS_MODAL_H_

#include "platform/win32.h"

namespace morvenit {

// Takes and dispatches the thread's messages until `closed` is true (set by `window`'s own
// procedure), with the dialog manager's keys in `window`: Tab, Shift+Tab, Enter, Escape and the
// space bar on buttons. A WM_QUIT met meanwhile ends it and is posted again for whoever runs the
// loop outside. Window thread only.
void RunModal(HWND window, const bool& closed);

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_MODAL_H_
