// The state that the stub's entry point owns, for test programs that link
// the stub's code without it.
#include "driver/startup.h"

const char *UserArguments = "";
HMODULE ModuleHandle;
char ModulePath[ModulePathSize];
char ExeDirectory[ModulePathSize];
char SettingsPath[ModulePathSize];
HFILE OwnFile = HFILE_ERROR;
unsigned char *IoBuffer;
