// One transfer's state and the helpers that every path of the client uses
// on it: the status, the report, the target file and the caller's window.
// The record is process-wide, as t2 reaches it from the caller's window
// procedure; the client's routines are handed it, and t1 refuses a second
// call while one runs, so that no call overwrites another's record.
#pragma once
#include <windows.h>
#include <winsock.h>
#include "transfer/progress.h"
#include "transfer/request.h"
#include "transfer/status.h"

struct TransferStateRecord {
    const int *Cancel;      // the caller's flag, read and never written
    HWND Window;            // receives the socket's events; its messages are pumped
    int *Counter;           // the caller's progress counter
    ProgressAccount Account;
    int Status;             // a TransferStatus
    HFILE Target;           // HFILE_ERROR when there is no file
    int Diagnostics;        // the target was null: report the whole path
    ReportCursor Report;    // At is null outside a call, or without a report
    int HeaderSeen;         // the answer's status line was examined
    int Fill;               // bytes held in ReceiveBuffer
    SOCKET Socket;
    int SocketOpen;         // zero-filled state must not read as socket 0
    int SocksPending;       // the SOCKS handshake is not done yet
    int Initialised;        // proxy discovery and WSAStartup have succeeded
    int Busy;               // a call of t1 runs
    DWORD LastEvent;        // when the last socket event came, or the wait began
    // The body's announced length, and what of it has been written.
    int LengthKnown;
    unsigned ContentLength; // 0xFFFFFFFF: that many or more
    unsigned BodyBytes;     // stops at 0xFFFFFFFF
    // What is still to be sent: the request text or the SOCKS request.
    const char *Pending;
    unsigned PendingLength;
};

extern TransferStateRecord TransferState;
extern char TransferBuffer[TransferBufferSize];
extern unsigned char ReceiveBuffer[TransferBufferSize];

// TransferState through a register. Code that reaches every field from one
// base is several bytes shorter per access than code that names each
// field's absolute address, and needs no relocation for each; the empty
// asm keeps the compiler from folding the address back in.
inline TransferStateRecord *CurrentTransfer(void)
{
    TransferStateRecord *state = &TransferState;
    __asm__("" : "+r"(state));
    return state;
}

// The cancel flag, as the caller has it now.
inline int TransferCancelled(const TransferStateRecord *state)
{
    return *state->Cancel != 0;
}

// Sets a status unless an error is already recorded: a negative status is
// never replaced by one that is not, nor by the errors that only describe
// the end of a transfer (no answer, a refused scheme, a failed close).
void SetStatusUnlessFailed(TransferStateRecord *state, int status);

// Records an error; a later error replaces an earlier one.
void RecordError(TransferStateRecord *state, int error);

// Reports why a transfer failed as "key=value": a line of its own in
// diagnostics, else after an empty line, as a message continues.
void ReportFailure(TransferStateRecord *state, const char *key, DWORD value);

// Writes count bytes to the target file, if there is one; a failure records
// TransferWriteFailed and the system's reason in the report. Returns 0
// then.
int WriteTarget(TransferStateRecord *state, const void *data, unsigned count);

// Dispatches every message waiting for the transfer's window (every
// message of the thread when there is none).
void DispatchTransferMessages(const TransferStateRecord *state);
