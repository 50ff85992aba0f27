#include "runtime/runtime.h"

int ShellElevates;
int RebootPending;
