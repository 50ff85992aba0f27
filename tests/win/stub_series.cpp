// Runs a program once per request, answering its dialogs as a patient user
// would, so that a long series of runs (the corruption matrix) costs one
// Wine start instead of several per run.
//
// Each line on stdin is a request:
//   PROGRAM<TAB>ARGUMENTS<TAB>PASSWORD<TAB>MS<TAB>ENTRY
// The program starts with the command line "PROGRAM" ARGUMENTS in the
// current folder. While it runs, every dialog of its own process is
// answered: the password dialog gets PASSWORD and OK the first time and
// Cancel after that (a second prompt means the password was refused), the
// language dialog OK, and a message box its "No" button, else "OK" (else
// "Cancel"). Any other window is reported ("window CAPTION: TEXT") and left
// alone. A run that lasts MS milliseconds is ended.
//
// The program runs under this one as its debugger, which tells whether the
// program's own code ever started. ENTRY is RVA:HEX, where the intact
// program's entry routine lies and its first bytes: when the mapped image
// holds those bytes there, a breakpoint on them says whether the routine
// was reached (started=1) or never was (started=0). Elsewhere the routine
// is not where the image would begin it (started=0). "-" sets no probe
// (started=-1). ENTRY may go on with ;RVA:LENGTH:FNV, the intact program's
// code and the FNV-1a hash of its bytes: code=1 says the mapped image holds
// them, code=0 that the loader mapped something else there (a section laid
// over the code, say), code=-1 that it was not looked at. It may go on with
// ;RVA:SIZE:ZEROS, the import address table and how many of its entries the
// intact file leaves null (the end of each library's list): when the entry
// routine is reached, bound=0 says the table holds more nulls than that, so
// the loader started the image without binding its imports; bound=1 that it
// did not, bound=-1 that it was not looked at. An exception that nothing
// handled is reported as crash=CODE@ADDRESS.
//
// Each run is reported on stdout as one line:
//   exit=CODE<TAB>hang=0|1<TAB>password=N<TAB>language=N<TAB>ms=MS<TAB>dialog=MS<TAB>
//   started=1|0|-1<TAB>code=1|0|-1<TAB>bound=1|0|-1<TAB>crash=...<TAB>boxes=CAPTION: TEXT|...
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
            // Typed as posted characters: a message sent to the child
            // waits for its answer, and the child, stopped at a debug
            // event that came meanwhile, waits for its debugger, which
            // is this program. The queue keeps the order of the posts.
            HWND edit = GetDlgItem(window, PasswordEdit);
            for (const char *c = Password; *c; ++c)
                PostMessageA(edit, WM_CHAR, (BYTE)*c, 1);
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

// The breakpoint on the program's entry routine, and what became of it.
struct EntryProbe {
    ULONG_PTR rva;
    BYTE code[16];
    int length;       // 0: no probe asked for
    BYTE *base;       // where the program's image was mapped
    bool armed;
    bool attached;    // the system's breakpoint for a new debugger has come
    int started;      // 1 reached, 0 never, -1 no probe
    ULONG_PTR codeRva, codeLength, codeHash;
    int intact;       // 1 the mapped code is the intact one's, 0 it is not, -1 not looked at
    ULONG_PTR tableRva, tableSize, tableNulls;
    int bound;        // at the entry: 1 the imports are bound, 0 not, -1 not looked at
};

int HexValue(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                          : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Reads ";A:B:C" in hexadecimal at rest; what follows it, or null when rest
// does not begin with one.
char *ParseTriple(char *rest, ULONG_PTR *a, ULONG_PTR *b, ULONG_PTR *c)
{
    ULONG_PTR *values[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        if (*rest != (i ? ':' : ';'))
            return 0;
        *values[i] = strtoul(rest + 1, &rest, 16);
    }
    return rest;
}

void ParseProbe(const char *text, EntryProbe *probe)
{
    memset(probe, 0, sizeof *probe);
    probe->started = probe->intact = probe->bound = -1;
    char *rest;
    probe->rva = strtoul(text, &rest, 16);
    if (*rest++ != ':')
        return;
    while (probe->length < (int)sizeof probe->code && HexValue(rest[0]) >= 0 &&
           HexValue(rest[1]) >= 0) {
        probe->code[probe->length++] = (BYTE)(HexValue(rest[0]) * 16 + HexValue(rest[1]));
        rest += 2;
    }
    rest = ParseTriple(rest, &probe->codeRva, &probe->codeLength, &probe->codeHash);
    if (rest)
        ParseTriple(rest, &probe->tableRva, &probe->tableSize, &probe->tableNulls);
}

// Reads size bytes at rva of the image mapped at base into out (room
// bytes); false when no range was given, it does not fit or cannot be read.
bool ReadMapped(HANDLE process, BYTE *base, ULONG_PTR rva, ULONG_PTR size, void *out,
                SIZE_T room)
{
    SIZE_T got = 0;
    return size && size <= room && ReadProcessMemory(process, base + rva, out, size, &got) &&
           got == size;
}

// Whether the loader bound the imports: no more null entries in the import
// address table than the intact file has.
int ImportsBound(HANDLE process, BYTE *base, const EntryProbe *probe)
{
    static void *table[4096];
    if (!ReadMapped(process, base, probe->tableRva, probe->tableSize, table, sizeof table))
        return -1;
    ULONG_PTR nulls = 0;
    for (SIZE_T i = 0; i < probe->tableSize / sizeof table[0]; ++i)
        nulls += !table[i];
    return nulls <= probe->tableNulls;
}

// Whether the image mapped at base holds the intact program's code.
int CodeIntact(HANDLE process, BYTE *base, const EntryProbe *probe)
{
    static BYTE code[1 << 20];
    if (!ReadMapped(process, base, probe->codeRva, probe->codeLength, code, sizeof code))
        return -1;
    DWORD hash = 2166136261u;
    for (SIZE_T i = 0; i < probe->codeLength; ++i)
        hash = (hash ^ code[i]) * 16777619u;
    return hash == probe->codeHash;
}

// Writes into the program's code. Wine's WriteProcessMemory, like its
// VirtualProtectEx, first asks the program itself about the page, and a
// program that never finished starting (a stack it could not reserve)
// never answers; ntdll's own write goes through the server alone, and
// writes code pages as they are.
bool WriteCode(HANDLE process, BYTE *at, const BYTE *bytes, SIZE_T count)
{
    typedef LONG(NTAPI * WriteFn)(HANDLE, void *, const void *, SIZE_T, SIZE_T *);
    static WriteFn write =
        (WriteFn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtWriteVirtualMemory");
    SIZE_T put = 0;
    if (write)
        return write(process, at, bytes, count, &put) == 0 && put == count;
    return WriteProcessMemory(process, at, bytes, count, &put) && put == count;
}

// The image is mapped: the breakpoint goes on the entry routine if the
// routine lies where the intact program has it.
void ArmProbe(HANDLE process, BYTE *base, EntryProbe *probe)
{
    probe->base = base;
    if (!probe->length)
        return;
    probe->intact = CodeIntact(process, base, probe);
    probe->started = 0;
    BYTE found[sizeof probe->code];
    SIZE_T got = 0;
    BYTE *entry = base + probe->rva;
    static const BYTE breakpoint = 0xCC;
    probe->armed = ReadProcessMemory(process, entry, found, probe->length, &got) &&
                   got == (SIZE_T)probe->length && !memcmp(found, probe->code, probe->length) &&
                   WriteCode(process, entry, &breakpoint, 1);
}

// The entry routine was reached: its first byte goes back, and the thread
// resumes on it.
void Disarm(HANDLE process, DWORD threadId, EntryProbe *probe)
{
    BYTE *entry = probe->base + probe->rva;
    WriteCode(process, entry, probe->code, 1);
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
    CONTEXT context;
    memset(&context, 0, sizeof context);
    context.ContextFlags = CONTEXT_CONTROL;
    if (thread && GetThreadContext(thread, &context)) {
#ifdef _WIN64
        context.Rip = (DWORD64)entry;
#else
        context.Eip = (DWORD)(ULONG_PTR)entry;
#endif
        SetThreadContext(thread, &context);
    }
    if (thread)
        CloseHandle(thread);
    probe->armed = false;
    probe->started = 1;
}

// Hands one debug event on; false once the program has ended.
bool HandleDebugEvent(const DEBUG_EVENT &event, HANDLE process, EntryProbe *probe, char *crash,
                      size_t crashSize, DWORD *exitCode)
{
    DWORD reply = DBG_CONTINUE;
    // An image that CreateProcess refused may still leave its process's
    // exit behind, to come at the start of the next run.
    if (event.dwProcessId != ChildId) {
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile)
            CloseHandle(event.u.LoadDll.hFile);
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId,
                           event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT ? DBG_EXCEPTION_NOT_HANDLED
                                                                          : DBG_CONTINUE);
        return true;
    }
    switch (event.dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        ArmProbe(process, (BYTE *)event.u.CreateProcessInfo.lpBaseOfImage, probe);
        break;
    case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile)
            CloseHandle(event.u.LoadDll.hFile);
        break;
    case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD &record = event.u.Exception.ExceptionRecord;
        BYTE *at = (BYTE *)record.ExceptionAddress;
        if (record.ExceptionCode == EXCEPTION_BREAKPOINT && probe->armed &&
            at == probe->base + probe->rva) {
            probe->bound = ImportsBound(process, probe->base, probe);
            Disarm(process, event.dwThreadId, probe);
        } else if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !probe->attached) {
            // The system's own breakpoint for a debugger that has just come;
            // any later one is the program's.
            probe->attached = true;
        } else if (event.u.Exception.dwFirstChance) {
            reply = DBG_EXCEPTION_NOT_HANDLED;
        } else {
            // Nothing in the program handled it: the program ends with it.
            if (!crash[0])
                snprintf(crash, crashSize, "%08lX@%p", record.ExceptionCode, (void *)at);
            reply = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
    }
    case EXIT_PROCESS_DEBUG_EVENT:
        *exitCode = event.u.ExitProcess.dwExitCode;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
        return false;
    default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, reply);
    return true;
}

void RunOnce(char *request)
{
    char *fields[5] = {request, 0, 0, 0, 0};
    for (int i = 1; i < 5; ++i) {
        fields[i] = fields[i - 1] ? strchr(fields[i - 1], '\t') : 0;
        if (fields[i])
            *fields[i]++ = 0;
    }
    if (!fields[4]) {
        printf("error=bad request\n");
        return;
    }
    static char commandLine[8192];
    snprintf(commandLine, sizeof commandLine, "\"%s\"%s%s", fields[0], fields[1][0] ? " " : "",
             fields[1]);
    Password = fields[2];
    DWORD limit = strtoul(fields[3], 0, 10);
    EntryProbe probe;
    ParseProbe(fields[4], &probe);
    PasswordPrompts = LanguagePrompts = AnsweredCount = 0;
    Boxes[0] = 0;
    FirstDialog = 0;
    Start = GetTickCount();

    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA(fields[0], commandLine, 0, 0, FALSE, DEBUG_ONLY_THIS_PROCESS, 0, 0, &si,
                        &pi)) {
        printf("error=CreateProcess %lu\n", GetLastError());
        return;
    }
    CloseHandle(pi.hThread);
    ChildId = pi.dwProcessId;
    int hang = 0;
    char crash[64] = "";
    DWORD code = 0;
    // Only the dialog windows are looked at, found by the server itself:
    // a walk over every window of the session, 50 times a second, would
    // keep the server busy for nothing.
    // A program that raises one exception after another keeps the events
    // coming; the time limit is checked after each of them as well.
    for (;;) {
        DEBUG_EVENT event;
        if (WaitForDebugEvent(&event, 20)) {
            if (!HandleDebugEvent(event, pi.hProcess, &probe, crash, sizeof crash, &code))
                break;
        } else {
            for (HWND w = 0; (w = FindWindowExA(0, w, "#32770", 0)) != 0;)
                AnswerDialog(w);
        }
        if (!hang && GetTickCount() - Start > limit) {
            hang = 1;
            TerminateProcess(pi.hProcess, 259);
        } else if (hang && GetTickCount() - Start > limit + 5000) {
            // A process that never finished starting (a stack it could not
            // reserve, say) may not end while it waits on its debugger.
            DebugActiveProcessStop(pi.dwProcessId);
            TerminateProcess(pi.hProcess, 259);
            code = 259;
            break;
        }
    }
    WaitForSingleObject(pi.hProcess, 10000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    printf("exit=%lu\thang=%d\tpassword=%d\tlanguage=%d\tms=%lu\tdialog=%lu\tstarted=%d\tcode=%d\t"
           "bound=%d\tcrash=%s\tboxes=%s\n",
           code, hang, PasswordPrompts, LanguagePrompts, GetTickCount() - Start, FirstDialog,
           probe.started, probe.intact, probe.bound, crash, Boxes);
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
