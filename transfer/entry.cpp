#include "transfer/transfer.h"
#include "common/system.h"
#include "common/text.h"
#include "transfer/discovery.h"
#include "transfer/socket.h"
#include "transfer/wininet.h"
#include "transfer/winsock.h"

namespace {

// The file a diagnostics run downloads into, left on disk afterwards.
const char DiagnosticsFile[] = "C:\\~KXHTTP1.TMP";
const unsigned UrlLimit = 255;

void ReportProxy(TransferStateRecord *state)
{
    ReportCursor *report = &state->Report;
    ReportValue(report, "ProxyServer", ProxyConfig.Host);
    ReportValue(report, "ProxyIgnore", ProxyConfig.BypassList);
    ReportNumber(report, "ProxyPort", ProxyConfig.Port, 0);
    ReportValue(report, "ProxyType", ProxyConfig.Socks ? "SOCKS" : "CERN");
}

// Proxy discovery and Windows Sockets, once per process; both again at
// the next call while the sockets cannot start.
int Initialise(TransferStateRecord *state)
{
    if (state->Initialised)
        return 1;
    DiscoverProxy();
    WSADATA data;
    if (!BindWinsock() || Winsock.Startup(MAKEWORD(1, 1), &data) != 0)
        return 0;
    state->Initialised = 1;
    return 1;
}

// The last-write time of a socket-path download, taken as local time.
void StampTarget(TransferStateRecord *state, DWORD dosDate, DWORD dosTime)
{
    FILETIME local, universal;
    if (DosDateTimeToFileTime(WORD(dosDate), WORD(dosTime), &local) &&
        LocalFileTimeToFileTime(&local, &universal))
        SetFileTime(HANDLE(INT_PTR(state->Target)), 0, 0, &universal);
}

int SocketTransfer(TransferStateRecord *state, const char *url, const char *form, DWORD dosDate,
                   DWORD dosTime)
{
    if (OpenHttpRequest(state, url, form)) {
        SendPending(state);
        PumpUntilStatus(state);
        if (dosDate && state->Target != HFILE_ERROR)
            StampTarget(state, dosDate, dosTime);
    } else if (!TransferCancelled(state)) {
        SetStatusUnlessFailed(state, TransferSchemeRefused);
    }
    if (state->Target != HFILE_ERROR) {
        _lclose(state->Target);
        state->Target = HFILE_ERROR;
    }
    CloseTransferSocket(state);
    // A connection that ended before any answer was read delivered nothing.
    if (!state->HeaderSeen && !TransferCancelled(state))
        SetStatusUnlessFailed(state, TransferServerRefused);
    if (state->Diagnostics)
        ReportNumber(&state->Report, "WinSockError", DWORD(Winsock.LastError()), 1);
    return state->Status;
}

int Transfer(TransferStateRecord *state, const char *url, const char *target, int expected,
             DWORD dosDate, DWORD dosTime)
{
    if (state->Diagnostics)
        ReportProxy(state);
    // A cut URL would fetch something else; a post needs its form.
    if (TextLength(url) > UrlLimit) {
        ReportFailure(state, "UrlLength", TextLength(url));
        return TransferInputRefused;
    }
    if (expected < 0 && !target)
        return TransferInputRefused;
    if (expected < 0)
        return SocketTransfer(state, url, target, 0, 0);

    state->Target = CreateSystemFile(target ? target : DiagnosticsFile);
    if (state->Target == HFILE_ERROR) {
        ReportFailure(state, "CreateError", GetLastError());
        // A standard user cannot create the diagnostics file at the root of
        // the drive; the diagnosis goes on without it.
        if (!state->Diagnostics)
            return TransferWriteFailed;
    }
    if (TryInternetTransfer(state, url)) {
        _lclose(state->Target);
        state->Target = HFILE_ERROR;
        return state->Status;
    }
    return SocketTransfer(state, url, 0, dosDate, dosTime);
}

int TearDown(TransferStateRecord *state)
{
    CloseInternet();
    if (!Winsock.Cleanup || Winsock.Cleanup() != 0)
        return -1;
    // Sockets have stopped: a later transfer starts them again rather
    // than fail on every socket call.
    state->Initialised = 0;
    return 0;
}

int Run(TransferStateRecord *state, const int *cancel, const char *url, const char *target,
        HWND window, int *counter, int expected, int share, DWORD dosDate, DWORD dosTime,
        char *status)
{
    if (!url)
        return TearDown(state);
    if (!Initialise(state))
        return TransferUnreachable;

    state->Diagnostics = target == 0 && expected >= 0;
    state->Report.At = status;
    state->Report.End = status ? status + (state->Diagnostics ? DiagnosticsReportSize : ReportSize) - 1 : 0;
    if (status)
        status[0] = 0;
    state->Counter = counter;
    state->Cancel = cancel;
    state->Account.RemainingShare = share;
    state->Account.RemainingExpected = expected;
    state->Window = window;
    state->Status = TransferClear;
    state->Fill = state->HeaderSeen = state->LengthKnown = 0;
    state->BodyBytes = 0;
    state->Target = HFILE_ERROR;

    int result = Transfer(state, url, target, expected, dosDate, dosTime);
    if (!TransferCancelled(state) && result >= 0)
        *counter += state->Account.RemainingShare;
    state->Report.At = 0;
    return result;
}

} // namespace

extern "C" int WINAPI t1(const int *cancel, const char *url, const char *target, HWND window,
                         int *counter, int expected, int share, DWORD dosDate, DWORD dosTime,
                         char *status)
{
    TransferStateRecord *state = CurrentTransfer();
    // The caller's window procedure runs while a transfer pumps messages; a
    // call from there would take over the running transfer's record, its
    // file and socket, and leave it pointers into a finished frame.
    if (state->Busy)
        return TransferBusy;
    state->Busy = 1;
    int result = Run(state, cancel, url, target, window, counter, expected, share, dosDate,
                     dosTime, status);
    state->Busy = 0;
    return result;
}
