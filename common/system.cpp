#include "common/system.h"
#include "common/flags.h"
#include "common/routines.h"
#include "common/settings.h"
#include "common/text.h"
#include <commctrl.h>
#include <shellapi.h>

int WideCalls;

namespace {

// The wide calls, looked up at run time: the 9x family has some of them as
// stubs only, and a static import that a system lacks would keep the
// program from starting at all.
struct KernelCalls {
    HANDLE(WINAPI *Create)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI *Delete)(LPCWSTR);
    BOOL(WINAPI *MakeFolder)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    BOOL(WINAPI *SetFolder)(LPCWSTR);
    DWORD(WINAPI *ModuleName)(HMODULE, LPWSTR, DWORD);
    LPWSTR(WINAPI *CommandLine)(void);
    DWORD(WINAPI *TempFolder)(DWORD, LPWSTR);
    UINT(WINAPI *TempName)(LPCWSTR, LPCWSTR, UINT, LPWSTR);
    DWORD(WINAPI *ShortName)(LPCWSTR, LPWSTR, DWORD);
    DWORD(WINAPI *Expand)(LPCWSTR, LPWSTR, DWORD);
    DWORD(WINAPI *ProfileText)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
    UINT(WINAPI *ProfileNumber)(LPCWSTR, LPCWSTR, INT, LPCWSTR);
} Kernel;

struct RegistryCalls {
    LONG(WINAPI *Query)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    LONG(WINAPI *Set)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE *, DWORD);
} Registry;

BOOL(WINAPI *ExecuteWide)(SHELLEXECUTEINFOW *);
LRESULT(WINAPI *SendWide)(HWND, UINT, WPARAM, LPARAM);

// A wide text in and one out per call: the texts of a call go into buffers
// of their own, the result into Result. A text too long for its buffer
// becomes the empty text, which names no file. The system converts: it
// has done UTF-8 since NT 4.
enum { WideTextSize = 2048, CommandLineSize = 3 * 32768 };
WCHAR Buffers[4][WideTextSize];
WCHAR Result[WideTextSize];
char CommandLine[CommandLineSize];

const WCHAR *Wide(const char *text, int slot)
{
    if (!text)
        return 0;
    if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, Buffers[slot], WideTextSize))
        Buffers[slot][0] = 0;
    return Buffers[slot];
}

// Result, filled by a call that answered with its length (0 for a
// failure, WideTextSize or more for a text that did not fit), into out
// in the code page given; its length, or 0 (and the empty text) when it
// does not fit.
unsigned Narrow(DWORD length, char *out, unsigned capacity, UINT codePage = CP_UTF8)
{
    if (!length || length >= WideTextSize)
        Result[0] = 0;
    int stored = WideCharToMultiByte(codePage, 0, Result, -1, out, int(capacity), 0, 0);
    if (!stored)
        out[0] = 0;
    return stored ? unsigned(stored - 1) : 0;
}

HFILE OpenWideFile(const char *path, DWORD access, DWORD share, DWORD creation)
{
    return HFILE(INT_PTR(Kernel.Create(Wide(path, 0), access, share, 0, creation,
                                           FILE_ATTRIBUTE_NORMAL, 0)));
}

} // namespace

void DetectPlatform(void)
{
    // The high bit of the version is set on the 9x family alone.
    PlatformNT = int(GetVersion()) >= 0;
    WideCalls =
        PlatformNT &&
        BindSystemEntries("KERNEL32.DLL",
                          "CreateFileW\0DeleteFileW\0CreateDirectoryW\0SetCurrentDirectoryW\0"
                          "GetModuleFileNameW\0GetCommandLineW\0GetTempPathW\0GetTempFileNameW\0"
                          "GetShortPathNameW\0ExpandEnvironmentStringsW\0"
                          "GetPrivateProfileStringW\0GetPrivateProfileIntW\0",
                          &Kernel, sizeof Kernel, 12) &&
        BindSystemEntries("ADVAPI32.DLL", "RegQueryValueExW\0RegSetValueExW\0", &Registry,
                          sizeof Registry, 2) &&
        BindSystemEntries("SHELL32.DLL", "ShellExecuteExW\0", &ExecuteWide,
                          sizeof ExecuteWide, 1) &&
        BindSystemEntries("USER32.DLL", "SendMessageW\0", &SendWide, sizeof SendWide, 1);
}

void SystemTextFromAnsi(char *text, unsigned capacity)
{
    if (WideCalls)
        Narrow(MultiByteToWideChar(CP_ACP, 0, text, -1, Result, WideTextSize), text, capacity);
}

const char *SystemCommandLine(void)
{
    if (!WideCalls)
        return GetCommandLineA();
    const WCHAR *line = Kernel.CommandLine();
    return WideCharToMultiByte(CP_UTF8, 0, line, -1, CommandLine, CommandLineSize, 0, 0)
               ? CommandLine
               : 0;
}

unsigned SystemModulePath(HMODULE module, char *out, unsigned capacity)
{
    if (WideCalls)
        return Narrow(Kernel.ModuleName(module, Result, WideTextSize), out, capacity);
    // Older systems leave the buffer unterminated when the path is cut.
    DWORD length = GetModuleFileNameA(module, out, capacity);
    if (length >= capacity - 1)
        length = 0;
    out[length] = 0;
    return length;
}

HFILE OpenSystemFile(const char *path, int mode)
{
    if (!WideCalls)
        return _lopen(path, mode);
    return OpenWideFile(path, mode & OF_READWRITE ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                    mode & OF_SHARE_DENY_WRITE ? FILE_SHARE_READ
                                               : FILE_SHARE_READ | FILE_SHARE_WRITE,
                    OPEN_EXISTING);
}

HFILE CreateSystemFile(const char *path)
{
    if (!WideCalls)
        return _lcreat(path, 0);
    return OpenWideFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    CREATE_ALWAYS);
}

BOOL DeleteSystemFile(const char *path)
{
    return WideCalls ? Kernel.Delete(Wide(path, 0)) : DeleteFileA(path);
}

BOOL CreateSystemDirectory(const char *path)
{
    return WideCalls ? Kernel.MakeFolder(Wide(path, 0), 0) : CreateDirectoryA(path, 0);
}

BOOL SetSystemCurrentFolder(const char *path)
{
    return WideCalls ? Kernel.SetFolder(Wide(path, 0)) : SetCurrentDirectoryA(path);
}

unsigned SystemTempFolder(char *out, unsigned capacity)
{
    if (WideCalls)
        return Narrow(Kernel.TempFolder(WideTextSize, Result), out, capacity);
    DWORD length = GetTempPathA(capacity, out);
    if (length >= capacity)
        length = 0;
    out[length] = 0;
    return length;
}

void MakeTempFileName(char *out)
{
    char folder[SystemPathSize];
    SystemTempFolder(folder, sizeof folder);
    // A failure would leave the caller's previous name, a file in use.
    if (WideCalls)
        Narrow(Kernel.TempName(Wide(folder, 1), L"KXC", 0, Result) ? 1 : 0, out,
               SystemPathSize);
    else if (!GetTempFileNameA(folder, "KXC", 0, out))
        out[0] = 0;
}

unsigned SystemShortPath(const char *path, char *out, unsigned capacity)
{
    if (WideCalls)
        return Narrow(Kernel.ShortName(Wide(path, 0), Result, WideTextSize), out,
                      capacity);
    DWORD length = GetShortPathNameA(path, out, capacity);
    if (length >= capacity)
        length = 0;
    out[length] = 0;
    return length;
}

unsigned ExpandSystemText(const char *text, char *out, unsigned capacity)
{
    // The length it answers counts the terminating NUL.
    if (WideCalls)
        return Narrow(Kernel.Expand(Wide(text, 0), Result, WideTextSize), out,
                      capacity);
    DWORD length = ExpandEnvironmentStringsA(text, out, capacity);
    if (!length || length > capacity)
        length = 1;
    out[length - 1] = 0;
    return length - 1;
}

void ReadProfileText(const char *key, const char *fallback, char *out, unsigned capacity,
                     const char *file, int asPath)
{
    if (!WideCalls) {
        GetPrivateProfileStringA(SettingsSection, key, fallback, out, capacity, file);
        return;
    }
    DWORD length = Kernel.ProfileText(Wide(SettingsSection, 0), Wide(key, 1),
                                                  Wide(fallback, 2), Result, WideTextSize,
                                                  Wide(file, 3));
    Narrow(length + 1, out, capacity, asPath ? CP_UTF8 : CP_ACP);
}

int ReadProfileNumber(const char *key, int fallback, const char *file)
{
    if (!WideCalls)
        return int(GetPrivateProfileIntA(SettingsSection, key, fallback, file));
    return int(Kernel.ProfileNumber(Wide(SettingsSection, 0), Wide(key, 1), fallback,
                                           Wide(file, 2)));
}

void ReadKeyText(HKEY key, const char *valueName, char *out, unsigned capacity)
{
    DWORD type, length = WideCalls ? sizeof Result : capacity;
    // A stored text need not end in NUL: one that fills out without its
    // own is cut, and a cut text, or a number's bytes, would name some
    // other file or host.
    if (WideCalls) {
        if (Registry.Query(key, Wide(valueName, 0), 0, &type, (BYTE *)Result, &length) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ) ||
            (length == sizeof Result && Result[WideTextSize - 1]))
            length = 0;
        Result[length / 2 < WideTextSize ? length / 2 : WideTextSize - 1] = 0;
        Narrow(1, out, capacity);
        return;
    }
    if (RegQueryValueExA(key, valueName, 0, &type, (BYTE *)out, &length) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || (length == capacity && out[capacity - 1]))
        length = 0;
    out[length < capacity ? length : capacity - 1] = 0;
}

BOOL WriteKeyText(HKEY key, const char *valueName, const char *text)
{
    if (!WideCalls)
        return RegSetValueExA(key, valueName, 0, REG_SZ, (const BYTE *)text,
                              TextLength(text) + 1) == ERROR_SUCCESS;
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, Buffers[1], WideTextSize);
    return units && Registry.Set(key, Wide(valueName, 0), 0, REG_SZ, (const BYTE *)Buffers[1],
                                 DWORD(2 * units)) == ERROR_SUCCESS;
}

BOOL ShellExecuteSystem(SHELLEXECUTEINFOA *info)
{
    if (!WideCalls)
        return ShellExecuteExA(info);
    SHELLEXECUTEINFOW wide;
    ZeroMemory(&wide, sizeof wide);
    wide.cbSize = sizeof wide;
    wide.fMask = info->fMask;
    wide.lpVerb = Wide(info->lpVerb, 0);
    wide.lpFile = Wide(info->lpFile, 1);
    wide.lpParameters = Wide(info->lpParameters, 2);
    wide.lpDirectory = Wide(info->lpDirectory, 3);
    wide.nShow = info->nShow;
    BOOL started = ExecuteWide(&wide);
    info->hProcess = wide.hProcess;
    return started;
}

void OpenAnimationFile(HWND control, const char *path)
{
    if (WideCalls)
        SendWide(control, ACM_OPENW, 0, LPARAM(Wide(path, 0)));
    else
        SendMessageA(control, ACM_OPENA, 0, LPARAM(path));
}
