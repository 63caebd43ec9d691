// The summary window shown at the end of a run that left files or folders.
#ifndef MORVENIT_WINDOWS_SUMMARY_WINDOW_H_
#define MORVENIT_WINDOWS_SUMMARY_WINDOW_H_

#include <vector>

#include "platform/win32.h"

namespace morvenit {

// Shows, in a window titled "Morvenit" owned by `owner` (disabled meanwhile), `counts` at the top
// (its lines end with '\n') and `lines` below it in a list that scrolls, whose lines can be
// selected (Ctrl+A: all) and copied (Ctrl+C); "Copy" puts the counts and every line on the
// clipboard. What is copied is exactly what was given. Returns once the user has closed it with
// Enter, Escape, "OK" or the close box. Raises Failure only when the window cannot be created.
void ShowSummaryModal(HWND owner, const Text& counts, const std::vector<Text>& lines);

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_SUMMARY_WINDOW_H_
