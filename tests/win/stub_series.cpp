// Runs a program once per request, answering its dialogs as a patient user
// would, so that a long series of runs (the corruption matrix) costs one
// Wine start instead of several per run.
//
// Each line on stdin is a request: PROGRAM<TAB>ARGUMENTS<TAB>PASSWORD<TAB>MS.
// The program starts with the command line "PROGRAM" ARGUMENTS in the
// current folder. While it runs, every dialog of its own process is
// answered: the password dialog gets PASSWORD and OK the first time and
// Cancel after that (a second prompt means the password was refused), the
// language dialog OK, and a message box its "No" button, else "OK" (else
// "Cancel"). Any other window is reported ("window CAPTION: TEXT") and left
// alone. A run that lasts MS milliseconds is ended.
//
// Each run is reported on stdout as one line:
//   exit=CODE<TAB>hang=0|1<TAB>password=N<TAB>language=N<TAB>ms=MS<TAB>dialog=MS<TAB>
//   boxes=CAPTION: TEXT|...
// where ms is the run's length and dialog when its first dialog came (0: none).
// An empty line ends the series.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int PasswordEdit = 1005;
const int LanguageList = 1008;

DWORD ChildId;
const char *Password;
int PasswordPrompts, LanguagePrompts;
HWND Answered[64];
int AnsweredCount;
char Boxes[8192];
DWORD Start, FirstDialog; // GetTickCount at the start, and at the first dialog (0: none)

void Flatten(char *text)
{
    for (; *text; ++text)
        if (*text == '\t' || *text == '\r' || *text == '\n' || *text == '|')
            *text = ' ';
}

struct Texts {
    bool onlyTextsAndButtons;
    char text[1024];
};

BOOL CALLBACK CollectText(HWND control, LPARAM data)
{
    Texts *t = reinterpret_cast<Texts *>(data);
    char kind[32], text[1024];
    GetClassNameA(control, kind, sizeof kind);
    if (lstrcmpiA(kind, "Static")) {
        if (lstrcmpiA(kind, "Button"))
            t->onlyTextsAndButtons = false;
        return TRUE;
    }
    if (GetWindowTextA(control, text, sizeof text) && strlen(t->text) + strlen(text) + 2 < sizeof t->text) {
        if (t->text[0])
            strcat(t->text, " ");
        strcat(t->text, text);
    }
    return TRUE;
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

// Answers one dialog window (class "#32770") if it is the child's and new.
void AnswerDialog(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != ChildId || !IsWindowVisible(window))
        return;
    for (int i = 0; i < AnsweredCount; ++i)
        if (Answered[i] == window)
            return;
    if (AnsweredCount == 64)
        return;
    Answered[AnsweredCount++] = window;
    if (!FirstDialog)
        FirstDialog = GetTickCount() - Start + 1;

    if (GetDlgItem(window, PasswordEdit)) {
        if (PasswordPrompts++ == 0) {
            SendDlgItemMessageA(window, PasswordEdit, WM_SETTEXT, 0, (LPARAM)Password);
            Press(window, IDOK);
        } else {
            Press(window, IDCANCEL);
        }
        return;
    }
    if (GetDlgItem(window, LanguageList)) {
        ++LanguagePrompts;
        Press(window, IDOK);
        return;
    }
    // A message box holds texts, an icon and buttons only; any other
    // window (a progress window where none should be) is reported and left
    // alone, so that a run which waits on it shows as a hang.
    char caption[256];
    Texts texts;
    texts.onlyTextsAndButtons = true;
    texts.text[0] = caption[0] = 0;
    GetWindowTextA(window, caption, sizeof caption);
    EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&texts));
    Flatten(caption);
    Flatten(texts.text);
    if (strlen(Boxes) + strlen(caption) + strlen(texts.text) + 16 < sizeof Boxes) {
        if (Boxes[0])
            strcat(Boxes, "|");
        if (!texts.onlyTextsAndButtons)
            strcat(Boxes, "window ");
        strcat(Boxes, caption);
        strcat(Boxes, ": ");
        strcat(Boxes, texts.text);
    }
    if (texts.onlyTextsAndButtons)
        Press(window, GetDlgItem(window, IDNO) ? IDNO : GetDlgItem(window, IDOK) ? IDOK : IDCANCEL);
    return;
}

void RunOnce(char *request)
{
    char *fields[4] = {request, 0, 0, 0};
    for (int i = 1; i < 4; ++i) {
        fields[i] = fields[i - 1] ? strchr(fields[i - 1], '\t') : 0;
        if (fields[i])
            *fields[i]++ = 0;
    }
    if (!fields[3]) {
        printf("error=bad request\n");
        return;
    }
    static char commandLine[8192];
    snprintf(commandLine, sizeof commandLine, "\"%s\"%s%s", fields[0], fields[1][0] ? " " : "",
             fields[1]);
    Password = fields[2];
    DWORD limit = strtoul(fields[3], 0, 10);
    PasswordPrompts = LanguagePrompts = AnsweredCount = 0;
    Boxes[0] = 0;
    FirstDialog = 0;
    Start = GetTickCount();

    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA(fields[0], commandLine, 0, 0, FALSE, 0, 0, 0, &si, &pi)) {
        printf("error=CreateProcess %lu\n", GetLastError());
        return;
    }
    CloseHandle(pi.hThread);
    ChildId = pi.dwProcessId;
    int hang = 0;
    // Only the dialog windows are looked at, found by the server itself:
    // a walk over every window of the session, 50 times a second, would
    // keep the server busy for nothing.
    while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT) {
        for (HWND w = 0; (w = FindWindowExA(0, w, "#32770", 0)) != 0;)
            AnswerDialog(w);
        if (GetTickCount() - Start > limit) {
            hang = 1;
            TerminateProcess(pi.hProcess, 259);
            WaitForSingleObject(pi.hProcess, 10000);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    printf("exit=%lu\thang=%d\tpassword=%d\tlanguage=%d\tms=%lu\tdialog=%lu\tboxes=%s\n", code,
           hang, PasswordPrompts, LanguagePrompts, GetTickCount() - Start, FirstDialog, Boxes);
}

} // namespace

int main(void)
{
    static char request[8192];
    while (fgets(request, sizeof request, stdin)) {
        size_t n = strlen(request);
        while (n && (request[n - 1] == '\n' || request[n - 1] == '\r'))
            request[--n] = 0;
        if (!n)
            break;
        RunOnce(request);
        fflush(stdout);
    }
    return 0;
}
