// The stub's version query against the real system. Reads the file
// version of the system's MSI.DLL with QueryFileVersion, and notes which
// VERSION.DLL was loaded before and after it; then, as a control, loads
// VERSION.DLL by name, as a program that searched for it would, and
// queries again while that module stays loaded. Prints one key=value line
// for each step; a missing module is "-".
#include "common/routines.h"
#include "common/state.h"
#include "runtime/runtime.h"
#include <stdio.h>
#include <stdlib.h>

static void PrintModule(const char *key, HMODULE module)
{
    char path[MAX_PATH] = "-";
    if (module)
        GetModuleFileNameA(module, path, sizeof path);
    printf("%s=%s\n", key, path);
}

static void PrintQuery(const char *key)
{
    char path[MAX_PATH];
    SystemFilePath("MSI.DLL", path, 0);
    DWORD ms = 7, ls = 7;
    int failed = QueryFileVersion(path, &ms, &ls);
    printf("%s=%d %08lx %08lx\n", key, failed, (unsigned long)ms, (unsigned long)ls);
}

int main(void)
{
    IoBuffer = (unsigned char *)malloc(IoBufferSize);
    PrintModule("before", GetModuleHandleA("VERSION.DLL"));
    PrintQuery("query");
    PrintModule("after", GetModuleHandleA("VERSION.DLL"));
    PrintModule("byname", LoadLibraryA("VERSION.DLL"));
    PrintQuery("query-beside-planted");
    // A missing file is a failure with both words 0.
    DWORD ms = 7, ls = 7;
    int failed = QueryFileVersion("C:\\no such folder\\none.dll", &ms, &ls);
    printf("missing=%d %08lx %08lx\n", failed, (unsigned long)ms, (unsigned long)ls);
    return 0;
}
