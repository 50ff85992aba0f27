#include "common/flags.h"

int QuietMode;
int CancelRequested;
int ShutdownStarted;
int PlatformNT;
