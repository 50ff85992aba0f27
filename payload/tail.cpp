#include "payload/tail.h"

namespace {

// Moves *position past size bytes; 0 when that would pass limit.
int Advance(unsigned long *position, unsigned long size, unsigned long limit)
{
    if (*position > limit || size > limit - *position)
        return 0;
    *position += size;
    return 1;
}

// Takes the length-prefixed item at *position (a prefix of prefixSize
// little-endian bytes): reports where its data lies and how long it is,
// and moves *position past it.
int TakePrefixed(unsigned long *position, unsigned long limit, unsigned prefixSize,
                 PayloadReadFn read, void *source, unsigned long *offset, unsigned *length)
{
    unsigned char prefix[4] = {0, 0, 0, 0};
    if (!read(source, *position, prefix, prefixSize) || !Advance(position, prefixSize, limit))
        return 0;
    *offset = *position;
    *length = LoadLe32(prefix);
    return Advance(position, *length, limit);
}

// Takes items until the index-th, which it reports.
int FindPrefixed(unsigned long position, unsigned long limit, unsigned index, unsigned prefixSize,
                 PayloadReadFn read, void *source, unsigned long *offset, unsigned *length)
{
    for (unsigned i = 0; i < index; ++i)
        if (!TakePrefixed(&position, limit, prefixSize, read, source, offset, length))
            return 0;
    return index > 0;
}

} // namespace

int WalkPayloadTail(unsigned long headerEnd, unsigned long limit,
                    const PayloadHeaderRecord *header,
                    const InstallerSettingsRecord *settings, int dotNetMode,
                    PayloadReadFn read, void *source, PayloadTailRecord *tail)
{
    const unsigned char *lengths = header->Lengths;
    unsigned long at = headerEnd;
    tail->Limit = limit;
    tail->LanguagePrompt = at;
    if (!Advance(&at, lengths[LengthLanguagePrompt], limit))
        return 0;
    tail->FirstLanguage = at;
    if (!Advance(&at, lengths[LengthFirstLanguage], limit))
        return 0;
    tail->FurtherLanguages = at;
    tail->LanguageCount = lengths[LanguageCount];
    unsigned long entry;
    unsigned entryLength;
    for (unsigned i = 0; i < tail->LanguageCount; ++i)
        if (!TakePrefixed(&at, limit, LanguageLengthSize, read, source, &entry, &entryLength))
            return 0;

    // The header names the two runtime slots by the Windows Installer
    // families; in .NET mode the NT slot holds the first stream.
    tail->RuntimeSize[0] = unsigned(dotNetMode ? settings->StreamSizeNT : settings->StreamSize9X);
    tail->RuntimeSize[1] = unsigned(dotNetMode ? settings->StreamSize9X : settings->StreamSizeNT);
    for (int i = 0; i < 2; ++i) {
        tail->Runtime[i] = at;
        if (!Advance(&at, tail->RuntimeSize[i], limit))
            return 0;
    }

    tail->Package = at;
    tail->PackageSize = lengths[LengthExternalPackagePath] > 1 ? 0 : settings->StreamSizeMSI;
    if (!Advance(&at, tail->PackageSize, limit))
        return 0;
    tail->Transforms = at;
    return 1;
}

int FindLanguageEntry(const PayloadTailRecord *tail, unsigned index, PayloadReadFn read,
                      void *source, unsigned long *offset, unsigned *length)
{
    return index <= tail->LanguageCount &&
           FindPrefixed(tail->FurtherLanguages, tail->Limit, index, LanguageLengthSize, read,
                        source, offset, length);
}

int FindTransform(const PayloadTailRecord *tail, unsigned index, PayloadReadFn read, void *source,
                  unsigned long *offset, unsigned *size)
{
    return FindPrefixed(tail->Transforms, tail->Limit, index, TransformSizeSize, read, source,
                        offset, size);
}
