#include "common/routines.h"
#include "common/text.h"

HMODULE LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    // A cut path could name some other file: load nothing then.
    if (length == 0 || length + 1 + TextLength(name) >= MAX_PATH)
        return 0;
    AppendText(path, MAX_PATH, "\\");
    AppendText(path, MAX_PATH, name);
    return LoadLibraryA(path);
}
