// frmMain, the progress window shown during a removal run.
#ifndef MORVENIT_WINDOWS_PROGRESS_WINDOW_H_
#define MORVENIT_WINDOWS_PROGRESS_WINDOW_H_

#include "engine/progress.h"

namespace morvenit {

// The progress contract served by the real window. Every access creates the window first when
// it does not exist (after the user closed it, for instance), hidden.
class ProgressWindow : public Progress {
 public:
  int Check1() override;
  void SetText1(const Text& text) override;
  void SetLabel2(const Text& caption) override;
  void ShowLabel2(bool visible) override;
  void SetCaption(const Text& caption) override;
  void SetVisible(bool visible) override;
};

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_PROGRESS_WINDOW_H_
