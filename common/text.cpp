#include "common/text.h"

unsigned TextLength(const char *text)
{
    unsigned n = 0;
    while (text[n])
        ++n;
    return n;
}

unsigned CopyText(char *dst, unsigned capacity, const char *src)
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
