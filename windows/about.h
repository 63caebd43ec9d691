// Who makes Morvenit: the lines the information window shows and the progress window's title
// repeats. Kept in one place so both windows always say the same.
#ifndef MORVENIT_WINDOWS_ABOUT_H_
#define MORVENIT_WINDOWS_ABOUT_H_

#include "windows/version.h"

namespace morvenit {

// The notice fits the 129-pixel label of the information window in 8-point MS Sans Serif only
// with the one-character sign: "(C)" would wrap it onto a second, hidden line.
inline constexpr wchar_t kCopyrightNotice[] = MORVENIT_COPYRIGHT_NOTICE;
inline constexpr wchar_t kVersionLabel[] = L"Ver " MORVENIT_VERSION;
inline constexpr wchar_t kWebAddress[] = L"www.example.com";
inline constexpr wchar_t kSupportAddress[] = L"support@example.com";

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_ABOUT_H_
