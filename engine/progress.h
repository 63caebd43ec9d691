// The progress contract: the few elements of the progress window that the engine reads and
// writes. Any access creates the window first if it does not exist (hidden until shown).
#ifndef MORVENIT_ENGINE_PROGRESS_H_
#define MORVENIT_ENGINE_PROGRESS_H_

#include <vector>

#include "platform/env.h"

namespace morvenit {

class Progress {
 public:
  virtual ~Progress() = default;

  // Returns the value of the "Cancel" toggle `Check1`: 1 means the user asks to stop.
  virtual int Check1() = 0;
  // Sets the text of the file display `Text1`.
  virtual void SetText1(const Text& text) = 0;
  // Sets the caption of the status line `Label2`.
  virtual void SetLabel2(const Text& caption) = 0;
  // Shows or hides the status line `Label2`.
  virtual void ShowLabel2(bool visible) = 0;
  // Replaces the window's whole title.
  virtual void SetCaption(const Text& caption) = 0;
  // Shows or hides the window; showing neither waits nor runs a message loop.
  virtual void SetVisible(bool visible) = 0;
  // Shows what a run left, modally: `counts` at the top (its lines end with '\n'), and below it
  // `lines`, one entry a line, in a list that scrolls, whose lines can be selected and copied as
  // they are. Returns once the user has closed it.
  virtual void ShowSummary(const Text& counts, const std::vector<Text>& lines) = 0;
};

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_PROGRESS_H_
