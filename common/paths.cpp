#include "common/routines.h"
#include "common/system.h"

namespace {

// UTF-8 is read byte by byte: none of its multi-byte sequences holds an
// ASCII byte, while CharNextA would read the code page's lead bytes into
// them.
char *NextChar(char *p)
{
    return WideCalls ? p + 1 : CharNextA(p);
}

} // namespace

char *FindChar(char *text, int c)
{
    while (*text) {
        if (int(static_cast<signed char>(*text)) == c)
            return text;
        text = NextChar(text);
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
            CreateSystemDirectory(path);
            *p = '\\';
            ++p;
        } else {
            while (*p && *p != '\\')
                p = NextChar(p);
        }
    }
}
