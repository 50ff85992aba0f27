// A recording stand-in for msiexec.exe. It appends its path, command line
// and working directory to C:\msiexec-record.txt, one record per run, and
// ends with the code in the environment variable KEST_MSIEXEC_EXIT (0).
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    char path[MAX_PATH], cwd[MAX_PATH];
    GetModuleFileNameA(0, path, sizeof path);
    GetCurrentDirectoryA(sizeof cwd, cwd);
    FILE *f = fopen("C:\\msiexec-record.txt", "ab");
    if (f) {
        fprintf(f, "program=%s\r\ncmdline=%s\r\ncwd=%s\r\n--\r\n", path, GetCommandLineA(), cwd);
        fclose(f);
    }
    const char *code = getenv("KEST_MSIEXEC_EXIT");
    return code ? atoi(code) : 0;
}
