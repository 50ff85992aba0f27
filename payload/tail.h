// The tail of the payload, after header items 1-28: the language block,
// the two runtime streams, the package stream and the transforms. The one
// walker of that layout, which the stub and kestpack share. Pure: no
// Windows headers; the file is read through a function the caller gives.
#pragma once
#include "payload/layout.h"

enum {
    // The stub addresses its own file with signed 32-bit offsets.
    PayloadOffsetLimit = 0x7FFFFFFF,
    LanguageLengthSize = 2, // before each further language entry
    TransformSizeSize = 4   // before each transform stream
};

// Reads count bytes at offset of the installer into out; returns 1 when
// all of them were there.
typedef int (*PayloadReadFn)(void *source, unsigned long offset, unsigned char *out,
                             unsigned count);

// File offsets of the tail's items. A stream's size counts its CRC trailer;
// a size of 0 means the payload does not carry that stream.
struct PayloadTailRecord {
    unsigned long LanguagePrompt;   // item 29
    unsigned long FirstLanguage;    // item 30
    unsigned long FurtherLanguages; // item 31: the first entry's length field
    unsigned LanguageCount;         // entries in item 31
    // The runtime streams in file order: 9X then NT, or in .NET mode the
    // .NET runtime then its update.
    unsigned long Runtime[2];
    unsigned RuntimeSize[2];
    unsigned long Package; // absent when the header names an external package
    unsigned PackageSize;  // 0 then
    unsigned long Transforms; // the first transform's size field
    unsigned long Limit;      // no item may end past this offset
};

// Walks the tail from headerEnd, the file offset where items 1-28 end,
// reading the further language entries' lengths. Returns 1 and fills tail;
// 0 when a length cannot be read or an item would end past limit. The stub
// gives PayloadOffsetLimit, so that no hostile size can move a reader
// backwards; kestpack gives no limit and reports each stream that runs past
// the end of the file.
int WalkPayloadTail(unsigned long headerEnd, unsigned long limit,
                    const PayloadHeaderRecord *header,
                    const InstallerSettingsRecord *settings, int dotNetMode,
                    PayloadReadFn read, void *source, PayloadTailRecord *tail);

// The further language entry `index` (1 ... LanguageCount): the offset of
// its text and its length. Returns 0 for any other index, or when it cannot
// be read.
int FindLanguageEntry(const PayloadTailRecord *tail, unsigned index, PayloadReadFn read,
                      void *source, unsigned long *offset, unsigned *length);

// The transform stream `index` (1, 2, ...): the offset of its data and its
// recorded size. Returns 0 when a size field cannot be read or a stream
// would end past the walk's limit.
int FindTransform(const PayloadTailRecord *tail, unsigned index, PayloadReadFn read, void *source,
                  unsigned long *offset, unsigned *size);
