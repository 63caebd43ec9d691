// frmMain, the progress window shown during a removal run.
#ifndef MORVENIT_WINDOWS_PROGRESS_WINDOW_H_
#define MORVENIT_WINDOWS_PROGRESS_WINDOW_H_

#include <memory>

#include "engine/progress.h"
#include "platform/win32.h"

namespace morvenit {

// The progress contract served by the real window. Every access creates the window first when
// it does not exist (after the user closed it, for instance), hidden. Raises Failure only when
// the system cannot create the window.
class ProgressWindow : public Progress {
 public:
  ProgressWindow();
  ~ProgressWindow() override;
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  int Check1() override;
  void SetText1(const Text& text) override;
  void SetLabel2(const Text& caption) override;
  void ShowLabel2(bool visible) override;
  void SetCaption(const Text& caption) override;
  void SetVisible(bool visible) override;
  void ShowSummary(const Text& counts, const std::vector<Text>& lines) override;

 private:
  struct Form;  // the window and its elements while it exists
  Form& Load();

  ScopedWindow owner_;  // never shown; being owned keeps frmMain off the taskbar
  std::unique_ptr<Form> form_;
};

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_PROGRESS_WINDOW_H_
