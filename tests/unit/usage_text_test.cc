// The usage text of the information window, checked character for character.
#include "windows/usage_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace morvenit {
namespace {

TEST(UsageText, IsExactlyTheProgramsWording) {
  const std::wstring text = BuildUsageText();
  EXPECT_EQ(text,
            L"Morvenit is very easy to use\r\n\r\n"
            L"The installation placed a morvenit.exe icon on your desktop. Simply drag and drop "
            L"files or folders onto the desktop icon and they'll be processed by Morvenit\r\n\r\n"
            L"Morvenit does not remove the actual folders - only the contents are processed - "
            L"your folder structure remains intact.\r\n\r\n"
            L"If you've lost or deleted your desktop icon you can simply reinstall morvenit again "
            L"to get the icon back onto your desktop.\r\n\r\n"
            L"WARNING\r\n\r\n"
            L"we know of no undelete utility that can\r\n"
            L"recover data processed by morvenit");
  // Counted independently of the literal above: every break is a CRLF pair, none at the end.
  EXPECT_EQ(text.size(), 527u);
  size_t pairs = 0;
  for (size_t at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at + 2)) {
    ++pairs;
  }
  EXPECT_EQ(pairs, 11u);
  EXPECT_EQ(std::count(text.begin(), text.end(), L'\r'), 11);
  EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 11);
  EXPECT_NE(text.back(), L'\n');
}

}  // namespace
}  // namespace morvenit
