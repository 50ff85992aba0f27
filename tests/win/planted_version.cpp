// A VERSION.DLL planted where a program might load it by name instead of
// the system's. Each time it is loaded into a process it appends one line,
// its own full path and the process's program, to the file named by
// KEST_PLANTED_RECORD (C:\planted-record.txt by default). Its functions
// all fail, so a program that used it would read no version at all.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char own[MAX_PATH], program[MAX_PATH], record[MAX_PATH];
    GetModuleFileNameA(self, own, sizeof own);
    GetModuleFileNameA(0, program, sizeof program);
    if (!GetEnvironmentVariableA("KEST_PLANTED_RECORD", record, sizeof record))
        lstrcpyA(record, "C:\\planted-record.txt");
    HANDLE file = CreateFileA(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file != INVALID_HANDLE_VALUE) {
        char line[2 * MAX_PATH + 8];
        int length = wsprintfA(line, "%s|%s\r\n", own, program);
        DWORD done;
        WriteFile(file, line, length, &done, 0);
        CloseHandle(file);
    }
    return TRUE;
}

extern "C" {

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR, LPDWORD handle)
{
    if (handle)
        *handle = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

__declspec(dllexport) BOOL WINAPI VerQueryValueA(LPCVOID, LPCSTR, LPVOID *, PUINT)
{
    return FALSE;
}

}
