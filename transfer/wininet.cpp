#include "transfer/wininet.h"
#include "common/routines.h"
#include "common/text.h"
#include "transfer/discovery.h"
#include "transfer/internet_url.h"

typedef void *HINTERNET;

namespace {

// WinInet's entry points in the order of the names below; the last one is
// optional.
struct InternetBinding {
    HINTERNET(WINAPI *Open)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
    HINTERNET(WINAPI *OpenUrl)(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
    BOOL(WINAPI *ReadFile)(HINTERNET, LPVOID, DWORD, LPDWORD);
    BOOL(WINAPI *CloseHandle)(HINTERNET);
    BOOL(WINAPI *QueryInfo)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
    BOOL(WINAPI *SetOption)(HINTERNET, DWORD, LPVOID, DWORD);
    DWORD(WINAPI *ErrorDlg)(HWND, HINTERNET, DWORD, DWORD, LPVOID *);
    BOOL(WINAPI *LastResponseInfo)(LPDWORD, LPSTR, LPDWORD);
};

const char InternetNames[] = "InternetOpenA\0InternetOpenUrlA\0InternetReadFile\0"
                             "InternetCloseHandle\0HttpQueryInfoA\0InternetSetOptionA\0"
                             "InternetErrorDlg\0InternetGetLastResponseInfoA\0";
const unsigned RequiredInternetEntries = 7;

InternetBinding Internet;
HINTERNET InternetRoot;
int InternetBound; // the look-up was attempted: a missing library is not sought again

enum {
    QueryStatusCode = 0x20000013,    // HTTP_QUERY_STATUS_CODE as a number
    QueryContentLength = 0x20000005, // HTTP_QUERY_CONTENT_LENGTH as a number
    OptionProxyUserName = 43,
    OptionProxyPassword = 44,
    // No cache entry for what is downloaded, and the connection kept.
    OpenUrlFlags = 0x04000000 | 0x00400000,
    // Ask for credentials where the answer calls for them, and keep them.
    ErrorDialogFlags = 7,
    ProxyAuthenticationRequired = 407
};

void BindInternet(void)
{
    InternetBound = 1;
    if (BindSystemEntries("WININET.DLL", InternetNames, &Internet, sizeof Internet,
                          RequiredInternetEntries))
        InternetRoot = Internet.Open("Kest", 0, 0, 0, 0);
}

__attribute__((noinline)) HINTERNET OpenUrl(const char *url, const char *headers)
{
    return Internet.OpenUrl(InternetRoot, url, headers, DWORD(-1), OpenUrlFlags, 0);
}

__attribute__((noinline)) DWORD QueryStatus(HINTERNET request, DWORD *code)
{
    DWORD size = sizeof *code;
    return Internet.QueryInfo(request, QueryStatusCode, code, &size, 0);
}

// Gives up the root handle after a failed attempt: every later transfer
// goes to the socket path. In diagnostics WinInet's last answer is
// reported first.
void AbandonInternet(TransferStateRecord *state)
{
    if (state->Diagnostics && Internet.LastResponseInfo) {
        ReportText(&state->Report, "WinInetText=");
        char text[256];
        DWORD error, length = sizeof text;
        if (Internet.LastResponseInfo(&error, text, &length)) {
            text[sizeof text - 1] = 0;
            ReportText(&state->Report, text);
            ReportText(&state->Report, "\r\n");
            ReportNumber(&state->Report, "WinInetError", error, 0);
        }
    }
    Internet.CloseHandle(InternetRoot);
    InternetRoot = 0;
}

// Reads the body into the target file. A read that fails, or a body
// shorter than the length WinInet reports, is a failure: the caller would
// otherwise run a cut file. Kept out of its one caller, as
// CleanInternetUrl is: the two together cost the program file more than
// the call.
__attribute__((noinline)) void ReadBody(TransferStateRecord *state, HINTERNET request)
{
    DWORD announced, size = sizeof announced;
    int lengthKnown = Internet.QueryInfo(request, QueryContentLength, &announced, &size, 0);
    DWORD received = 0;
    for (;;) {
        DWORD count = 0;
        if (!Internet.ReadFile(request, TransferBuffer, TransferBufferSize, &count)) {
            RecordError(state, TransferBodyShort);
            ReportFailure(state, "ReadError", GetLastError());
            return;
        }
        if (TransferCancelled(state) || count == 0)
            break;
        if (!WriteTarget(state, TransferBuffer, count))
            return;
        received += count;
        AccountProgress(&state->Account, state->Counter, int(count));
        DispatchTransferMessages(state);
    }
    if (!TransferCancelled(state) && lengthKnown && received < announced) {
        RecordError(state, TransferBodyShort);
        ReportFailure(state, "BodyLength", DWORD(received));
    }
}

// Hands WinInet one of the proxy's credentials, with its NUL. This and
// the two calls above stay routines of their own: inlined at each of their
// two callers, they cost the program file more than the calls.
__attribute__((noinline)) void SetProxyCredential(DWORD option, char *text)
{
    Internet.SetOption(InternetRoot, option, text, TextLength(text) + 1);
}

} // namespace

int TryInternetTransfer(TransferStateRecord *state, const char *url)
{
    if (!InternetBound)
        BindInternet();
    if (!InternetRoot) {
        if (state->Diagnostics)
            ReportValue(&state->Report, "WinInet", "Not Found");
        return 0;
    }

    char cleanUrl[InternetUrlSize], userName[InternetUrlSize], password[InternetUrlSize];
    char headers[InternetHeaderSize];
    if (!CleanInternetUrl(url, cleanUrl, userName, password) ||
        !ComposeInternetHeaders(userName, password, headers)) {
        RecordError(state, TransferInputRefused);
        return 1;
    }
    ProxyConfigRecord *proxy = CurrentProxy();
    if (proxy->UserName[0]) {
        SetProxyCredential(OptionProxyUserName, proxy->UserName);
        SetProxyCredential(OptionProxyPassword, proxy->Password);
    }

    HINTERNET request = OpenUrl(cleanUrl, headers);
    DWORD code = 0;
    if (request && QueryStatus(request, &code) && code == ProxyAuthenticationRequired) {
        // One chance to give the proxy its credentials, then once more.
        Internet.ErrorDlg(state->Window, request, 0, ErrorDialogFlags, 0);
        Internet.CloseHandle(request);
        request = OpenUrl(cleanUrl, headers);
        if (request)
            QueryStatus(request, &code);
    }
    // Only a 2xx is the file: WinInet hands over an unfollowed 3xx, or a
    // redirect to another scheme, as it came.
    if (!request || code - 200 >= 100) {
        if (request)
            Internet.CloseHandle(request);
        AbandonInternet(state);
        return 0;
    }
    ReadBody(state, request);
    Internet.CloseHandle(request);
    return 1;
}

void CloseInternet(void)
{
    if (InternetRoot) {
        Internet.CloseHandle(InternetRoot);
        InternetRoot = 0;
        InternetBound = 0;
    }
}
