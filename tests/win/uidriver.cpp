// Finds and drives the stub's windows from another process in the same
// Wine prefix. Commands (captions match exactly):
//   uidriver list                          visible top-level windows
//   uidriver wait CAPTION [MS]             until the window exists (exit 1: time-out)
//   uidriver gone CAPTION [MS]             until it no longer exists
//   uidriver dump CAPTION [MS]             the window and every control
//   uidriver click CAPTION ID [MS]         press button ID
//   uidriver submit CAPTION ID [MS]        press button ID, then wait until that
//                                          window is gone (another may follow)
//   uidriver settext CAPTION ID TEXT [MS]  set a control's text
//   uidriver select CAPTION ID INDEX [MS]  select a list entry
//   uidriver dblclick CAPTION ID INDEX [MS]  double-click a list entry
//   uidriver key CAPTION ID enter|escape [MS]  press a key in control ID
//   uidriver close CAPTION [MS]            post WM_CLOSE to the window
//   uidriver rect CAPTION ID [MS]          screen rectangle of control ID, or of
//                                          the window for ID 0: "L T R B"
//   uidriver layout CAPTION dialog|message [MS]
//                                          the window's client size ("client W H"),
//                                          then each visible control's rectangle in
//                                          client coordinates and the size its text
//                                          needs in the stub's default dialog font
//                                          or the system's message-box font:
//                                          "control id=ID class=C rect=L,T,R,B need=W,H"
//   uidriver catch CAPTION ID [MS]         press button ID the moment the window
//                                          shows, its thread held while the press
//                                          is posted, so that a quick program
//                                          cannot end its work first
//   uidriver answer CAPTION ID TEXT BUTTON [MS]  set control ID's text and press
//                                          BUTTON, printing "seen" when the window
//                                          shows and "click" before the press, for
//                                          a benchmark to time what the dialog took
// Every command that needs the window waits for it first (default 10 s).
// Texts are printed in UTF-8, whatever the code page of the prefix.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HWND WaitWindow(const char *caption, DWORD ms, DWORD interval = 50)
{
    // Lets a test start what it watches only once the watching has begun.
    fprintf(stderr, "watching\n");
    fflush(stderr);
    DWORD start = GetTickCount();
    for (;;) {
        HWND w = FindWindowA(0, caption);
        if (w && IsWindowVisible(w))
            return w;
        if (GetTickCount() - start > ms)
            return 0;
        Sleep(interval);
    }
}

// The wide forms throughout: the ANSI forms of LB_GETTEXT lose all but the
// first character when the list box belongs to another process.
static const char *Utf8(const wchar_t *text)
{
    static char out[4096];
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, 0, 0))
        out[0] = 0;
    return out;
}

static const char *Caption(HWND w)
{
    wchar_t text[2048];
    // WM_GETTEXT so that edit controls of another process report their text.
    if (!SendMessageW(w, WM_GETTEXT, sizeof text / sizeof *text, (LPARAM)text))
        text[0] = 0;
    return Utf8(text);
}

static BOOL CALLBACK ListTop(HWND w, LPARAM)
{
    if (!IsWindowVisible(w))
        return TRUE;
    char cls[128];
    GetClassNameA(w, cls, sizeof cls);
    printf("window class=%s caption=%s\n", cls, Caption(w));
    return TRUE;
}

static BOOL CALLBACK DumpChild(HWND w, LPARAM)
{
    char cls[128];
    GetClassNameA(w, cls, sizeof cls);
    int id = GetDlgCtrlID(w);
    printf("control class=%s id=%d enabled=%d visible=%d text=%s\n", cls, id,
           IsWindowEnabled(w) ? 1 : 0, IsWindowVisible(w) ? 1 : 0, Caption(w));
    if (!lstrcmpiA(cls, "ListBox")) {
        int n = (int)SendMessageW(w, LB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; ++i) {
            wchar_t item[1024];
            if (SendMessageW(w, LB_GETTEXTLEN, i, 0) < (LRESULT)(sizeof item / sizeof *item)) {
                SendMessageW(w, LB_GETTEXT, i, (LPARAM)item);
                printf("item index=%d text=%s\n", i, Utf8(item));
            }
        }
        printf("selection=%d\n", (int)SendMessageA(w, LB_GETCURSEL, 0, 0));
    }
    if (!lstrcmpiA(cls, "msctls_progress32"))
        printf("position=%d\n", (int)SendMessageA(w, PBM_GETPOS, 0, 0));
    return TRUE;
}

// The font a window's controls draw with, made here as its owner makes it:
// the stub's default dialog font at the screen's resolution, or the one
// the system gives message boxes.
static HFONT MeasuringFont(HDC dc, const char *kind)
{
    if (!strcmp(kind, "message")) {
        NONCLIENTMETRICSA metrics;
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        return CreateFontIndirectA(&metrics.lfMessageFont);
    }
    return CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                       FALSE, FALSE, 0, 0, 0, 0, 0, "MS Sans Serif");
}

struct Layout {
    HWND window;
    HDC dc;
};

// A static text wraps at the control's width, as the control wraps it; a
// button's text stands on one line. A static with neither text nor image,
// such as the icon place of a message box without an icon, draws nothing
// and is left out.
static BOOL CALLBACK PrintLayout(HWND control, LPARAM data)
{
    const Layout *layout = reinterpret_cast<const Layout *>(data);
    if (!IsWindowVisible(control))
        return TRUE;
    char cls[128];
    GetClassNameA(control, cls, sizeof cls);
    wchar_t text[2048];
    if (!SendMessageW(control, WM_GETTEXT, sizeof text / sizeof *text, (LPARAM)text))
        text[0] = 0;
    if (!lstrcmpiA(cls, "Static") && !text[0] && !SendMessageW(control, STM_GETICON, 0, 0) &&
        !SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0))
        return TRUE;
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(0, layout->window, reinterpret_cast<POINT *>(&r), 2);
    RECT need = {0, 0, r.right - r.left, 0};
    bool measured = text[0] && (!lstrcmpiA(cls, "Static") || !lstrcmpiA(cls, "Button"));
    if (measured)
        DrawTextW(layout->dc, text, -1, &need,
                  DT_CALCRECT | (!lstrcmpiA(cls, "Static") ? DT_WORDBREAK : DT_SINGLELINE));
    else
        need.right = 0;
    printf("control id=%d class=%s rect=%ld,%ld,%ld,%ld need=%ld,%ld\n", GetDlgCtrlID(control), cls,
           r.left, r.top, r.right, r.bottom, need.right, need.bottom);
    return TRUE;
}

static HWND Control(HWND dlg, int id)
{
    HWND c = GetDlgItem(dlg, id);
    if (!c) {
        fprintf(stderr, "uidriver: no control %d\n", id);
        exit(3);
    }
    return c;
}

int main(int argc, char **argv)
{
    // Rectangles and fonts in the screen's own pixels, as the stub, which
    // is aware of the resolution, sees them.
    typedef BOOL(WINAPI * SetAware)(void);
    SetAware setAware = reinterpret_cast<SetAware>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleA("user32.dll"),
                                                        "SetProcessDPIAware")));
    if (setAware)
        setAware();
    if (argc < 2) {
        fprintf(stderr, "uidriver: no command\n");
        return 2;
    }
    const char *cmd = argv[1];
    if (!strcmp(cmd, "list")) {
        EnumWindows(ListTop, 0);
        return 0;
    }
    if (argc < 3)
        return 2;
    const char *caption = argv[2];
    int need = 3; // arguments before the optional time-out
    if (!strcmp(cmd, "click") || !strcmp(cmd, "submit") || !strcmp(cmd, "rect") ||
        !strcmp(cmd, "catch") || !strcmp(cmd, "layout"))
        need = 4;
    else if (!strcmp(cmd, "settext") || !strcmp(cmd, "select") || !strcmp(cmd, "dblclick") ||
             !strcmp(cmd, "key"))
        need = 5;
    else if (!strcmp(cmd, "answer"))
        need = 6;
    DWORD ms = argc > need ? (DWORD)atoi(argv[need]) : 10000;

    if (!strcmp(cmd, "catch")) {
        HWND w = WaitWindow(caption, ms, 1);
        if (!w)
            return 1;
        // The window's thread is held while the press is posted: it sees
        // the press at its next look at its messages, however little work
        // it has left.
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(w, 0));
        if (thread)
            SuspendThread(thread);
        int id = atoi(argv[3]);
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(w, id));
        if (thread) {
            ResumeThread(thread);
            CloseHandle(thread);
        }
        return thread ? 0 : 3;
    }
    if (!strcmp(cmd, "answer")) {
        if (argc < need)
            return 2;
        HWND w = WaitWindow(caption, ms, 2);
        if (!w)
            return 1;
        printf("seen\n");
        fflush(stdout);
        SendMessageA(Control(w, atoi(argv[3])), WM_SETTEXT, 0, (LPARAM)argv[4]);
        int button = atoi(argv[5]);
        printf("click\n");
        fflush(stdout);
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(w, button));
        return 0;
    }

    if (!strcmp(cmd, "gone")) {
        DWORD start = GetTickCount();
        while (FindWindowA(0, caption)) {
            if (GetTickCount() - start > ms)
                return 1;
            Sleep(50);
        }
        return 0;
    }

    HWND w = WaitWindow(caption, ms);
    if (!w) {
        fprintf(stderr, "uidriver: no window \"%s\"\n", caption);
        EnumWindows(ListTop, 0);
        return 1;
    }
    if (!strcmp(cmd, "wait"))
        return 0;
    if (!strcmp(cmd, "close")) {
        PostMessageA(w, WM_CLOSE, 0, 0);
        return 0;
    }
    if (!strcmp(cmd, "dump")) {
        char cls[128];
        GetClassNameA(w, cls, sizeof cls);
        printf("window class=%s caption=%s\n", cls, Caption(w));
        EnumChildWindows(w, DumpChild, 0);
        return 0;
    }
    if (argc < need)
        return 2;
    if (!strcmp(cmd, "layout")) {
        RECT client;
        GetClientRect(w, &client);
        printf("client %ld %ld\n", client.right, client.bottom);
        Layout layout = {w, GetDC(0)};
        HGDIOBJ old = SelectObject(layout.dc, MeasuringFont(layout.dc, argv[3]));
        EnumChildWindows(w, PrintLayout, reinterpret_cast<LPARAM>(&layout));
        DeleteObject(SelectObject(layout.dc, old));
        ReleaseDC(0, layout.dc);
        return 0;
    }
    int id = atoi(argv[3]);
    if (!strcmp(cmd, "rect")) {
        RECT r;
        GetWindowRect(id ? Control(w, id) : w, &r);
        printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    } else if (!strcmp(cmd, "click") || !strcmp(cmd, "submit")) {
        HWND c = GetDlgItem(w, id);
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)c);
        DWORD start = GetTickCount();
        while (!strcmp(cmd, "submit") && IsWindow(w)) {
            if (GetTickCount() - start > ms)
                return 1;
            Sleep(20);
        }
    } else if (!strcmp(cmd, "settext")) {
        SendMessageA(Control(w, id), WM_SETTEXT, 0, (LPARAM)argv[4]);
    } else if (!strcmp(cmd, "select") || !strcmp(cmd, "dblclick")) {
        HWND c = Control(w, id);
        SendMessageA(c, LB_SETCURSEL, atoi(argv[4]), 0);
        WORD code = !strcmp(cmd, "select") ? LBN_SELCHANGE : LBN_DBLCLK;
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)c);
    } else if (!strcmp(cmd, "key")) {
        HWND c = Control(w, id);
        WPARAM vk = !strcmp(argv[4], "enter") ? VK_RETURN : VK_ESCAPE;
        SetForegroundWindow(w);
        SetFocus(c);
        PostMessageA(c, WM_KEYDOWN, vk, 1);
        PostMessageA(c, WM_KEYUP, vk, 0xC0000001);
    } else {
        fprintf(stderr, "uidriver: unknown command %s\n", cmd);
        return 2;
    }
    return 0;
}
