// A library planted where a program might load it by name instead of the
// system's: the same file is copied under each name a test plants
// (version.dll, msi.dll, wininet.dll, ...). Each time it is loaded into a
// process it appends one line, its own full path and the process's
// program, to the file named by KEST_PLANTED_RECORD (C:\planted-record.txt
// by default). It does its work in DllMain, before anybody can call it, so
// that a process that then fails on the missing entry points has left its
// mark all the same. VERSION's entry points that programs and Wine's own
// USER32 import are here and all fail, so a program that used this copy
// would read no version at all, and fail no worse.
#include <windows.h>

// The entry point itself, without a C runtime: KERNEL32 is its only import,
// so no other library that a test plants is pulled in by the copy itself.
extern "C" BOOL WINAPI PlantedEntry(HINSTANCE self, DWORD reason, LPVOID)
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
        lstrcpyA(line, own);
        lstrcatA(line, "|");
        lstrcatA(line, program);
        lstrcatA(line, "\r\n");
        DWORD done;
        WriteFile(file, line, lstrlenA(line), &done, 0);
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

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD handle)
{
    return GetFileVersionInfoSizeA(0, handle);
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID)
{
    return GetFileVersionInfoA(0, 0, 0, 0);
}

__declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID *, PUINT)
{
    return FALSE;
}

}
