// The usage text that the information window unfolds. Portable, so that its exact wording can
// be checked without a window.
#ifndef MORVENIT_WINDOWS_USAGE_TEXT_H_
#define MORVENIT_WINDOWS_USAGE_TEXT_H_

#include <string>

namespace morvenit {

// Built from its paragraphs rather than kept as one literal, so each sentence reads as written.
// Every paragraph is one line that the label wraps to its width; the last two lines belong
// together and are split by a single break. Nothing follows the last line.
inline std::wstring BuildUsageText() {
  const std::wstring crlf = L"\r\n";
  std::wstring text = L"Morvenit is very easy to use";
  text += crlf + crlf;
  text +=
      L"The installation placed a morvenit.exe icon on your desktop. Simply drag and drop files "
      L"or folders onto the desktop icon and they'll be processed by Morvenit";
  text += crlf + crlf;
  text +=
      L"Morvenit does not remove the actual folders - only the contents are processed - your "
      L"folder structure remains intact.";
  text += crlf + crlf;
  text +=
      L"If you've lost or deleted your desktop icon you can simply reinstall morvenit again to "
      L"get the icon back onto your desktop.";
  text += crlf + crlf;
  text += L"WARNING";
  text += crlf + crlf;
  text += L"we know of no undelete utility that can";
  text += crlf;
  text += L"recover data processed by morvenit";
  return text;
}

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_USAGE_TEXT_H_
