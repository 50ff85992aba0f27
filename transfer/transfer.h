// The transfer client's process-wide state and the routines its files
// share: the entry point t1, the WinInet path, the socket client and its
// event handler t2. One transfer runs at a time, on the caller's thread.
#pragma once
#include <windows.h>
#include <winsock.h>
#include "common/window_messages.h"
#include "transfer/progress.h"
#include "transfer/proxy.h"
#include "transfer/request.h"
#include "transfer/status.h"

enum { SocketEventMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE };

// Blocks are collected up to TransferBufferSize and written whole once
// less room than one full segment is left.
enum { SegmentRoom = 1460 };

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
    // The body's announced length, and what of it has been written.
    int LengthKnown;
    unsigned ContentLength; // 0xFFFFFFFF: that many or more
    unsigned BodyBytes;     // stops at 0xFFFFFFFF
    // What is still to be sent: the request text or the SOCKS request.
    const char *Pending;
    unsigned PendingLength;
};

extern TransferStateRecord TransferState;
extern ProxyConfigRecord ProxyConfig;
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
inline int TransferCancelled(void)
{
    return *TransferState.Cancel != 0;
}

// Sets a status unless an error is already recorded: a negative status is
// never replaced by one that is not, nor by the errors that only describe
// the end of a transfer (no answer, a refused scheme, a failed close).
void SetTransferStatus(int status);

// Records an error; a later error replaces an earlier one.
void FailTransfer(int error);

// Reports why a transfer failed as "key=value": a line of its own in
// diagnostics, else after an empty line, as a message continues.
void ReportFailure(const char *key, DWORD value);

// Writes count bytes to the target file, if there is one; a failure records
// TransferWriteFailed and the system's reason in the report. Returns 0
// then.
int WriteTarget(const void *data, unsigned count);

// Dispatches every message waiting for the transfer's window (every
// message of the thread when there is none).
void DispatchTransferMessages(void);

// Fills ProxyConfig from the machine's browser settings, first source
// with a host wins. Never fails.
void DiscoverProxy(void);

// Windows Sockets 1.1, bound at run time from the system directory.
// Returns 0 when the library or one of its entry points is missing.
int BindWinsock(void);

struct WinsockBinding {
    int(WINAPI *Startup)(WORD, LPWSADATA);
    int(WINAPI *Cleanup)(void);
    int(WINAPI *LastError)(void);
    SOCKET(WINAPI *Socket)(int, int, int);
    int(WINAPI *AsyncSelect)(SOCKET, HWND, u_int, long);
    int(WINAPI *Connect)(SOCKET, const struct sockaddr *, int);
    int(WINAPI *Send)(SOCKET, const char *, int, int);
    int(WINAPI *Recv)(SOCKET, char *, int, int);
    int(WINAPI *Shutdown)(SOCKET, int);
    int(WINAPI *SetSockOpt)(SOCKET, int, int, const char *, int);
    int(WINAPI *CloseSocket)(SOCKET);
    unsigned long(WINAPI *InetAddr)(const char *);
    struct hostent *(WINAPI *GetHostByName)(const char *);
};
extern WinsockBinding Winsock;

// The WinInet path. Returns 1 when the download completed or ended for a
// reason the socket path cannot mend (cancel, a write or read failure,
// status set); 0 when WinInet failed and the socket path should try, with
// the target file still empty. Looks WinInet up on its first use.
int TryInternetTransfer(const char *url);

// Forgets the WinInet root handle at a tear-down, so that the next
// transfer looks WinInet up again.
void CloseInternet(void);

// The socket client's steps, in the order t1 calls them.
int OpenHttpRequest(const char *url, const char *form);
void SendPending(void);
void PumpUntilStatus(void);
void CloseTransferSocket(void);

// Reads what the socket holds into ReceiveBuffer and writes out a block
// when it is nearly full or the answer has ended. With closing, the peer
// has closed and a would-block ends the answer too. Returns 1 when the
// answer has ended (or reading failed).
int ReceiveBlock(int closing);

extern "C" int WINAPI t1(const int *cancel, const char *url, const char *target, HWND window,
                         int *counter, int expected, int share, DWORD dosDate, DWORD dosTime,
                         char *status);
extern "C" int WINAPI t2(UINT message, WPARAM wParam, LPARAM lParam);
