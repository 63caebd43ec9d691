// The right-click verb "Shred with Morvenit", served by the program itself: COM starts it as a
// local server, or connects to the one already running, and the shell hands each selection to a
// drop target as a data object, with no command line in between to limit its size.
#ifndef MORVENIT_WINDOWS_VERB_SERVER_H_
#define MORVENIT_WINDOWS_VERB_SERVER_H_

#include <memory>

#include "engine/selections.h"
#include "platform/env.h"

namespace morvenit {

// The class the setup registers for the verb, and for drops on the program's icon and Send To
// entry (its App Paths "DropTarget"). installer/morvenit.nsi reads this line.
inline constexpr wchar_t kVerbClassId[] = L"{E99C3767-6932-4418-9A7B-C764807BB7CA}";

// Registers the verb's class for this process and returns the selections it is handed; the class
// is served on the calling (window) thread until the result is destroyed, or until Wait() found
// nothing waiting and nothing holding the program. Started by COM, the program waits up to 30
// seconds for its first selection. Never fails: a class that could not be registered makes the
// first Wait() raise the failure where COM started the program, and return none otherwise.
std::unique_ptr<Selections> ServeVerb(Env& env, bool started_by_com);

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_VERB_SERVER_H_
