#include "payload/layout.h"
#include <stddef.h>

HeaderLength RuntimeUrlLength(RuntimeEntry entry)
{
    // The .NET update URL was added after the language items had their
    // bytes, so its length byte sits out of order.
    static const unsigned char byEntry[RuntimeEntryCount] = {
        LengthRuntime9X, LengthRuntimeNT, LengthRuntimeDotNet, LengthRuntimeDotNetUpdate};
    return HeaderLength(byEntry[entry]);
}

unsigned LengthTableOffset(const unsigned char headLengths[HeadStringCount])
{
    unsigned offset = FixedBlockSize + 1 + HeadStringCount;
    for (int i = 0; i < HeadStringCount; ++i)
        offset += headLengths[i];
    return offset;
}

void LayoutPayloadHeader(const unsigned char headLengths[HeadStringCount],
                         const unsigned char lengths[HeaderLengthCount], PayloadLayout *layout)
{
    layout->DelayReboot = FixedBlockSize;
    layout->HeadLengths = FixedBlockSize + 1;
    layout->HeadStrings = FixedBlockSize + 1 + HeadStringCount;
    layout->LengthTable = LengthTableOffset(headLengths);
    unsigned at = layout->LengthTable + HeaderLengthCount;
    layout->CaptionBlock = at;
    at += lengths[LengthCaptionBlock];
    layout->Password = at;
    at += lengths[LengthPassword];
    layout->TextRegion = at;
    for (int k = LengthCmdLine; k <= LengthInternet; ++k)
        at += lengths[k];
    layout->ExternalPackagePath = at;
    at += lengths[LengthExternalPackagePath];
    for (int entry = 0; entry < RuntimeEntryCount; ++entry) {
        layout->RuntimeUrl[entry] = at;
        at += lengths[RuntimeUrlLength(RuntimeEntry(entry))];
        layout->DownloadSize[entry] = at;
        at += 4;
    }
    layout->LanguagePrompt = at;
    at += lengths[LengthLanguagePrompt];
    layout->FirstLanguage = at;
    at += lengths[LengthFirstLanguage];
    layout->FurtherLanguages = at;
}

unsigned TextOffsetInRegion(const unsigned char lengths[HeaderLengthCount], HeaderLength index)
{
    unsigned offset = 0;
    for (int k = LengthCmdLine; k < index; ++k)
        offset += lengths[k];
    return offset;
}

namespace {

// Copies a stored string of `length` bytes (its NUL counted) into a
// settings buffer; a stored string that lacks its NUL is cut there anyway.
void CopyStored(char *out, const unsigned char *stored, unsigned length)
{
    for (unsigned i = 0; i < length; ++i)
        out[i] = char(stored[i]);
    out[length] = 0;
}

// Copies the NUL-terminated text at *p, which ends at the latest at end,
// and moves *p past its NUL.
void CopyBlockText(char *out, const unsigned char **p, const unsigned char *end)
{
    unsigned n = 0;
    while (*p < end && **p) {
        if (n < SettingsTextSize - 1)
            out[n++] = char(**p);
        ++*p;
    }
    out[n] = 0;
    if (*p < end)
        ++*p;
}

// The fields that the head strings and the runtime entries fill, by their
// offsets in the record: a table of offsets is read-only data that the
// loader need not relocate, where a table of pointers would be built on
// the stack at every call.
typedef InstallerSettingsRecord Settings;
const unsigned short HeadField[HeadStringCount] = {
    offsetof(Settings, PackageFileName), offsetof(Settings, ProductCode),
    offsetof(Settings, ProductVersion), offsetof(Settings, TransformMSI)};
const unsigned short RuntimeSizeField[RuntimeEntryCount] = {
    offsetof(Settings, RuntimeSize9X), offsetof(Settings, RuntimeSizeNT),
    offsetof(Settings, RuntimeSizeDotNet), offsetof(Settings, RuntimeSizeDotNetUpdate)};
const unsigned short DownloadSizeField[RuntimeEntryCount] = {
    offsetof(Settings, DownloadSize9X), offsetof(Settings, DownloadSizeNT),
    offsetof(Settings, DownloadSizeDotNet), offsetof(Settings, DownloadSizeDotNetUpdate)};

// The fixed block's words from FixedTotalFileSize to FixedStreamSizeMSI,
// stored as they stand.
const unsigned short FixedWordField[] = {
    offsetof(Settings, TotalFileSize), offsetof(Settings, RuntimeVersionMS),
    offsetof(Settings, RuntimeVersionLS), offsetof(Settings, StreamSize9X),
    offsetof(Settings, StreamSizeMSI)};
static_assert(sizeof FixedWordField / sizeof FixedWordField[0] ==
                  FixedStreamSizeMSI + 1 - FixedTotalFileSize,
              "one field for each word");

template <typename T> T *Field(Settings *settings, unsigned offset)
{
    return reinterpret_cast<T *>(reinterpret_cast<char *>(settings) + offset);
}

} // namespace

unsigned DecodePayloadHeader(const unsigned char *data, unsigned size, long base,
                             InstallerSettingsRecord *settings, PayloadHeaderRecord *header,
                             int *dotNetMode)
{
    unsigned char headLengths[HeadStringCount];
    if (size < FixedBlockSize + 1 + HeadStringCount)
        return 0;
    for (int i = 0; i < HeadStringCount; ++i)
        headLengths[i] = data[FixedBlockSize + 1 + i];
    unsigned table = LengthTableOffset(headLengths);
    if (size < table + HeaderLengthCount)
        return 0;
    for (int i = 0; i < HeaderLengthCount; ++i)
        header->Lengths[i] = data[table + i];
    const unsigned char *lengths = header->Lengths;
    PayloadLayout layout;
    LayoutPayloadHeader(headLengths, lengths, &layout);
    if (size < layout.LanguagePrompt)
        return 0;

    InstallerSettingsRecord &s = *settings;
    int sizeNT = int(LoadLe32(data + 4 * FixedStreamSizeNT));
    if (sizeNT < 0) {
        *dotNetMode = 1;
        sizeNT = int(0u - unsigned(sizeNT));
    }
    s.StreamSizeNT = sizeNT;
    for (unsigned i = 0; i < sizeof FixedWordField / sizeof FixedWordField[0]; ++i)
        *Field<unsigned>(settings, FixedWordField[i]) =
            LoadLe32(data + 4 * (FixedTotalFileSize + i));
    s.DelayReboot = data[layout.DelayReboot];

    unsigned at = layout.HeadStrings;
    for (int i = 0; i < HeadStringCount; ++i) {
        CopyStored(Field<char>(settings, HeadField[i]), data + at, headLengths[i]);
        at += headLengths[i];
    }

    s.CharSet = lengths[LengthCharSet];
    s.CharSize = lengths[LengthCharSize];
    const unsigned char *p = data + layout.CaptionBlock;
    const unsigned char *end = p + lengths[LengthCaptionBlock];
    CopyBlockText(s.CharFont, &p, end);
    CopyBlockText(s.ProductName, &p, end);

    s.PasswordLength = lengths[LengthPassword];
    for (unsigned i = 0; i < lengths[LengthPassword]; ++i)
        s.StoredPassword[i] = data[layout.Password + i];

    header->TextRegionOffset = base + long(layout.TextRegion);
    header->ExternalPackagePathOffset = base + long(layout.ExternalPackagePath);
    for (int entry = 0; entry < RuntimeEntryCount; ++entry) {
        header->RuntimeUrlOffset[entry] = base + long(layout.RuntimeUrl[entry]);
        *Field<int>(settings, RuntimeSizeField[entry]) =
            lengths[RuntimeUrlLength(RuntimeEntry(entry))];
        *Field<unsigned>(settings, DownloadSizeField[entry]) =
            LoadLe32(data + layout.DownloadSize[entry]);
    }
    if (s.RuntimeSizeDotNet > 1 || s.RuntimeSizeDotNetUpdate > 1)
        *dotNetMode = 1;
    s.RemovePrevious = 1;
    return layout.LanguagePrompt;
}

int FindPayloadSection(const unsigned char *head, unsigned size, PayloadSection *section)
{
    if (size > LocatorWindowSize)
        size = LocatorWindowSize;
    if (size < 0x40 || head[0] != 'M' || head[1] != 'Z')
        return 0;
    // Every bound below is checked by subtraction, so that offsets read
    // from a hostile file cannot wrap around.
    unsigned nt = LoadLe32(head + 0x3C);
    if (nt > size || size - nt < OptionalHeaderOffset + 2)
        return 0;
    // PE32+ keeps its image base in 8 bytes, which moves the data
    // directories 16 bytes further than in PE32.
    unsigned magic = LoadLe16(head + nt + OptionalHeaderOffset);
    unsigned directoryCount;
    if (magic == Pe32Magic)
        directoryCount = Pe32DirectoryCount;
    else if (magic == Pe32PlusMagic)
        directoryCount = Pe32PlusDirectoryCount;
    else
        return 0;
    unsigned firstDirectory = directoryCount + 4;
    if (size - nt < OptionalHeaderOffset + firstDirectory)
        return 0;
    unsigned count = LoadLe16(head + nt + 6);
    unsigned directories = LoadLe32(head + nt + OptionalHeaderOffset + directoryCount);
    unsigned table = nt + OptionalHeaderOffset + firstDirectory;
    if (directories > (size - table) / 8)
        return 0;
    table += directories * 8;
    for (unsigned i = 0; i < count; ++i) {
        unsigned at = table + i * 40;
        if (at > size || size - at < 40)
            return 0;
        const unsigned char *h = head + at;
        if (h[0] == '.' && h[1] == 'K' && h[2] == 'E' && h[3] == 'S' && h[4] == 'T' && h[5] == 0) {
            section->HeaderOffset = at;
            section->RawSize = LoadLe32(h + 16);
            section->RawPointer = LoadLe32(h + 20);
            return 1;
        }
    }
    return 0;
}
