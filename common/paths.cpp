#include "common/routines.h"

char *FindChar(char *text, int c)
{
    while (*text) {
        if (int(static_cast<signed char>(*text)) == c)
            return text;
        text = CharNextA(text);
    }
    return 0;
}

void CreatePathDirectories(char *path)
{
    char *p = FindChar(path, '\\');
    if (!p)
        return;
    while (*p) {
        if (*p == '\\') {
            *p = 0;
            CreateDirectoryA(path, 0);
            *p = '\\';
            ++p;
        } else {
            while (*p && *p != '\\')
                p = CharNextA(p);
        }
    }
}

void MakeTempFileName(char *out)
{
    char directory[256];
    directory[0] = 0;
    GetTempPathA(sizeof directory, directory);
    // A failure would leave the caller's previous name, a file in use.
    if (!GetTempFileNameA(directory, "KXC", 0, out))
        out[0] = 0;
}
