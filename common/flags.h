// The process-wide flags that more than one layer reads: plain integers,
// set once and never cleared. Pure: no Windows headers.
#pragma once

// A quiet switch was seen: no progress window is created.
extern int QuietMode;

// Set by the progress window's Cancel button and by a cancelled language
// dialog; polled by every long operation.
extern int CancelRequested;

// A restart of Windows was requested: message pumps dispatch nothing more.
extern int ShutdownStarted;

// The Windows NT family rather than 9x; set first thing in a run.
extern int PlatformNT;
