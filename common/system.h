// The system's calls that take or give a path or a command line.
//
// On Windows NT the stub holds every such text as UTF-8 and these calls
// speak UTF-16 to the system, so that a folder or an argument that the
// ANSI code page cannot spell reaches the system as it is. On the 9x family
// the texts are the ANSI texts of old and go to the ANSI calls unchanged.
// Which of the two holds is decided once, by DetectPlatform; until then (as
// in a program that loads the stub as a library and calls its exports) the
// texts are ANSI. Texts stored in the payload or the settings file are ANSI
// on every system: SystemTextFromAnsi turns one that becomes a path or an
// argument into a text of the program's own. The calls of both families
// are looked up by name, the ANSI ones too, so that each routine below is
// one call through the family bound.
#pragma once
#include <windows.h>
#include <shellapi.h>

// The longest path the stub holds: MAX_PATH UTF-16 units take up to three
// bytes each as UTF-8.
enum { SystemPathSize = 3 * MAX_PATH };

// Sets PlatformNT, and WideCalls where the wide calls are there to bind.
void DetectPlatform(void);

// 1 when the program's texts are UTF-8 and go to the wide calls.
extern int WideCalls;

// The ANSI text in text (capacity bytes) as a text of the program's own,
// in place; the empty text when that does not fit.
void SystemTextFromAnsi(char *text, unsigned capacity);

// The program's command line. Null when it is too long to hold.
const char *SystemCommandLine(void);

// module's file path into out; its length, or 0 (and the empty text) when
// it cannot be read or does not fit.
unsigned SystemModulePath(HMODULE module, char *out, unsigned capacity);

// As _lopen with OF_READ, OF_READWRITE and OF_SHARE_DENY_WRITE, and as
// _lcreat with no attributes (a new or emptied file, opened to read and
// write); the handles serve _lread, _lwrite, _llseek and _lclose.
HFILE OpenSystemFile(const char *path, int mode);
HFILE CreateSystemFile(const char *path);

BOOL DeleteSystemFile(const char *path);
BOOL CreateSystemDirectory(const char *path);
BOOL SetSystemCurrentFolder(const char *path);

// The temporary folder, with its last backslash, into out; its length, or
// 0 when it is unknown or does not fit.
unsigned SystemTempFolder(char *out, unsigned capacity);

// A new, empty file named KXC*.TMP in folder; its name into out
// (SystemPathSize bytes), or the empty text when none can be made.
void SystemTempFile(const char *folder, char *out);

// The short (8.3) form of path into out; its length, or 0 when there is
// none or it does not fit.
unsigned SystemShortPath(const char *path, char *out, unsigned capacity);

// text with its environment variables expanded into out; 0 when the
// result does not fit.
unsigned ExpandSystemText(const char *text, char *out, unsigned capacity);

// A value of a section of the profile `file` (the settings file, say): as
// GetPrivateProfileString, with the result an ANSI text like every text of
// the settings, or with asPath a text of the program's own (a file name, a
// path, switches for a program, a host).
void ReadProfileText(const char *section, const char *key, const char *fallback, char *out,
                     unsigned capacity, const char *file, int asPath);
int ReadProfileNumber(const char *section, const char *key, int fallback, const char *file);

// Writes text, a text of the program's own, as the REG_SZ value name of key.
BOOL WriteKeyText(HKEY key, const char *valueName, const char *text);

// ShellExecuteEx with the texts of info taken as the program's own: its
// verb, file, parameters and directory, which are replaced by the texts the
// call takes. Fills info->hProcess.
BOOL ShellExecuteSystem(SHELLEXECUTEINFOA *info);

// Asks the animation control to open the clip file at path.
void OpenAnimationFile(HWND control, const char *path);
