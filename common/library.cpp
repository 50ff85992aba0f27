#include "common/routines.h"
#include "common/text.h"

int SystemFilePath(const char *name, char *out, int windowsFolder)
{
    UINT length = windowsFolder ? GetWindowsDirectoryA(out, MAX_PATH)
                                : GetSystemDirectoryA(out, MAX_PATH);
    // The root folder of a drive ends in a backslash already.
    if (length && length < MAX_PATH && out[length - 1] != '\\')
        out[length++] = '\\';
    if (length == 0 || length + TextLength(name) >= MAX_PATH) {
        out[0] = 0;
        return 0;
    }
    CopyText(out + length, MAX_PATH - length, name);
    return 1;
}

HMODULE LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH];
    return SystemFilePath(name, path, 0) ? LoadLibraryA(path) : 0;
}

void LoadSystemLibraries(const char *names)
{
    for (; *names; names += TextLength(names) + 1)
        LoadSystemLibrary(names);
}

int BindSystemEntries(const char *library, const char *names, void *binding, unsigned size,
                      unsigned required)
{
    HMODULE module = LoadSystemLibrary(library);
    if (!module)
        return 0;
    FARPROC entries[16];
    unsigned capacity = size / sizeof(FARPROC);
    unsigned count = 0;
    for (const char *name = names; *name && count < capacity && count < 16; ++count) {
        entries[count] = GetProcAddress(module, name);
        if (!entries[count] && count < required)
            return 0;
        while (*name++)
            ;
    }
    CopyMemory(binding, entries, count * sizeof(FARPROC));
    return 1;
}

void RestrictLibrarySearch(void)
{
    // Newer systems can keep the program's folder and the current folder
    // out of every later library search, including those made on our
    // behalf by system DLLs. Older ones lack both calls.
    // The name without its extension: GetModuleHandle adds ".DLL".
    HMODULE kernel = GetModuleHandleA("KERNEL32");
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
    SetDefaultDllDirectoriesFn setDefault =
        (SetDefaultDllDirectoriesFn)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault)
        setDefault(0x00000800); // LOAD_LIBRARY_SEARCH_SYSTEM32
    SetDllDirectoryFn setDirectory = (SetDllDirectoryFn)GetProcAddress(kernel, "SetDllDirectoryA");
    if (setDirectory)
        setDirectory("");
    // Where neither call exists (XP, Vista, 7 without its update), system
    // DLLs that load a library by name, or resolve a delayed import, find
    // it in the program's folder first: USER32 loads UXTHEME for the first
    // window or message box, the shell OLE32 (and RPCRT4 beneath it) to
    // start a program, as the service manager does RPCRT4. Loaded now by
    // full path, before any window, each is found already loaded.
    LoadSystemLibraries("UXTHEME.DLL\0RPCRT4.DLL\0OLE32.DLL\0");
}
