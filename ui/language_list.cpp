#include "ui/language_list.h"
#include "common/decimal.h"
#include "common/settings.h"

namespace {

// The two separators are interchangeable. Neither is a trail byte of any
// double-byte code page, so names in such code pages are scanned safely.
int IsSeparator(char c)
{
    return c == ',' || c == ';';
}

char *SkipToSeparator(char *p)
{
    while (*p && !IsSeparator(*p))
        ++p;
    return p;
}

} // namespace

void SplitLanguageEntry(char *entry, int index, unsigned userLanguage, unsigned charSize,
                        int *match)
{
    char *p = SkipToSeparator(entry);
    while (IsSeparator(*p)) {
        *p++ = 0;
        unsigned language = unsigned(ParseDecimal(p));
        if (language && !(charSize & CharSizeAlwaysPrompt) && language == userLanguage)
            *match = index;
        p = SkipToSeparator(p);
    }
}
