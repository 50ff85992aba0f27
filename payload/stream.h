// Copying the payload's streams out: the CRC table with its exported
// register, and the chunked, checked, optionally descrambled copy.
#pragma once
#include <windows.h>

// 1 once a stream's CRC trailer did not match (or it had no room for one);
// chooses the corrupt-data message over the disk-space one. Never cleared.
extern int CrcFailed;

// Builds the CRC table; FreeCrcTable releases it. UpdateCRC builds it
// again when it is called without one.
void BuildCrcTable(void);
void FreeCrcTable(void);

// Exported for other modules of an installation. data null: resets the
// shared register and returns 0. Otherwise folds length bytes into it and
// returns the CRC-32 of everything fed since the last reset.
extern "C" DWORD WINAPI UpdateCRC(const BYTE *data, DWORD length);

// Copies the stream at OwnFile's position (size bytes, its 4-byte CRC
// trailer included) into output, in chunks of 64 KiB through IoBuffer,
// descrambling when descramble is set, moving the progress bar and pumping
// messages after each chunk. Returns 0 when the copy is complete and its
// CRC matched (OwnFile then stands after the trailer) or when the user
// cancelled (CancelRequested set, output partial); 1 when a write came up
// short (CrcFailed clear) or the data is corrupt (CrcFailed set).
int CopyStream(HFILE output, int size, int descramble);
