// Starts a program with an exact command line and working directory, so
// that GetCommandLineW in the child returns precisely what a test wrote.
// Usage: launch SPECFILE, where SPECFILE holds three lines in UTF-8: the
// program's path, the working directory (empty: inherit), and the command
// line.
// Prints "exit=N" and ends with the child's exit code.
//
// While it waits, it reports on stderr each message box of the child as it
// opens ("box=HWND CAPTION: TEXT") and closes ("closed=HWND"), so that the
// test harness can fail at once, with the text, when the stub stops on an
// error nobody expected instead of waiting for a time-out. A line "kill" on
// stdin, or its end, ends the child, so that nothing a failed test started
// stays behind in the session's wineserver.
#include "utf8_text.h"
#include <stdio.h>
#include <string.h>

static void chomp(char *s)
{
    size_t n = strlen(s);
    while (n && (s[n - 1] == '\n' || s[n - 1] == '\r'))
        s[--n] = 0;
}

namespace {

DWORD ChildId;
HWND Shown[64];
int ShownCount;

struct Controls {
    bool onlyTextsAndButtons;
    char text[1024];
};

BOOL CALLBACK InspectControl(HWND control, LPARAM data)
{
    Controls *c = reinterpret_cast<Controls *>(data);
    char kind[32];
    GetClassNameA(control, kind, sizeof kind);
    if (!lstrcmpiA(kind, "Static")) {
        char text[512];
        GetWindowTextA(control, text, sizeof text);
        if (text[0] && strlen(c->text) + strlen(text) + 2 < sizeof c->text) {
            if (c->text[0])
                strcat(c->text, " ");
            strcat(c->text, text);
        }
    } else if (lstrcmpiA(kind, "Button")) {
        c->onlyTextsAndButtons = false;
    }
    return TRUE;
}

// A dialog of the child made only of texts, icons and buttons: a message
// box. The stub's own dialogs hold a list, an edit field or a progress bar.
bool IsMessageBox(HWND window, Controls *controls)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char kind[32];
    if (process != ChildId || !IsWindowVisible(window) ||
        !GetClassNameA(window, kind, sizeof kind) || strcmp(kind, "#32770"))
        return false;
    controls->onlyTextsAndButtons = true;
    controls->text[0] = 0;
    EnumChildWindows(window, InspectControl, reinterpret_cast<LPARAM>(controls));
    return controls->onlyTextsAndButtons;
}

BOOL CALLBACK ReportNewBox(HWND window, LPARAM)
{
    Controls controls;
    if (!IsMessageBox(window, &controls))
        return TRUE;
    for (int i = 0; i < ShownCount; ++i)
        if (Shown[i] == window)
            return TRUE;
    if (ShownCount < 64)
        Shown[ShownCount++] = window;
    char caption[256];
    GetWindowTextA(window, caption, sizeof caption);
    fprintf(stderr, "box=%p %s: %s\n", (void *)window, caption, controls.text);
    fflush(stderr);
    return TRUE;
}

void WatchMessageBoxes(void)
{
    for (int i = 0; i < ShownCount;) {
        Controls controls;
        if (IsWindow(Shown[i]) && IsMessageBox(Shown[i], &controls)) {
            ++i;
            continue;
        }
        fprintf(stderr, "closed=%p\n", (void *)Shown[i]);
        fflush(stderr);
        Shown[i] = Shown[--ShownCount];
    }
    EnumWindows(ReportNewBox, 0);
}

HANDLE Child;

DWORD WINAPI KillOnRequest(LPVOID)
{
    char line[64];
    DWORD got;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(input, line, sizeof line - 1, &got, 0) && got) {
        line[got] = 0;
        if (strstr(line, "kill"))
            break;
    }
    TerminateProcess(Child, 259);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: launch SPECFILE\n");
        return 250;
    }
    FILE *f = fopen(argv[1], "rb");
    if (!f) {
        fprintf(stderr, "launch: cannot read %s\n", argv[1]);
        return 251;
    }
    static char program[4096], directory[4096], commandLine[32768];
    if (!fgets(program, sizeof program, f) || !fgets(directory, sizeof directory, f)) {
        fprintf(stderr, "launch: short spec file\n");
        return 252;
    }
    size_t n = fread(commandLine, 1, sizeof commandLine - 1, f);
    commandLine[n] = 0;
    fclose(f);
    chomp(program);
    chomp(directory);
    chomp(commandLine);

    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    static wchar_t wideProgram[4096], wideDirectory[4096], wideCommandLine[32768];
    if (!CreateProcessW(Wide(program, wideProgram, 4096), Wide(commandLine, wideCommandLine, 32768),
                        0, 0, FALSE, 0, 0,
                        directory[0] ? Wide(directory, wideDirectory, 4096) : 0, &si, &pi)) {
        fprintf(stderr, "launch: CreateProcess failed: %lu\n", GetLastError());
        return 253;
    }
    ChildId = pi.dwProcessId;
    Child = pi.hProcess;
    CreateThread(0, 0, KillOnRequest, 0, 0, 0);
    while (WaitForSingleObject(pi.hProcess, 200) == WAIT_TIMEOUT)
        WatchMessageBoxes();
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("exit=%lu\n", code);
    fflush(stdout);
    return (int)code;
}
