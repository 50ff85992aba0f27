#include "runtime/runtime.h"

int PlatformNT;
int RebootPending;
