// Turns the command line the shell built from the dropped paths back into those paths.
#ifndef MORVENIT_STARTUP_COMMAND_LINE_H_
#define MORVENIT_STARTUP_COMMAND_LINE_H_

#include "engine/engine.h"

namespace morvenit {

// Returns the argument part of a full command line: everything after the program's own path
// (quoted or not) and the one space or tab that separates it from the arguments.
Text ArgumentPart(const Text& command_line);

// Splits the raw command line at unquoted spaces. A double quote only flips the in-quotes state
// and is dropped; empty items are kept; an unclosed quote swallows the rest, which is never
// emitted. Every character is kept as it is.
ArgumentList SplitCommandLine(const Text& raw);

}  // namespace morvenit

#endif  // MORVENIT_STARTUP_COMMAND_LINE_H_
