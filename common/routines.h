// Shared Win32 routines of the stub: paths, temporary files, system
// libraries, the message pump and running a program. None of them reports
// an error; callers find out by what they do next.
#pragma once
#include <windows.h>

// First occurrence of the single-byte character c in text, stepping with
// CharNextA so a trail byte of a double-byte character never matches (byte
// by byte through the UTF-8 of WideCalls).
// Null when absent.
char *FindChar(char *text, int c);

// Creates every directory along path, outermost first; the last component
// is a file name and is not created. Failures are ignored. The path is
// modified while the routine runs and is byte for byte the same on return.
void CreatePathDirectories(char *path);

// Creates a new, empty file named KXC*.TMP in the temporary directory and
// leaves its name in out, which holds at least MAX_PATH bytes; the empty
// text when none can be created.
void MakeTempFileName(char *out);

// The path of name in the system directory, or with windowsFolder in the
// Windows directory, into out (MAX_PATH bytes). Returns 0, leaving the
// empty text, when the folder is unknown or the path does not fit: a cut
// path would name some other file.
int SystemFilePath(const char *name, char *out, int windowsFolder);

// Loads the library name (such as "COMCTL32.DLL") from the system
// directory by its full path, never through the search path. Null when it
// cannot be loaded.
HMODULE LoadSystemLibrary(const char *name);

// LoadSystemLibrary for each of names (each NUL-terminated, an empty name
// ends the list); a library that is missing is passed over.
void LoadSystemLibraries(const char *names);

// Loads the system library `library` by full path and looks up the entry
// points named in names (each NUL-terminated, an empty name ends the list)
// into binding, a record of size bytes that holds one function pointer per
// name, in order. Only when the first `required` of them are all found is
// binding written; the others may be null. Returns 1 then, else 0. Up to
// 16 names.
int BindSystemEntries(const char *library, const char *names, void *binding, unsigned size,
                      unsigned required);

// Keeps the program's folder and the current folder out of later library
// searches where the system offers that, and loads by full path the
// libraries that system DLLs load by name for a window, a message box or
// the shell, which older systems would look for there first.
void RestrictLibrarySearch(void);

// "SOFTWARE\Microsoft\Windows\CurrentVersion", the key of several settings
// the program reads and writes; spelt once, as every copy of the text
// costs the program file its length.
extern const char CurrentVersionKey[];
enum { CurrentVersionSubKeySize = 64 };

// CurrentVersionKey, a backslash and subKey (such as "Run") in out,
// cut to capacity.
void CurrentVersionSubKey(char *out, unsigned capacity, const char *subKey);

// Reads the text value valueName of an open key into out (capacity bytes,
// always terminated), as a text of the program's own (common/system.h);
// the empty text when it cannot be read, is no text (REG_SZ or
// REG_EXPAND_SZ), or is too long.
void ReadKeyText(HKEY key, const char *valueName, char *out, unsigned capacity);

// ReadKeyText on a key under HKEY_LOCAL_MACHINE.
void ReadMachineText(const char *keyPath, const char *valueName, char *out, unsigned capacity);

// Dispatches every message waiting in the thread's queue; does nothing once
// a restart of Windows has been requested.
void PumpMessages(void);

// How RunAndWait starts a program; the options add up.
enum RunOptions {
    RunInProgramFolder = 1, // in the folder of this program's own file (ExeDirectory)
    RunElevated = 2         // with the "runas" verb: Windows asks for an administrator
};

// Starts program with parameters and waits for it, pumping messages every
// 500 ms, and leaves its exit code in *exitCode. Returns 0, with no box of
// the shell's and *exitCode 0, when the program could not be started, so
// that a failed start never passes for a run that ended with 0. A start
// whose elevation the user declined counts as a run that ended with
// ERROR_CANCELLED, as an installer does whose own elevation was declined.
// The child starts in the current folder unless options hold
// RunInProgramFolder.
int RunAndWait(const char *program, const char *parameters, int options, DWORD *exitCode);
