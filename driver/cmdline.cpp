#include "driver/cmdline.h"
#include "common/flags.h"

const char *SplitCommandLine(const char *commandLine)
{
    const char *p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        // Only a blank ends an unquoted program name; a tab does not.
        while (*p && *p != ' ')
            ++p;
    }
    while (*p == ' ')
        ++p;

    if (*p == '/')
        return p;
    for (const char *q = p; *q; ++q)
        if (*q == '=')
            return p;
    // Bare words without '=' are not msiexec arguments: drop them so the
    // stored switches apply instead.
    while (*p)
        ++p;
    return p;
}

namespace {

int IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

int HasQuietSwitch(const char *text)
{
    if (!text)
        return 0;
    for (const char *p = text; *p; ++p) {
        // A quoted property value may contain "/q" without meaning it.
        while (*p == '"') {
            ++p;
            while (*p && *p != '"')
                ++p;
            if (!*p)
                return 0;
            ++p;
        }
        if (!*p)
            break;
        if (*p == '/' && (p[1] == 'q' || p[1] == 'Q')) {
            char next = p[2];
            if (next == 'n' || next == 'N' || !IsAsciiLetter(next))
                return 1;
        }
    }
    return 0;
}

void ScanQuietSwitch(const char *text)
{
    if (HasQuietSwitch(text))
        QuietMode = 1;
}
