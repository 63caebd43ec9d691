// The summary window shown at the end of a run that left files or folders.
#ifndef MORVENIT_WINDOWS_SUMMARY_WINDOW_H_
#define MORVENIT_WINDOWS_SUMMARY_WINDOW_H_

#include "platform/win32.h"

namespace morvenit {

// Shows, in a window titled "Morvenit" owned by `owner` (disabled meanwhile), `counts` at the top
// and `list` below it in a box that scrolls and can be selected and copied (Ctrl+C); "Copy" puts
// both on the clipboard. Lines end with '\n'. Returns once the user has closed it with Enter,
// Escape, "OK" or the close box. Raises Failure only when the window cannot be created.
void ShowSummaryModal(HWND owner, const Text& counts, const Text& list);

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_SUMMARY_WINDOW_H_
