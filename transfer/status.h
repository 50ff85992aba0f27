// The signed result of a transfer, and the text report beside it. Pure: no
// Windows headers.
#pragma once

enum TransferStatus {
    // No step done and no error: the socket client waits for its next
    // event. As the result of t1: the WinInet transfer completed, or the
    // caller cancelled (its own flag tells which).
    TransferClear = 0,
    TransferStepDone = 1,       // connected, or the SOCKS proxy answered
    TransferSocketDone = 4,     // the server closed after a 2xx answer
    TransferUnreachable = -1,   // sockets did not start, a host did not resolve,
                                // or the SOCKS proxy refused or closed during
                                // the handshake
    TransferServerRefused = -3, // not a 2xx answer, or no answer at all
    TransferWriteFailed = -4,   // the target file could not be created or written
    TransferBodyShort = -5,     // the body ended before its announced length, or
                                // reading it failed
    TransferStalled = -6,       // no socket event for a minute
    TransferEventError = -20,   // a socket event carried an error code
    TransferUnselectFailed = -21,
    TransferSocketFailed = -23,
    TransferSelectFailed = -24, // also: no window to deliver the events to, or
                                // the window was destroyed during the transfer
    TransferConnectFailed = -25,
    TransferSendFailed = -26,
    TransferReceiveFailed = -32,
    TransferSchemeRefused = -40, // neither "http://" nor "ftp://"
    TransferInputRefused = -41,  // an input longer than its buffer, or missing
    TransferBusy = -42           // t1 was called while a call of it ran
};

// The status report's sizes: what a caller's buffer holds at least.
enum {
    DiagnosticsReportSize = 1913,
    ReportSize = 251
};

// A bounded write position in a status report. End points at the last
// byte the report may use, which always receives a NUL.
struct ReportCursor {
    char *At;
    char *End;
};

// Appends text at the cursor, cut to the room left, terminates it and
// moves the cursor past it.
void ReportText(ReportCursor *cursor, const char *text);

// Appends key, '=', value and CR LF, as ReportText does.
void ReportValue(ReportCursor *cursor, const char *key, const char *value);

// ReportValue with value in decimal, read as signed or not.
void ReportNumber(ReportCursor *cursor, const char *key, unsigned value, int isSigned);
