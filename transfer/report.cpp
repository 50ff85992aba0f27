#include "transfer/status.h"
#include "common/decimal.h"

void ReportText(ReportCursor *cursor, const char *text)
{
    char *at = cursor->At;
    if (!at)
        return;
    for (; *text && at < cursor->End; ++text)
        *at++ = *text;
    *at = 0;
    cursor->At = at;
}

void ReportValue(ReportCursor *cursor, const char *key, const char *value)
{
    ReportText(cursor, key);
    ReportText(cursor, "=");
    ReportText(cursor, value);
    ReportText(cursor, "\r\n");
}

void ReportNumber(ReportCursor *cursor, const char *key, unsigned value, int isSigned)
{
    // The digits, backwards from the end of a buffer of 13: a sign and ten
    // digits are the widest 32-bit value.
    char digits[13];
    digits[sizeof digits - 1] = 0;
    int negative = isSigned && int(value) < 0;
    char *p = FormatDecimal(negative ? 0u - value : value, digits + sizeof digits - 1);
    if (negative)
        *--p = '-';
    ReportValue(cursor, key, p);
}
