// A stand-in for a runtime installer. Each run appends its path, command
// line, working directory and temporary folder to the file named by
// KEST_RUNTIME_RECORD (C:\runtime-record.txt by default), one record per
// run. KEST_RUNTIME_EXITS is a comma-separated list of exit codes, the
// first for the first run recorded in that file, the second for the next
// one, and so on; the last code holds for every later run (0 without a
// list). Codes may be decimal or 0x hexadecimal. With KEST_RUNTIME_WININIT
// set, WININIT.INI in the system folder is rewritten and its last-write
// time moved on, as an installer that schedules a file replacement does.
// KEST_RUNTIME_SLEEP holds each run, once recorded, for that many
// milliseconds before it ends, as a real installer takes its time.
#include "utf8_text.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The record file, opened by its wide name: it may lie in a folder that
// the code page cannot spell.
static FILE *OpenRecord(const wchar_t *mode)
{
    const wchar_t *path = _wgetenv(L"KEST_RUNTIME_RECORD");
    return _wfopen(path && path[0] ? path : L"C:\\runtime-record.txt", mode);
}

// How many runs the record file holds already.
static int EarlierRuns(void)
{
    FILE *f = OpenRecord(L"rb");
    if (!f)
        return 0;
    int runs = 0;
    char line[2048];
    while (fgets(line, sizeof line, f))
        if (strcmp(line, "--\r\n") == 0)
            ++runs;
    fclose(f);
    return runs;
}

static unsigned ExitCodeOfRun(int run)
{
    const char *list = getenv("KEST_RUNTIME_EXITS");
    if (!list || !list[0])
        return 0;
    unsigned code = 0;
    for (int index = 0;; ++index) {
        char *end;
        code = (unsigned)strtoul(list, &end, 0);
        if (index == run || *end != ',')
            return code;
        list = end + 1;
    }
}

static void RewriteWininit(void)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH - 16);
    strcpy(path + length, "\\WININIT.INI");
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, 0, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FILETIME written;
    GetFileTime(file, 0, 0, &written);
    const char text[] = "[rename]\r\nNUL=C:\\kest-replaced.tmp\r\n";
    DWORD done;
    SetFilePointer(file, 0, 0, FILE_END);
    WriteFile(file, text, sizeof text - 1, &done, 0);
    // A whole second later than before, whatever the clock's resolution.
    ULARGE_INTEGER t;
    t.LowPart = written.dwLowDateTime;
    t.HighPart = written.dwHighDateTime;
    t.QuadPart += 10000000;
    written.dwLowDateTime = t.LowPart;
    written.dwHighDateTime = t.HighPart;
    SetFileTime(file, 0, 0, &written);
    CloseHandle(file);
}

int main(void)
{
    wchar_t path[MAX_PATH], cwd[MAX_PATH], temp[MAX_PATH];
    static char text[4][3 * 32768];
    GetModuleFileNameW(0, path, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, cwd);
    GetTempPathW(MAX_PATH, temp);
    int run = EarlierRuns();
    if (getenv("KEST_RUNTIME_WININIT"))
        RewriteWininit();
    FILE *f = OpenRecord(L"ab");
    if (f) {
        fprintf(f, "program=%s\r\ncmdline=%s\r\ncwd=%s\r\ntemp=%s\r\n--\r\n",
                Utf8(path, text[0], sizeof text[0]), Utf8(GetCommandLineW(), text[1], sizeof text[1]),
                Utf8(cwd, text[2], sizeof text[2]), Utf8(temp, text[3], sizeof text[3]));
        fclose(f);
    }
    if (getenv("KEST_RUNTIME_SLEEP"))
        Sleep((DWORD)strtoul(getenv("KEST_RUNTIME_SLEEP"), 0, 10));
    return (int)ExitCodeOfRun(run);
}
