// The runtime phase of the main sequence: the check, the installation of a
// runtime that is too old, and the restart it may ask for.
#pragma once

// Checks the installed runtime and installs a newer one when the package
// needs it, from the payload, a path in the settings or a download. May
// set RebootPending. Every failure, Cancel and a declined restart end the
// process with code 1 (missing administrator rights with code 2).
void PrepareRuntime(void);
