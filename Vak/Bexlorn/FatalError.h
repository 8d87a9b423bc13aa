#pragma once
// The fatal-error window: the last stop of an engine exception that escaped a
// thread function. The "window" is a text report on stderr (and in the log
// while it runs); whether to continue or end is asked of a hook.
#include "Vak/Bexlorn/Exception.h"

namespace Vak {

// Shows the exception and answers 1 (end) or 0 (continue). Answers 1 at once
// when another thread's window is showing or a fatal error was accepted.
int ShowFatalError(const Exception& e);

// Set once a window answered 1 or could not be shown; from then on no new
// thread function runs and ShowFatalError answers 1 at once.
bool FatalErrorAccepted();

// The user's answer: 0 continue, 1 end. `reportText` is the report as shown
// on stderr. The default answers 1; a hook that throws counts as a window
// that could not be shown.
using FatalErrorAnswer = int (*)(const Exception& e, const char* reportText);
// Null restores the default. Returns the previous hook.
FatalErrorAnswer SetFatalErrorAnswer(FatalErrorAnswer hook);

// Where the report's lines go besides stderr: the log installs its writer
// while it runs (one line per call, without its line end) and removes it with
// null. Returns the previous writer.
using FatalErrorLogWriter = void (*)(const char* line);
FatalErrorLogWriter SetFatalErrorLogWriter(FatalErrorLogWriter writer);

} // namespace Vak
