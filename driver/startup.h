// Process-wide state that the entry routine prepares for every phase.
#pragma once
#include <windows.h>

enum { IoBufferSize = 65536, ModulePathSize = 256 };

extern const char *UserArguments;      // arguments after the program name; never null
extern HMODULE ModuleHandle;
extern char ModulePath[ModulePathSize];   // full path of the program's own file
extern char ExeDirectory[ModulePathSize]; // ModulePath up to and with its last backslash
extern char SettingsPath[ModulePathSize]; // the settings file beside the program
extern HFILE OwnFile;                  // read handle on the program's own file
extern unsigned char *IoBuffer;        // 64 KiB shared by every file reader

// Fills InstallerSettings from the settings file at SettingsPath. Ends the
// process with code 0, silently, when the product code or version is missing.
void ReadSettingsFile(void);
