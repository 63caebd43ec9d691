#include "startup/command_line.h"

namespace morvenit {

Text ArgumentPart(const Text& command_line) {
  size_t i = 0;
  if (!command_line.empty() && command_line[0] == L'"') {
    const size_t close = command_line.find(L'"', 1);
    i = close == Text::npos ? command_line.size() : close + 1;
  } else {
    while (i < command_line.size() && command_line[i] != L' ' && command_line[i] != L'\t') ++i;
  }
  if (i < command_line.size() && (command_line[i] == L' ' || command_line[i] == L'\t')) ++i;
  return command_line.substr(i);
}

ArgumentList SplitCommandLine(const Text& raw) {
  ArgumentList items;
  Text item;
  bool in_quotes = false;
  // The appended space flushes the last item, unless a quote is still open.
  const Text line = raw + L' ';
  for (const wchar_t c : line) {
    if (c == L'"') {
      in_quotes = !in_quotes;
    } else if (c == L' ' && !in_quotes) {
      items.push_back(item);
      item.clear();
    } else {
      item.push_back(c);
    }
  }
  return items;
}

}  // namespace morvenit
