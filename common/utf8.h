// UTF-16 to UTF-8 and back, over fixed buffers. On Windows NT the stub
// holds every path and command line as UTF-8 and speaks UTF-16 to the
// system; the 9x family keeps its ANSI texts and never comes here. Pure: no
// Windows headers, so the unit tests run it natively.
//
// A surrogate that has no partner, which Windows allows in file names and
// command lines, is carried as the three bytes that its code would have
// (the generalised UTF-8 also called WTF-8), so that every UTF-16 text comes
// back from UTF-8 unit for unit.
#pragma once

typedef unsigned short Utf16Unit;

// The NUL-terminated UTF-16 text in as UTF-8 in out, which holds capacity
// bytes. Returns the length stored, or 0 with the empty text stored when
// it does not fit (a cut path would name another file).
unsigned Utf8FromUtf16(const Utf16Unit *in, char *out, unsigned capacity);

// The NUL-terminated UTF-8 text in as UTF-16 in out, which holds capacity
// units. Returns the number of units stored, or 0 with the empty text
// stored when it does not fit. A byte that begins no sequence this
// program writes stands for itself (as a unit of that value).
unsigned Utf16FromUtf8(const char *in, Utf16Unit *out, unsigned capacity);
