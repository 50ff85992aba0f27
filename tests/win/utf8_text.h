// Wide texts of the system as UTF-8, so that what a test program records
// or takes holds any path and command line exactly, whatever the code page.
#pragma once
#include <windows.h>

// text as UTF-8 in out (size bytes); returns out.
static inline const char *Utf8(const wchar_t *text, char *out, int size)
{
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, 0, 0))
        out[0] = 0;
    return out;
}

// The UTF-8 text as UTF-16 in out (size units); returns out.
static inline wchar_t *Wide(const char *text, wchar_t *out, int size)
{
    if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, out, size))
        out[0] = 0;
    return out;
}
