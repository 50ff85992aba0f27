#pragma once

// Parses settings text as a signed decimal number: blanks and tabs first,
// an optional '-', then digits up to the first non-digit. The value wraps
// modulo 2^32 and is read as signed, so "4294967295" gives -1. Text
// without digits, and a '+' sign, give 0.
int ParseDecimal(const char *text);

// Writes value in decimal backwards from end, which the digits end
// before (up to ten of them), and returns where the first one is. Writes
// no NUL.
char *FormatDecimal(unsigned value, char *end);
