// Names as the windows show them: every character that cannot be seen, or that moves or breaks
// the text around it, written out as its code point. Portable, so that its table can be checked
// without a window.
#ifndef MORVENIT_WINDOWS_VISIBLE_TEXT_H_
#define MORVENIT_WINDOWS_VISIBLE_TEXT_H_

#include <string>

namespace morvenit {

// Control characters (a line break makes one name look like two), line and paragraph
// separators, interlinear annotations, and Unicode's default-ignorable code points: the
// direction controls (a right-to-left override shows "rlo-\u202Etxt.exe" as "rlo-exe.txt"),
// zero-width characters, fillers, variation selectors and tags.
inline bool ShownAsCodePoint(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || c == 0x34F || c == 0x61C ||
         c == 0x115F || c == 0x1160 || c == 0x17B4 || c == 0x17B5 || (c >= 0x180B && c <= 0x180F) ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || c == 0x3164 || (c >= 0xD800 && c <= 0xDFFF) ||
         (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || c == 0xFFA0 ||
         (c >= 0xFFF0 && c <= 0xFFFB) || (c >= 0x1BCA0 && c <= 0x1BCA3) ||
         (c >= 0x1D173 && c <= 0x1D17A) || (c >= 0xE0000 && c <= 0xE0FFF);
}

// `text` with each such character written "<U+202E>": Windows forbids "<" and ">" in names, so
// no name shows so by itself. A surrogate without its pair is shown so too.
inline std::wstring VisibleText(const std::wstring& text) {
  static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    // UTF-16 (Windows): a pair is one character. Elsewhere a wchar_t holds a whole one.
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                      text[i + 1] <= 0xDFFF;
    if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
    if (!ShownAsCodePoint(c)) {
      shown.append(text, i, pair ? 2 : 1);
    } else {
      std::wstring digits;
      for (char32_t rest = c; rest || digits.size() < 4; rest >>= 4) {
        digits.insert(digits.begin(), kHex[rest & 0xF]);
      }
      shown += L"<U+" + digits + L">";
    }
    if (pair) ++i;
  }
  return shown;
}

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_VISIBLE_TEXT_H_
