// A recording stand-in for msiexec.exe. It appends its path, its wide
// command line and its working directory, in UTF-8, to
// C:\msiexec-record.txt, one record per run, and ends with the code in the
// environment variable KEST_MSIEXEC_EXIT (0).
#include "utf8_text.h"
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    wchar_t path[MAX_PATH], cwd[MAX_PATH];
    static char text[3][3 * 32768];
    GetModuleFileNameW(0, path, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, cwd);
    FILE *f = fopen("C:\\msiexec-record.txt", "ab");
    if (f) {
        fprintf(f, "program=%s\r\ncmdline=%s\r\ncwd=%s\r\n--\r\n", Utf8(path, text[0], sizeof text[0]),
                Utf8(GetCommandLineW(), text[1], sizeof text[1]), Utf8(cwd, text[2], sizeof text[2]));
        fclose(f);
    }
    const char *code = getenv("KEST_MSIEXEC_EXIT");
    return code ? atoi(code) : 0;
}
