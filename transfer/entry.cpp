#include "transfer/transfer.h"
#include "common/text.h"

TransferStateRecord TransferState;
char TransferBuffer[TransferBufferSize];
unsigned char ReceiveBuffer[TransferBufferSize];

namespace {

// The file a diagnostics run downloads into, left on disk afterwards.
const char DiagnosticsFile[] = "C:\\~KXHTTP1.TMP";
const unsigned UrlLimit = 255;

void ReportProxy(void)
{
    TransferStateRecord *state = CurrentTransfer();
    ReportCursor *report = &state->Report;
    ReportText(report, "ProxyServer=", 1);
    ReportText(report, ProxyConfig.Host, 1);
    ReportText(report, "\r\nProxyIgnore=", 1);
    ReportText(report, ProxyConfig.BypassList, 1);
    ReportText(report, "\r\n", 1);
    ReportNumber(report, "ProxyPort", ProxyConfig.Port, 0, 1);
    ReportText(report, ProxyConfig.Socks ? "ProxyType=SOCKS\r\n" : "ProxyType=CERN\r\n", 1);
}

// Proxy discovery and Windows Sockets, once per process; both again at
// the next call while the sockets cannot start.
int Initialise(void)
{
    TransferStateRecord *state = CurrentTransfer();
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
void StampTarget(DWORD dosDate, DWORD dosTime)
{
    FILETIME local, universal;
    if (DosDateTimeToFileTime(WORD(dosDate), WORD(dosTime), &local) &&
        LocalFileTimeToFileTime(&local, &universal))
        SetFileTime(HANDLE(INT_PTR(TransferState.Target)), 0, 0, &universal);
}

int SocketTransfer(const char *url, const char *form, DWORD dosDate, DWORD dosTime)
{
    TransferStateRecord *state = CurrentTransfer();
    if (OpenHttpRequest(url, form)) {
        SendPending();
        PumpUntilStatus();
        if (dosDate && state->Target != HFILE_ERROR)
            StampTarget(dosDate, dosTime);
    } else if (!TransferCancelled()) {
        SetTransferStatus(TransferSchemeRefused);
    }
    if (state->Target != HFILE_ERROR) {
        _lclose(state->Target);
        state->Target = HFILE_ERROR;
    }
    CloseTransferSocket();
    // A connection that ended before any answer was read delivered nothing.
    if (!state->HeaderSeen && !TransferCancelled())
        SetTransferStatus(TransferServerRefused);
    if (state->Diagnostics)
        ReportNumber(&state->Report, "WinSockError", DWORD(Winsock.LastError()), 1, 0);
    return state->Status;
}

int Transfer(const char *url, const char *target, int expected, DWORD dosDate, DWORD dosTime)
{
    TransferStateRecord *state = CurrentTransfer();
    if (state->Diagnostics)
        ReportProxy();
    // A cut URL would fetch something else; a post needs its form.
    if (TextLength(url) > UrlLimit) {
        ReportFailure("UrlLength", TextLength(url));
        return TransferInputRefused;
    }
    if (expected < 0 && !target)
        return TransferInputRefused;
    if (expected < 0)
        return SocketTransfer(url, target, 0, 0);

    state->Target = _lcreat(target ? target : DiagnosticsFile, 0);
    if (state->Target == HFILE_ERROR) {
        ReportFailure("CreateError", GetLastError());
        return TransferWriteFailed;
    }
    if (TryInternetTransfer(url)) {
        _lclose(state->Target);
        state->Target = HFILE_ERROR;
        return state->Status;
    }
    return SocketTransfer(url, 0, dosDate, dosTime);
}

} // namespace

void SetTransferStatus(int status)
{
    TransferStateRecord *state = CurrentTransfer();
    if (state->Status >= 0)
        state->Status = status;
}

void FailTransfer(int error)
{
    TransferState.Status = error;
}

void ReportFailure(const char *key, DWORD value)
{
    TransferStateRecord *state = CurrentTransfer();
    if (state->Diagnostics) {
        ReportNumber(&state->Report, key, value, 0, 1);
        return;
    }
    // Outside diagnostics the reason follows a message after an empty line,
    // and the cursor stays: the last reason is the one reported.
    ReportCursor line = state->Report;
    ReportText(&line, "\r\n\r\n", 1);
    ReportNumber(&line, key, value, 0, 0);
}

int WriteTarget(const void *data, unsigned count)
{
    TransferStateRecord *state = CurrentTransfer();
    if (state->Target == HFILE_ERROR || count == 0)
        return 1;
    if (_lwrite(state->Target, (LPCCH)data, count) == count)
        return 1;
    FailTransfer(TransferWriteFailed);
    ReportFailure("WriteError", GetLastError());
    return 0;
}

void DispatchTransferMessages(void)
{
    MSG message;
    while (PeekMessageA(&message, TransferState.Window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

extern "C" int WINAPI t1(const int *cancel, const char *url, const char *target, HWND window,
                         int *counter, int expected, int share, DWORD dosDate, DWORD dosTime,
                         char *status)
{
    if (!url) {
        CloseInternet();
        if (!Winsock.Cleanup || Winsock.Cleanup() != 0)
            return -1;
        // Sockets have stopped: a later transfer starts them again rather
        // than fail on every socket call.
        TransferState.Initialised = 0;
        return 0;
    }
    if (!Initialise())
        return TransferUnreachable;

    TransferStateRecord *state = CurrentTransfer();
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
    state->Status = TransferWaiting;
    state->Fill = state->HeaderSeen = state->LengthKnown = 0;
    state->BodyBytes = 0;
    state->Target = HFILE_ERROR;

    int result = Transfer(url, target, expected, dosDate, dosTime);
    if (!TransferCancelled() && result >= 0)
        *counter += state->Account.RemainingShare;
    state->Report.At = 0;
    return result;
}
