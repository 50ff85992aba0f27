// Entries of the language list: a display name, then identifiers each after
// a ',' or ';', as in 'Deutsch,1031;2055'. Pure: no Windows headers.
#pragma once

enum { NoLanguageMatch = -1 };

// Cuts entry at its first separator, so that only the display name is
// left, and reads the decimal identifiers that follow. When one of them is
// nonzero and equals userLanguage, and bit 7 of charSize (always prompt) is
// clear, stores index in *match; fed the entries in order, a later match
// thus replaces an earlier one. Otherwise *match is left as it was.
void SplitLanguageEntry(char *entry, int index, unsigned userLanguage, unsigned charSize,
                        int *match);
