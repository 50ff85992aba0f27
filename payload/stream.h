// Copying the payload's streams out: the CRC table with its exported
// register, and the chunked, checked, optionally descrambled copy; and the
// check of a file against its pinned SHA-256.
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

// How a copy ended.
enum CopyResult {
    CopyDone,        // complete, and its CRC matched: OwnFile stands after the trailer
    CopyCancelled,   // CancelRequested was seen: the output is partial
    CopyWriteFailed, // a write came up short (a full disk): CrcFailed is clear
    CopyCorrupt      // short data, or a CRC that does not match: CrcFailed is set
};

// Called after each chunk with the bytes copied before it and the stream's
// data size, so that the driver can move a progress bar and pump messages.
// Null: nothing is reported.
typedef void (*CopyProgressFn)(unsigned done, unsigned total);
extern CopyProgressFn CopyProgress;

// Copies the stream at OwnFile's position (size bytes, its 4-byte CRC
// trailer included) into output, in chunks of 64 KiB through IoBuffer,
// descrambling when descramble is set, and reporting each chunk to
// CopyProgress.
CopyResult CopyStream(HFILE output, int size, int descramble);

// 1 when the file at path reads whole and its SHA-256 is digest (eight
// words, as TakeDigestPin gives it). Reads through IoBuffer in chunks,
// pumping messages between them; OwnFile is not touched.
int FileMatchesDigest(const char *path, const unsigned *digest);
