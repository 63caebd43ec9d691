// Names as the windows show them, character by character.
#include "windows/visible_text.h"

#include <gtest/gtest.h>

namespace morvenit {
namespace {

TEST(VisibleText, ShowsWhatCannotBeSeenOrMovesTheTextAsItsCodePoint) {
  // A high surrogate then a low one: one character of UTF-16, as Windows keeps it.
  const std::wstring tag = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xDB40), wchar_t(0xDC01)}
                                                : std::wstring(1, wchar_t(0xE0001));
  const std::wstring emoji = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                                                  : std::wstring(1, wchar_t(0x1F600));
  const struct {
    std::wstring name, shown;
  } rows[] = {
      {L"C:\\plain name.txt", L"C:\\plain name.txt"},
      {L"line\nbreak\rreturn", L"line<U+000A>break<U+000D>return"},
      {L"rlo-\u202Etxt.exe", L"rlo-<U+202E>txt.exe"},
      {L"zero\u200Bwidth\uFEFF\u00AD", L"zero<U+200B>width<U+FEFF><U+00AD>"},
      {L"tab\tdel\x7F", L"tab<U+0009>del<U+007F>"},
      {L"tag" + tag, L"tag<U+E0001>"},
      {L"Ωμέγα " + emoji, L"Ωμέγα " + emoji},
      {std::wstring(L"lone") + wchar_t(0xD800) + L"x", L"lone<U+D800>x"},
  };
  for (const auto& row : rows) EXPECT_EQ(VisibleText(row.name), row.shown);
}

}  // namespace
}  // namespace morvenit
