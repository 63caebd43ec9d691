// The selections contract: items the shell hands over while the program runs, through its verb
// or a drop on its icon, rather than on the command line. The engine declares it; the windows
// serve it (windows/verb_server.h), as they serve the progress contract.
#ifndef MORVENIT_ENGINE_SELECTIONS_H_
#define MORVENIT_ENGINE_SELECTIONS_H_

#include <vector>

#include "platform/env.h"

namespace morvenit {

// The items of a command line or of a selection, in order.
using ArgumentList = std::vector<Text>;

// Used on the window thread only.
class Selections {
 public:
  virtual ~Selections() = default;

  // Returns the items of every selection handed over since the last call, in their order, at once
  // when there are any; otherwise waits for the next, keeping the messages flowing, and returns
  // none when none can come any more. Raises Failure when no selection can be taken at all.
  virtual ArgumentList Wait() = 0;
  // Returns the items handed over since the last call, in their order, or none, at once. Never
  // fails.
  virtual ArgumentList Take() = 0;
};

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_SELECTIONS_H_
