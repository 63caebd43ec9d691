// The tokeniser: how the shell's command line is cut back into the dropped paths.
#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <random>

namespace morvenit {
namespace {

using Items = ArgumentList;

TEST(SplitCommandLine, CutsAtUnquotedSpacesAndDropsQuotes) {
  EXPECT_EQ(SplitCommandLine(L"\"C:\\My Files\\a b.txt\" C:\\x.txt"),
            (Items{L"C:\\My Files\\a b.txt", L"C:\\x.txt"}));
  EXPECT_EQ(SplitCommandLine(L"ab\"c d\"e"), (Items{L"abc de"}));
  EXPECT_EQ(SplitCommandLine(L"C:\\single"), (Items{L"C:\\single"}));
}

TEST(SplitCommandLine, KeepsEmptyItems) {
  EXPECT_EQ(SplitCommandLine(L"a  b"), (Items{L"a", L"", L"b"}));
  EXPECT_EQ(SplitCommandLine(L" a"), (Items{L"", L"a"}));
  EXPECT_EQ(SplitCommandLine(L"a "), (Items{L"a", L""}));
  EXPECT_EQ(SplitCommandLine(L" "), (Items{L"", L""}));
  EXPECT_EQ(SplitCommandLine(L"\"\""), (Items{L""}));
}

TEST(SplitCommandLine, UnclosedQuoteSwallowsTheRest) {
  EXPECT_EQ(SplitCommandLine(L"a \"b"), (Items{L"a"}));
  EXPECT_EQ(SplitCommandLine(L"\"C:\\a b"), Items{});
}

TEST(SplitCommandLine, KeepsEveryCharacterUnchanged) {
  // Characters outside any ANSI code page must arrive as they are, never best-fitted to others.
  const Text name = L"C:\\\u03A9\u00E9\u4E2D\u0001\t.bin";
  EXPECT_EQ(SplitCommandLine(name), (Items{name}));
  const Items many(40000, L"x");
  Text line;
  for (const Text& item : many) line += (line.empty() ? L"" : L" ") + item;
  EXPECT_EQ(SplitCommandLine(line).size(), 40000u);
}

// Quotes an item the way the shell does when it builds a command line from dropped paths.
Text Join(const Items& items) {
  Text line;
  for (size_t i = 0; i < items.size(); ++i) {
    const Text& item = items[i];
    const bool quote = item.empty() || item.find(L' ') != Text::npos;
    line += (i ? L" " : L"") + (quote ? L"\"" + item + L"\"" : item);
  }
  return line;
}

TEST(SplitCommandLine, RandomLinesNeverYieldQuotesAndJoinedItemsRoundTrip) {
  std::mt19937 random(20261207);
  const wchar_t alphabet[] = {L'a', L'"', L' ', L'\\', L'\u00E9', L'\u03A9', L'.', L'\t'};
  for (int round = 0; round < 2000; ++round) {
    Text line;
    const int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i) line += alphabet[random() % std::size(alphabet)];

    const Items items = SplitCommandLine(line);
    for (const Text& item : items) {
      ASSERT_EQ(item.find(L'"'), Text::npos) << "line [" << line.size() << "]";
    }
    if (!items.empty()) {
      EXPECT_EQ(SplitCommandLine(Join(items)), items);
    }
  }
}

TEST(ArgumentPart, SkipsTheProgramAndOneSeparator) {
  EXPECT_EQ(ArgumentPart(L"\"C:\\Program Files\\morvenit.exe\" C:\\a.txt"), L"C:\\a.txt");
  EXPECT_EQ(ArgumentPart(L"morvenit.exe  two"), L" two");
  EXPECT_EQ(ArgumentPart(L"\"C:\\m.exe\"  "), L" ");
  EXPECT_EQ(ArgumentPart(L"\"C:\\m.exe\" "), L"");
  EXPECT_EQ(ArgumentPart(L"\"C:\\m.exe\""), L"");
  EXPECT_EQ(ArgumentPart(L"C:\\m.exe"), L"");
  EXPECT_EQ(ArgumentPart(L"\"C:\\m.exe\"\"a b\""), L"\"a b\"");
}

}  // namespace
}  // namespace morvenit
