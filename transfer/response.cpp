#include "transfer/response.h"

namespace {

int IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t';
}

// The offset after the header that starts at `at`, or 0 when the header
// does not end within fill bytes. Inlined, it would cost the program file
// more than the call.
__attribute__((noinline)) unsigned HeaderEnd(const unsigned char *block, unsigned fill, unsigned at)
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

// The offset after text (lower case) at block[p], compared without regard
// to case and never past to; 0 when it is not there. Kept a routine of its
// own: inlined and specialised for each text, it costs the program file
// more than the calls.
__attribute__((noinline)) unsigned After(const unsigned char *block, unsigned p, unsigned to,
                                         const char *text)
{
    for (; *text; ++text, ++p) {
        if (p >= to)
            return 0;
        unsigned char c = block[p];
        if (unsigned(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != unsigned(*text))
            return 0;
    }
    return p;
}

// The offset of the value of a header field (its lower-case name and
// colon) among the header lines between from and to, past its blanks; 0
// when no line holds the field.
unsigned FindField(const unsigned char *block, unsigned from, unsigned to, const char *field)
{
    for (unsigned at = from; at < to; ++at) {
        unsigned p = block[at] == '\n' ? After(block, at + 1, to, field) : 0;
        if (!p)
            continue;
        while (p < to && IsBlank(block[p]))
            ++p;
        return p;
    }
    return 0;
}

// Reads a "Content-Length:" field among the header lines between from and
// to. A value too large for 32 bits counts as the largest, as the body's
// count stops there too: a file of 4 GiB or more is no runtime installer.
int FindContentLength(const unsigned char *block, unsigned from, unsigned to, unsigned *length)
{
    unsigned p = FindField(block, from, to, "content-length:");
    if (!p || p >= to || block[p] < '0' || block[p] > '9')
        return 0;
    unsigned value = 0;
    for (; p < to && block[p] >= '0' && block[p] <= '9'; ++p) {
        unsigned digit = unsigned(block[p] - '0');
        // 429,496,729 tens and 5 are the most that 32 bits hold.
        value = value > 429496729u || (value == 429496729u && digit > 5) ? ~0u
                                                                        : value * 10 + digit;
    }
    *length = value;
    return 1;
}

// A body in any coding but the plain one (such as "chunked") would be
// saved with its framing: only its absence, or "identity", is taken.
int PlainBody(const unsigned char *block, unsigned from, unsigned to)
{
    unsigned p = FindField(block, from, to, "transfer-encoding:");
    if (!p)
        return 1;
    p = After(block, p, to, "identity");
    return p && (p == to || block[p] == '\r' || block[p] == '\n' || IsBlank(block[p]));
}

} // namespace

// Kept whole and apart from its caller, with the block as a parameter:
// specialised for the receive buffer's fixed address, every access to the
// block would carry that address and its relocation.
__attribute__((noipa)) void ReadResponseStart(const unsigned char *block, unsigned fill,
                                              ResponseStart *start)
{
    start->Examined = start->Success = 0;
    start->StatusCode = start->Body = start->HeaderEnd = 0;
    start->LengthKnown = 0;
    start->ContentLength = 0;
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
    unsigned end = start->HeaderEnd = HeaderEnd(block, fill, at);
    if (block[at] == '2' && end && PlainBody(block, at, end)) {
        start->Success = 1;
        start->Body = end;
        start->LengthKnown = FindContentLength(block, at, end, &start->ContentLength);
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
