#include "common/text.h"

unsigned TextLength(const char *text)
{
    unsigned n = 0;
    while (text[n])
        ++n;
    return n;
}

// Called from every layer: inlined anywhere, it costs the program file more
// than the call.
__attribute__((noinline)) unsigned CopyText(char *dst, unsigned capacity, const char *src)
{
    if (capacity == 0)
        return 0;
    dst[0] = 0;
    return AppendText(dst, capacity, src);
}

unsigned AppendText(char *dst, unsigned capacity, const char *src)
{
    if (capacity == 0)
        return 0;
    unsigned n = 0;
    while (n < capacity - 1 && dst[n])
        ++n;
    if (src)
        while (n < capacity - 1 && *src)
            dst[n++] = *src++;
    dst[n] = 0;
    return n;
}

int TextEqual(const char *a, const char *b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

} // namespace

int TextStartsWithNoCase(const char *text, const char *prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (LowerAscii(*text) != LowerAscii(*prefix))
            return 0;
    return 1;
}

int TextEqualNoCase(const char *a, const char *b)
{
    for (; *a || *b; ++a, ++b)
        if (LowerAscii(*a) != LowerAscii(*b))
            return 0;
    return 1;
}

int IsDeviceName(const char *name)
{
    unsigned length = 0;
    while (name[length] && name[length] != '.')
        ++length;
    while (length && name[length - 1] == ' ')
        --length;
    if (length != 3 && length != 4)
        return 0;
    // The first four take no number; COM and LPT take one digit from 1.
    static const char Devices[][4] = {"con", "prn", "aux", "nul", "com", "lpt"};
    for (int i = 0; i < 6; ++i) {
        if (LowerAscii(name[0]) != Devices[i][0] || LowerAscii(name[1]) != Devices[i][1] ||
            LowerAscii(name[2]) != Devices[i][2])
            continue;
        if (length == 3 ? i < 4 : i >= 4 && name[3] >= '1' && name[3] <= '9')
            return 1;
    }
    return 0;
}

int IsPlainFileName(const char *name)
{
    if (!name[0] || IsDeviceName(name))
        return 0;
    for (const char *p = name; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':' || (p[0] == '.' && p[1] == '.'))
            return 0;
    return 1;
}
