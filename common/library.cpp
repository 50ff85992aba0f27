#include "common/routines.h"
#include "common/text.h"

HMODULE LoadSystemLibrary(const char *name)
{
    // By full path: a bare name would also be looked for in the program's
    // folder, where a planted DLL of that name would be loaded instead.
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return 0;
    AppendText(path, sizeof path, "\\");
    AppendText(path, sizeof path, name);
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
