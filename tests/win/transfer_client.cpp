// Another module of an installation that downloads or posts through the
// stub's exported transfer client: loads the stub by path, looks up t1 and
// t2, owns a real top-level window whose procedure forwards the socket
// events to t2, and calls t1 with what its command line says.
//
// Usage: transfer_client STUB URL [URL...] [options]
//   --target PATH        download into PATH; a "%d" in it stands for the
//                        call's number (without --target or --post: the
//                        diagnostics mode, a null target)
//   --diagnostics        null target: the stub's own file and full report
//   --post FORM          post FORM (\r, \n, \\ and \xHH are decoded);
//                        expected size -1 unless --expected says otherwise
//   --expected N         expected size (default 0)
//   --share N            progress share (default 1000)
//   --dos-date N --dos-time N
//   --no-window          null window handle
//   --cancel-after N     set the cancel flag once the counter passes N
//   --destroy-after N    destroy the window once the counter passes N
//   --report-size N      status buffer size (default 1913 in the diagnostics
//                        mode, 251 otherwise); 0 passes a null buffer
//   --repeat K           run the list of URLs K times
//   --teardown           finish with a tear-down call (null URL)
//   --between FILE       after each tear-down call, import FILE with regedit
//   --dismiss-dialogs    cancel any dialog box the transfer opens
//   --trace              print each socket event as it is forwarded
//   --reenter            once per call, from the window procedure while the
//                        call runs, call t1 again for the same URL and then
//                        for a tear-down; prints reentered=S,S (or -)
// Each call prints "call=I url=...", then status=, counter=, forwarded=,
// report=, report_length=, canary=, microseconds= (the call's own time);
// a tear-down prints teardown=; the end
// prints dialogs=. URL "-" stands for a null URL.
#include "stub_library.h"
#include <stdlib.h>
#include <string.h>

typedef int(WINAPI *TransferFn)(int *, const char *, const char *, HWND, int *, int, int, DWORD,
                                DWORD, char *);
typedef int(WINAPI *EventFn)(UINT, WPARAM, LPARAM);

// The 32-bit stub exports its standard-call names decorated; x86-64 has no
// decoration.
static const bool Wide = sizeof(void *) == 8;
static const char *const TransferName = Wide ? "t1" : "_t1@40";
static const char *const EventName = Wide ? "t2" : "_t2@12";

static const UINT SocketEventMessage = 1025;
static const UINT ProgressEventMessage = 1026;
static const size_t CanarySize = 64;
static const unsigned char CanaryByte = 0xA5;

static EventFn Event;
static int Cancel;
static int Counter;
static long CancelAfter = -1;
static long DestroyAfter = -1;
static int Forwarded;
static int DialogsDismissed;
static bool DismissDialogs;
static bool Trace;
static TransferFn Transfer;
static bool Reenter;
static const char *Running; // the URL of the call that runs, or null
static char Reentered[32];

// Changes the registry between calls, as another program might.
static void ImportRegistry(const char *file)
{
    char command[MAX_PATH + 32];
    snprintf(command, sizeof command, "regedit.exe /S \"%s\"", file);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(0, command, 0, 0, FALSE, 0, 0, 0, &startup, &process)) {
        printf("regedit failed: %lu\n", GetLastError());
        return;
    }
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// A dialog answered once may still stand at the next tick; it counts once.
static HWND Dismissed[16];

static BOOL CALLBACK CancelDialog(HWND window, LPARAM)
{
    char cls[16];
    if (!GetClassNameA(window, cls, sizeof cls) || strcmp(cls, "#32770") || !IsWindowVisible(window))
        return TRUE;
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    for (int i = 0; i < DialogsDismissed && i < 16; ++i)
        if (Dismissed[i] == window)
            return TRUE;
    if (DialogsDismissed < 16)
        Dismissed[DialogsDismissed] = window;
    ++DialogsDismissed;
    return TRUE;
}

static void CheckCancel()
{
    if (CancelAfter >= 0 && Counter > CancelAfter)
        Cancel = 1;
}

// What a careless caller's window procedure might do while a transfer
// runs: start another one, and tear the client down.
static void ReenterOnce(HWND window)
{
    if (!Reenter || !Running || Reentered[0])
        return;
    strcpy(Reentered, "...");
    int counter = 0;
    char report[251];
    int first = Transfer(&Cancel, Running, "C:\\reentered.bin", window, &counter, 0, 1000, 0, 0,
                         report);
    int second = Transfer(&Cancel, 0, 0, 0, &counter, 0, 0, 0, 0, 0);
    snprintf(Reentered, sizeof Reentered, "%d,%d", first, second);
}

// Does no more than the stub allows while a transfer runs: forwards the
// socket events and sets the cancel flag. A timer keeps the cancel check
// going on the WinInet path, which sends no socket events; it also finds
// the dialogs WinInet may open, whose modal loop still runs this window.
static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == SocketEventMessage || message == ProgressEventMessage) {
        if (message == SocketEventMessage)
            ++Forwarded;
        if (Trace)
            printf("event=%u socket=%llu event=%u error=%u\n", message, (unsigned long long)wParam,
                   (unsigned)LOWORD(lParam), (unsigned)HIWORD(lParam));
        Event(message, wParam, lParam);
        CheckCancel();
        ReenterOnce(window);
        if (DestroyAfter >= 0 && Counter > DestroyAfter)
            DestroyWindow(window);
        return 0;
    }
    if (message == WM_TIMER) {
        CheckCancel();
        ReenterOnce(window);
        if (DismissDialogs)
            EnumThreadWindows(GetCurrentThreadId(), CancelDialog, 0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A fault inside the stub would otherwise start Wine's debugger and hold
// the test until its timeout; the address says in which module it fell.
static LONG WINAPI ReportCrash(EXCEPTION_POINTERS *info)
{
    void *at = info->ExceptionRecord->ExceptionAddress;
    char module[MAX_PATH] = "?";
    HMODULE owner;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           (LPCSTR)at, &owner))
        GetModuleFileNameA(owner, module, sizeof module);
    printf("crash=%08lX at %p in %s\n", info->ExceptionRecord->ExceptionCode, at, module);
    fflush(stdout);
    ExitProcess(9);
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A command line cannot carry CR and LF, so the form text names them.
static char *DecodeEscapes(const char *in)
{
    char *out = (char *)malloc(strlen(in) + 1), *o = out;
    while (*in) {
        if (*in != '\\' || !in[1]) {
            *o++ = *in++;
            continue;
        }
        char c = in[1];
        in += 2;
        if (c == 'r')
            *o++ = '\r';
        else if (c == 'n')
            *o++ = '\n';
        else if (c == 'x' && HexValue(in[0]) >= 0 && HexValue(in[1]) >= 0) {
            *o++ = (char)(HexValue(in[0]) * 16 + HexValue(in[1]));
            in += 2;
        } else
            *o++ = c;
    }
    *o = 0;
    return out;
}

static void PrintEscaped(const char *key, const char *text, size_t length)
{
    printf("%s=", key);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c == '\r')
            fputs("\\r", stdout);
        else if (c == '\n')
            fputs("\\n", stdout);
        else if (c == '\\')
            fputs("\\\\", stdout);
        else if (c < 0x20 || c >= 0x7F)
            printf("\\x%02X", c);
        else
            putchar(c);
    }
    putchar('\n');
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const char *urls[64];
    int urlCount = 0;
    const char *target = 0, *form = 0, *between = 0;
    bool diagnostics = true, noWindow = false, teardown = false, expectedGiven = false;
    long expected = 0, share = 1000, reportSize = -1, repeat = 1;
    DWORD dosDate = 0, dosTime = 0;
    for (int i = 2; i < argc; ++i) {
        const char *a = argv[i];
        bool more = i + 1 < argc;
        if (!strcmp(a, "--target") && more) {
            target = argv[++i];
            diagnostics = false;
        } else if (!strcmp(a, "--diagnostics")) {
            diagnostics = true;
            target = form = 0;
        }
        else if (!strcmp(a, "--post") && more) {
            form = DecodeEscapes(argv[++i]);
            diagnostics = false;
        } else if (!strcmp(a, "--expected") && more) {
            expected = strtol(argv[++i], 0, 10);
            expectedGiven = true;
        } else if (!strcmp(a, "--share") && more)
            share = strtol(argv[++i], 0, 10);
        else if (!strcmp(a, "--dos-date") && more)
            dosDate = strtoul(argv[++i], 0, 0);
        else if (!strcmp(a, "--dos-time") && more)
            dosTime = strtoul(argv[++i], 0, 0);
        else if (!strcmp(a, "--no-window"))
            noWindow = true;
        else if (!strcmp(a, "--cancel-after") && more)
            CancelAfter = strtol(argv[++i], 0, 10);
        else if (!strcmp(a, "--destroy-after") && more)
            DestroyAfter = strtol(argv[++i], 0, 10);
        else if (!strcmp(a, "--report-size") && more)
            reportSize = strtol(argv[++i], 0, 10);
        else if (!strcmp(a, "--repeat") && more)
            repeat = strtol(argv[++i], 0, 10);
        else if (!strcmp(a, "--teardown"))
            teardown = true;
        else if (!strcmp(a, "--between") && more)
            between = argv[++i];
        else if (!strcmp(a, "--dismiss-dialogs"))
            DismissDialogs = true;
        else if (!strcmp(a, "--trace"))
            Trace = true;
        else if (!strcmp(a, "--reenter"))
            Reenter = true;
        else if (a[0] == '-' && a[1] == '-') {
            printf("unknown option %s\n", a);
            return 2;
        } else if (urlCount < 64)
            urls[urlCount++] = a;
    }
    if (form && !expectedGiven)
        expected = -1;
    if (reportSize < 0)
        reportSize = diagnostics ? 1913 : 251;

    SetUnhandledExceptionFilter(ReportCrash);
    HMODULE stub = LoadStubLibrary(argv[1]);
    if (!stub)
        return 3;
    TransferFn transfer = (TransferFn)(void *)GetProcAddress(stub, TransferName);
    Event = (EventFn)(void *)GetProcAddress(stub, EventName);
    Transfer = transfer;
    if (!transfer || !Event) {
        printf("no %s or %s\n", TransferName, EventName);
        return 4;
    }

    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(0);
    wc.lpszClassName = "KestTransferClient";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "Kest transfer client", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 300, 100, 0, 0, wc.hInstance, 0);
    if (!window) {
        printf("CreateWindow failed: %lu\n", GetLastError());
        return 6;
    }
    SetTimer(window, 1, 20, 0);

    // The canary right after the stated size catches a report that runs
    // past it; the bytes before it are not zero, so a missing terminator
    // shows too.
    char *report = 0;
    if (reportSize > 0)
        report = (char *)malloc(reportSize + CanarySize);
    int call = 0;
    for (long r = 0; r < repeat; ++r) {
        for (int u = 0; u < urlCount; ++u, ++call) {
            const char *url = strcmp(urls[u], "-") ? urls[u] : 0;
            if (report) {
                memset(report, 0x01, reportSize);
                report[0] = 0;
                memset(report + reportSize, CanaryByte, CanarySize);
            }
            Cancel = 0;
            Counter = 0;
            Forwarded = 0;
            char path[MAX_PATH];
            if (target)
                snprintf(path, sizeof path, target, call);
            const char *third = form ? form : target ? path : 0;
            LARGE_INTEGER frequency, start, end;
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&start);
            Running = url;
            Reentered[0] = 0;
            int status = transfer(&Cancel, url, third, noWindow ? 0 : window, &Counter,
                                  (int)expected, (int)share, dosDate, dosTime, report);
            Running = 0;
            QueryPerformanceCounter(&end);
            printf("call=%d url=%s\n", call, url ? url : "-");
            printf("status=%d\ncounter=%d\nforwarded=%d\ncancelled=%d\nmicroseconds=%lld\n", status,
                   Counter, Forwarded, Cancel,
                   (long long)((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart));
            if (Reenter)
                printf("reentered=%s\n", Reentered[0] ? Reentered : "-");
            if (report) {
                size_t length = 0;
                while (length < (size_t)reportSize && report[length])
                    ++length;
                PrintEscaped("report", report, length);
                printf("report_length=%u\nterminated=%s\n", (unsigned)length,
                       length < (size_t)reportSize ? "yes" : "no");
                bool intact = true;
                for (size_t k = 0; k < CanarySize; ++k)
                    intact = intact && (unsigned char)report[reportSize + k] == CanaryByte;
                printf("canary=%s\n", intact ? "intact" : "overwritten");
            }
            fflush(stdout);
            if (!url && between)
                ImportRegistry(between);
        }
    }
    if (teardown) {
        int status = transfer(&Cancel, 0, 0, 0, &Counter, 0, 0, 0, 0, 0);
        printf("teardown=%d\n", status);
    }
    printf("dialogs=%d\n", DialogsDismissed);
    if (IsWindow(window)) {
        KillTimer(window, 1);
        DestroyWindow(window);
    }
    fflush(stdout);
    return 0;
}
