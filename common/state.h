// Process-wide state that the entry routine prepares for every phase: the
// program's own file and paths, and the buffer every file reader shares.
#pragma once
#include <windows.h>

// A path as the program holds it takes up to three bytes a character
// (common/system.h).
enum { IoBufferSize = 65536, ModulePathSize = 3 * MAX_PATH };

// Zero until the entry routine sets them: an initialised data section of
// their own would cost the program file 512 bytes.
extern const char *UserArguments;      // arguments after the program name

extern HMODULE ModuleHandle;
extern char ModulePath[ModulePathSize];   // full path of the program's own file
extern char ExeDirectory[ModulePathSize]; // ModulePath up to and with its last backslash
extern char SettingsPath[ModulePathSize]; // the settings file beside the program
extern HFILE OwnFile;                  // read handle on the program's own file; 0 before
extern unsigned char *IoBuffer;        // 64 KiB shared by every file reader
