// Bounded text routines over fixed buffers. Pure: no Windows headers, so
// they compile into the stub and into the native unit tests alike.
#pragma once

// Length of a NUL-terminated text.
unsigned TextLength(const char *text);

// Copies src into dst, which holds capacity bytes, cutting the text so that
// it always ends in NUL. Returns the length stored. A capacity of 0 stores
// nothing; a null src stores the empty text.
unsigned CopyText(char *dst, unsigned capacity, const char *src);

// Appends src to the text already in dst, with the same cut as CopyText.
// Returns the new length.
unsigned AppendText(char *dst, unsigned capacity, const char *src);

// 1 when a and b are the same text, byte for byte.
int TextEqual(const char *a, const char *b);

// ASCII-only case-insensitive comparisons; 1 when they hold. The active
// code page does not matter here: only 'A'-'Z' fold to 'a'-'z'.
int TextStartsWithNoCase(const char *text, const char *prefix);
int TextEqualNoCase(const char *a, const char *b);

// 1 when name is one that Windows opens as a device rather than a file:
// CON, PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9, in any case, before any
// extension and trailing blanks ("nul.msi", "COM1 .txt").
int IsDeviceName(const char *name);

// 1 when name, taken from an untrusted source, names a file in the folder
// it is put in and nothing else: not empty, no '\\', '/' or ':', no "..",
// and no device name.
int IsPlainFileName(const char *name);
