#include "common/state.h"

const char *UserArguments;
HMODULE ModuleHandle;
char ModulePath[ModulePathSize];
char ExeDirectory[ModulePathSize];
char SettingsPath[ModulePathSize];
HFILE OwnFile;
unsigned char *IoBuffer;
