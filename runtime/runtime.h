// Flags of the runtime phase that other subsystems read.
#pragma once

extern int PlatformNT;      // Windows NT family rather than 9x
extern int RebootPending;   // a runtime installation wants a restart first
