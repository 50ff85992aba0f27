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

void RestrictLibrarySearch(void)
{
    // Newer systems can keep the program's folder and the current folder
    // out of every later library search, including those made on our
    // behalf by system DLLs. Older ones lack both calls.
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
    SetDefaultDllDirectoriesFn setDefault =
        (SetDefaultDllDirectoriesFn)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault)
        setDefault(0x00000800); // LOAD_LIBRARY_SEARCH_SYSTEM32
    SetDllDirectoryFn setDirectory = (SetDllDirectoryFn)GetProcAddress(kernel, "SetDllDirectoryA");
    if (setDirectory)
        setDirectory("");
}
