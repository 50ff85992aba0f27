#include "common/decimal.h"

int ParseDecimal(const char *text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    unsigned sign = 1;
    if (*text == '-') {
        sign = 0u - 1u;
        ++text;
    }
    // Unsigned arithmetic: the wrap-around is the defined behaviour, and
    // signed overflow would not be.
    unsigned value = 0;
    while (*text >= '0' && *text <= '9')
        value = value * 10u + unsigned(*text++ - '0');
    return int(value * sign);
}

// Inlined at each of its callers, it would cost the program file more than
// the calls.
__attribute__((noinline)) char *FormatDecimal(unsigned value, char *end)
{
    do
        *--end = char('0' + value % 10);
    while (value /= 10);
    return end;
}
