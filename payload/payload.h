// The embedded payload: its locator and the flags of its readers.
#pragma once

// 1 when the program carries its payload in the .KEST section; 0 in
// settings-file mode. Set once by LocatePayload.
extern int EmbeddedMode;
