#include "common/system.h"
#include "common/flags.h"
#include "common/routines.h"
#include "common/settings.h"
#include "common/text.h"
#include <commctrl.h>
#include <shellapi.h>

int WideCalls;

namespace {

// The calls of one family, the wide or the ANSI, looked up at run time: the
// 9x family has some of the wide ones as stubs only, and a static import
// that a system lacks would keep the program from starting at all. A text
// is passed as Text gives it, a text the call writes goes to Into(out).
struct SystemCalls {
    HANDLE(WINAPI *CreateFile)(const void *, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                               HANDLE);
    BOOL(WINAPI *Delete)(const void *);
    BOOL(WINAPI *MakeFolder)(const void *, LPSECURITY_ATTRIBUTES);
    BOOL(WINAPI *SetFolder)(const void *);
    DWORD(WINAPI *ModuleName)(HMODULE, void *, DWORD);
    const void *(WINAPI *CommandLine)(void);
    DWORD(WINAPI *TempFolder)(DWORD, void *);
    UINT(WINAPI *TempName)(const void *, const void *, UINT, void *);
    DWORD(WINAPI *ShortName)(const void *, void *, DWORD);
    DWORD(WINAPI *Expand)(const void *, void *, DWORD);
    DWORD(WINAPI *ProfileText)(const void *, const void *, const void *, void *, DWORD,
                               const void *);
    UINT(WINAPI *ProfileNumber)(const void *, const void *, INT, const void *);
    LONG(WINAPI *QueryValue)(HKEY, const void *, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    LONG(WINAPI *SetValue)(HKEY, const void *, DWORD, DWORD, const BYTE *, DWORD);
    BOOL(WINAPI *Execute)(SHELLEXECUTEINFOA *);
    LRESULT(WINAPI *Send)(HWND, UINT, WPARAM, LPARAM);
} Calls;

// Each library, then the names of its calls in the order of SystemCalls,
// without the letter of the family, which BindFamily adds. An empty name
// ends a library's list, an empty library the table.
const char CallNames[] =
    "KERNEL32.DLL\0CreateFile\0DeleteFile\0CreateDirectory\0SetCurrentDirectory\0"
    "GetModuleFileName\0GetCommandLine\0GetTempPath\0GetTempFileName\0GetShortPathName\0"
    "ExpandEnvironmentStrings\0GetPrivateProfileString\0GetPrivateProfileInt\0\0"
    "ADVAPI32.DLL\0RegQueryValueEx\0RegSetValueEx\0\0"
    "SHELL32.DLL\0ShellExecuteEx\0\0"
    "USER32.DLL\0SendMessage\0\0";

// Fills Calls with the calls of the family whose names end in letter ('A'
// or 'W'); 0 when one of them is missing, leaving Calls part bound.
int BindFamily(char letter)
{
    FARPROC *entry = reinterpret_cast<FARPROC *>(&Calls);
    for (const char *name = CallNames; *name; ++name) {
        HMODULE library = LoadSystemLibrary(name);
        name += TextLength(name) + 1;
        for (; *name; ++entry) {
            char full[32];
            unsigned length = CopyText(full, sizeof full - 1, name);
            full[length] = letter;
            full[length + 1] = 0;
            name += length + 1;
            if (!library || !(*entry = GetProcAddress(library, full)))
                return 0;
        }
    }
    return 1;
}

// The bound calls. A module that loads this program and calls its exports
// never runs DetectPlatform: the ANSI calls serve it.
const SystemCalls &System(void)
{
    if (!Calls.CreateFile)
        BindFamily('A');
    return Calls;
}

// A wide text in and one out per call: the texts of a call go into buffers
// of their own, the result into Result. A text too long for its buffer
// becomes the empty text, which names no file. The system converts: it
// has done UTF-8 since NT 4.
enum { WideTextSize = 2048, CommandLineSize = 3 * 32768 };
WCHAR Buffers[4][WideTextSize];
WCHAR Result[WideTextSize];
char CommandLine[CommandLineSize];

// text as the bound calls take it: itself for the ANSI calls, its UTF-16
// in buffer slot for the wide ones. Null stays null.
const void *Text(const char *text, int slot)
{
    if (!WideCalls || !text)
        return text;
    if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, Buffers[slot], WideTextSize))
        Buffers[slot][0] = 0;
    return Buffers[slot];
}

// Where a call writes a text that ends up in out, and the room it has there.
void *Into(char *out)
{
    return WideCalls ? static_cast<void *>(Result) : out;
}

DWORD Room(unsigned capacity)
{
    return WideCalls ? DWORD(WideTextSize) : capacity;
}

// Result, holding a text of length units (0 for a failure, WideTextSize - 1
// or more for one that may not have fitted), into out in the code page
// given; its length, or 0 (and the empty text) when it does not fit.
unsigned Narrow(DWORD length, char *out, unsigned capacity, UINT codePage = CP_UTF8)
{
    if (!length || length >= WideTextSize - 1)
        Result[0] = 0;
    int stored = WideCharToMultiByte(codePage, 0, Result, -1, out, int(capacity), 0, 0);
    if (!stored)
        out[0] = 0;
    return stored ? unsigned(stored - 1) : 0;
}

// The text of length units that a call wrote to Into(out) (a failure: 0; a
// text that did not fit: its room or more), into out; its length, or 0
// and the empty text.
unsigned Answer(DWORD length, char *out, unsigned capacity)
{
    if (WideCalls)
        return Narrow(length, out, capacity);
    if (length >= capacity)
        length = 0;
    out[length] = 0;
    return length;
}

HFILE OpenFileAs(const char *path, DWORD access, DWORD share, DWORD creation)
{
    return HFILE(INT_PTR(
        System().CreateFile(Text(path, 0), access, share, 0, creation, FILE_ATTRIBUTE_NORMAL, 0)));
}

} // namespace

void DetectPlatform(void)
{
    // The high bit of the version is set on the 9x family alone.
    PlatformNT = int(GetVersion()) >= 0;
    WideCalls = PlatformNT && BindFamily('W');
    if (!WideCalls)
        BindFamily('A');
}

void SystemTextFromAnsi(char *text, unsigned capacity)
{
    if (WideCalls)
        Narrow(DWORD(MultiByteToWideChar(CP_ACP, 0, text, -1, Result, WideTextSize) - 1), text,
               capacity);
}

const char *SystemCommandLine(void)
{
    const void *line = System().CommandLine();
    if (!WideCalls)
        return static_cast<const char *>(line);
    return WideCharToMultiByte(CP_UTF8, 0, static_cast<const WCHAR *>(line), -1, CommandLine,
                               CommandLineSize, 0, 0)
               ? CommandLine
               : 0;
}

unsigned SystemModulePath(HMODULE module, char *out, unsigned capacity)
{
    // Older systems leave the buffer unterminated when the path is cut:
    // they answer its room then.
    return Answer(System().ModuleName(module, Into(out), Room(capacity)), out, capacity);
}

// _lopen and _lcreat are these same calls on the ANSI texts.
HFILE OpenSystemFile(const char *path, int mode)
{
    return OpenFileAs(path, mode & OF_READWRITE ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                      mode & OF_SHARE_DENY_WRITE ? FILE_SHARE_READ
                                                 : FILE_SHARE_READ | FILE_SHARE_WRITE,
                      OPEN_EXISTING);
}

HFILE CreateSystemFile(const char *path)
{
    return OpenFileAs(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      CREATE_ALWAYS);
}

BOOL DeleteSystemFile(const char *path)
{
    return System().Delete(Text(path, 0));
}

BOOL CreateSystemDirectory(const char *path)
{
    return System().MakeFolder(Text(path, 0), 0);
}

BOOL SetSystemCurrentFolder(const char *path)
{
    return System().SetFolder(Text(path, 0));
}

unsigned SystemTempFolder(char *out, unsigned capacity)
{
    return Answer(System().TempFolder(Room(capacity), Into(out)), out, capacity);
}

void MakeTempFileName(char *out)
{
    char folder[SystemPathSize];
    SystemTempFolder(folder, sizeof folder);
    // A failure would leave the caller's previous name, a file in use.
    UINT made = System().TempName(Text(folder, 1), Text("KXC", 2), 0, Into(out));
    if (WideCalls)
        Narrow(made != 0, out, SystemPathSize);
    else if (!made)
        out[0] = 0;
}

unsigned SystemShortPath(const char *path, char *out, unsigned capacity)
{
    return Answer(System().ShortName(Text(path, 0), Into(out), Room(capacity)), out, capacity);
}

unsigned ExpandSystemText(const char *text, char *out, unsigned capacity)
{
    // The length it answers counts the terminating NUL.
    return Answer(System().Expand(Text(text, 0), Into(out), Room(capacity)) - 1, out, capacity);
}

void ReadProfileText(const char *section, const char *key, const char *fallback, char *out,
                     unsigned capacity, const char *file, int asPath)
{
    DWORD length = System().ProfileText(Text(section, 0), Text(key, 1), Text(fallback, 2),
                                        Into(out), Room(capacity), Text(file, 3));
    if (WideCalls)
        Narrow(length, out, capacity, asPath ? CP_UTF8 : CP_ACP);
}

int ReadProfileNumber(const char *section, const char *key, int fallback, const char *file)
{
    return int(System().ProfileNumber(Text(section, 0), Text(key, 1), fallback,
                                      Text(file, 2)));
}

void ReadKeyText(HKEY key, const char *valueName, char *out, unsigned capacity)
{
    // Sizes in bytes: a unit is two of them for the wide calls.
    unsigned unit = WideCalls + 1;
    DWORD room = WideCalls ? sizeof Result : capacity;
    BYTE *into = static_cast<BYTE *>(Into(out));
    DWORD type, length = room;
    // A stored text need not end in NUL: one that fills the room without
    // its own is cut, and a cut text, or a number's bytes, would name some
    // other file or host.
    if (System().QueryValue(key, Text(valueName, 0), 0, &type, into, &length) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) ||
        (length == room && (into[room - 1] | into[room - unit])))
        length = 0;
    length = length < room ? length / unit * unit : room - unit;
    into[length] = into[length + unit - 1] = 0;
    if (WideCalls)
        Narrow(1, out, capacity);
}

BOOL WriteKeyText(HKEY key, const char *valueName, const char *text)
{
    const void *value = Text(text, 1);
    // The size counts the terminating NUL, in the call's own units; a text
    // that cannot be converted is not written.
    DWORD size = TextLength(text) + 1;
    if (WideCalls) {
        size = 2 * DWORD(MultiByteToWideChar(CP_UTF8, 0, text, -1, 0, 0));
        if (!size || size > sizeof Buffers[1])
            return FALSE;
    }
    return System().SetValue(key, Text(valueName, 0), 0, REG_SZ,
                             static_cast<const BYTE *>(value), size) == ERROR_SUCCESS;
}

BOOL ShellExecuteSystem(SHELLEXECUTEINFOA *info)
{
    // The wide record differs from the ANSI one only in the type of its texts.
    info->lpVerb = static_cast<LPCSTR>(Text(info->lpVerb, 0));
    info->lpFile = static_cast<LPCSTR>(Text(info->lpFile, 1));
    info->lpParameters = static_cast<LPCSTR>(Text(info->lpParameters, 2));
    info->lpDirectory = static_cast<LPCSTR>(Text(info->lpDirectory, 3));
    return System().Execute(info);
}

void OpenAnimationFile(HWND control, const char *path)
{
    System().Send(control, WideCalls ? ACM_OPENW : ACM_OPENA, 0, LPARAM(Text(path, 0)));
}
