#include "transfer/response.h"

namespace {

int IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t';
}

// The offset after the header that starts at `at`, or 0 when the header
// does not end within fill bytes.
unsigned HeaderEnd(const unsigned char *block, unsigned fill, unsigned at)
{
    while (at < fill) {
        unsigned char c = block[at];
        if (c != '\r' && c != '\n') {
            ++at;
            continue;
        }
        if (at + 1 < fill && block[at + 1] == c)
            return at + 2;
        if (at + 2 < fill && block[at + 2] == c)
            return at + 4 <= fill ? at + 4 : 0;
        if (c == '\r')
            ++at;
        if (at < fill && block[at] == '\n')
            ++at;
    }
    return 0;
}

} // namespace

void ReadResponseStart(const unsigned char *block, unsigned fill, ResponseStart *start)
{
    start->Examined = start->Success = 0;
    start->StatusCode = start->Body = 0;
    unsigned at = 0;
    while (at < fill && !IsBlank(block[at]))
        ++at;
    while (at < fill && IsBlank(block[at]))
        ++at;
    if (at >= fill)
        return;
    start->Examined = 1;
    start->StatusCode = at;
    start->Body = at;
    if (block[at] == '2') {
        unsigned end = HeaderEnd(block, fill, at);
        if (end) {
            start->Success = 1;
            start->Body = end;
        }
    }
}

unsigned WriteServerText(char *report, unsigned room, int diagnostics,
                         const unsigned char *block, unsigned fill, const ResponseStart *start)
{
    if (room == 0)
        return 0;
    const char *prefix = diagnostics ? "ServerError=" : "\r\n\r\n";
    // The line's characters before its CR LF, and room for that and NUL.
    unsigned limit = ServerTextLimit;
    unsigned tail = diagnostics ? 2 : 0;
    if (limit + tail + 1 > room)
        limit = room > tail + 1 ? room - tail - 1 : 0;
    unsigned length = 0;
    for (; *prefix && length < limit; ++prefix)
        report[length++] = *prefix;
    for (unsigned at = start->StatusCode; at < fill && length < limit; ++at) {
        unsigned char c = block[at];
        if (c == 0 || c == '\r' || c == '\n')
            break;
        report[length++] = char(c);
    }
    if (diagnostics && length + 2 < room) {
        report[length++] = '\r';
        report[length++] = '\n';
    }
    report[length] = 0;
    return length;
}
