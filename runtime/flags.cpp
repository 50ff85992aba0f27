#include "runtime/runtime.h"

int PlatformNT;
int ShellElevates;
int RebootPending;
