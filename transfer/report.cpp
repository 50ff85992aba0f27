#include "transfer/status.h"

namespace {

// Writes text at cursor->At without moving the cursor; returns the end of
// what was written.
char *PutText(const ReportCursor *cursor, char *at, const char *text)
{
    for (; *text && at < cursor->End; ++text)
        *at++ = *text;
    *at = 0;
    return at;
}

} // namespace

void ReportText(ReportCursor *cursor, const char *text, int advance)
{
    if (!cursor->At)
        return;
    char *end = PutText(cursor, cursor->At, text);
    if (advance)
        cursor->At = end;
}

void ReportNumber(ReportCursor *cursor, const char *key, unsigned value, int isSigned, int advance)
{
    if (!cursor->At)
        return;
    // The digits, backwards from the end of a buffer of 13: a sign and ten
    // digits are the widest 32-bit value.
    char digits[13];
    char *p = digits + sizeof digits - 1;
    *p = 0;
    int negative = isSigned && int(value) < 0;
    unsigned magnitude = negative ? 0u - value : value;
    do {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative)
        *--p = '-';
    char *end = PutText(cursor, cursor->At, key);
    end = PutText(cursor, end, "=");
    end = PutText(cursor, end, p);
    end = PutText(cursor, end, "\r\n");
    if (advance)
        cursor->At = end;
}
