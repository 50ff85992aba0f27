// The byte layout of the embedded payload, the one definition that the
// stub's reader and kestpack's writer and inspector share. Pure: no
// Windows headers. All integers in the payload are little-endian.
#pragma once
#include "payload/payload.h"
#include "common/settings.h"

enum {
    LocatorWindowSize = 1536,      // the locator reads no further into the file
    SettingsModeRawSize = 512,     // the .KEST section of the program as built
    EmbeddedRawSizeMinimum = 1024, // a raw size from here on carries a payload
    SectionMarker = 0x12345678,    // first word of the section as built
    FixedBlockSize = 36,           // items 1-9
    HeadStringCount = 4,           // items 12-15
    StreamTrailerSize = 4,         // the CRC-32 after a stream's data
    LanguageEntryMaximum = 520     // bytes, NUL included, of one language entry
};

// The u32 slots of the fixed block (items 1-9), in file order.
enum FixedField {
    FixedReserved1,
    FixedStreamSizeNT,
    FixedTotalFileSize,
    FixedRuntimeVersionMS,
    FixedRuntimeVersionLS,
    FixedStreamSize9X,
    FixedStreamSizeMSI,
    FixedReserved8,
    FixedReserved9,
    FixedFieldCount
};

// The four head strings (items 12-15), in file order.
enum HeadString {
    HeadPackageFileName,
    HeadProductCode,
    HeadProductVersion,
    HeadTransformMSI
};

// Byte offsets of the header items from the payload's first byte. Every
// position follows from the head lengths and the length table alone.
struct PayloadLayout {
    unsigned DelayReboot;            // item 10
    unsigned HeadLengths;            // item 11
    unsigned HeadStrings;            // item 12; 13-15 follow by their lengths
    unsigned LengthTable;            // item 16
    unsigned CaptionBlock;           // item 17
    unsigned Password;               // item 18
    unsigned TextRegion;             // item 19
    unsigned ExternalPackagePath;    // item 20
    unsigned RuntimeUrl[RuntimeEntryCount];   // items 21, 23, 25, 27
    unsigned DownloadSize[RuntimeEntryCount]; // items 22, 24, 26, 28
    unsigned LanguagePrompt;         // item 29, the end of items 1-28
    unsigned FirstLanguage;          // item 30
    unsigned FurtherLanguages;       // item 31
};

// Little-endian fields, byte by byte: the same on any byte order and
// alignment. Inline, so that the stub carries only those it reads.
inline unsigned LoadLe16(const unsigned char *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

inline unsigned LoadLe32(const unsigned char *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8 | unsigned(p[2]) << 16 | unsigned(p[3]) << 24;
}

inline void StoreLe16(unsigned char *p, unsigned value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
}

inline void StoreLe32(unsigned char *p, unsigned value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
    p[2] = (unsigned char)(value >> 16);
    p[3] = (unsigned char)(value >> 24);
}

// The length-table byte that holds the length of a runtime entry's URL.
HeaderLength RuntimeUrlLength(RuntimeEntry entry);

// Offset of the length table (item 16): the fixed block, DelayReboot, the
// head lengths and the four head strings come before it.
unsigned LengthTableOffset(const unsigned char headLengths[HeadStringCount]);

// Fills layout from the head lengths (item 11) and the length table.
void LayoutPayloadHeader(const unsigned char headLengths[HeadStringCount],
                         const unsigned char lengths[HeaderLengthCount], PayloadLayout *layout);

// Offset of text `index` (LengthCmdLine ... LengthInternet) from the start
// of the text region: the sum of the lengths of the texts before it.
unsigned TextOffsetInRegion(const unsigned char lengths[HeaderLengthCount], HeaderLength index);

// Decodes header items 1-28 from data, which holds size bytes from the
// payload's first byte, itself at file offset base. Fills the fields of
// settings that the header carries (the texts, the URLs and the external
// path stay in the file: header gets the length table and their file
// offsets), sets RemovePrevious, and sets *dotNetMode when the header asks
// for the .NET runtime (never clears it). Returns the offset of the
// language prompt (item 29), or 0 when items 1-28 run past size, leaving
// settings incomplete.
unsigned DecodePayloadHeader(const unsigned char *data, unsigned size, long base,
                             InstallerSettingsRecord *settings, PayloadHeaderRecord *header,
                             int *dotNetMode);

// The PE facts the section search and kestpack read: the optional header
// follows the 4-byte signature and the 20-byte file header; its magic tells
// PE32 from PE32+, and with it where NumberOfRvaAndSizes lies.
enum {
    OptionalHeaderOffset = 24,     // from "PE\0\0"
    Pe32Magic = 0x10B,
    Pe32PlusMagic = 0x20B,
    Pe32DirectoryCount = 92,       // NumberOfRvaAndSizes, from the optional header
    Pe32PlusDirectoryCount = 108
};

// Where the .KEST section header lies and what it says.
struct PayloadSection {
    unsigned HeaderOffset; // file offset of the 40-byte section header
    unsigned RawSize;      // SizeOfRawData
    unsigned RawPointer;   // PointerToRawData
};

// Searches the first size bytes of a PE32 or PE32+ file (only
// LocatorWindowSize of them count) for the first section named exactly
// ".KEST". The DOS and NT
// headers, the section table up to the match and the match itself must
// lie inside those bytes; the "PE" signature is not consulted. Returns 1
// and fills section when found, else 0.
int FindPayloadSection(const unsigned char *head, unsigned size, PayloadSection *section);
