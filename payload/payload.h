// The embedded payload: its locator, the header items that are read again
// later, and the flags of its readers. Pure declarations: no Windows headers.
#pragma once

// 1 when the program carries its payload in the .KEST section; 0 in
// settings-file mode. Set once by LocatePayload.
extern int EmbeddedMode;

// The bytes B0-B18 of the header's length table, by meaning.
enum HeaderLength {
    LengthCharSet,
    LengthCharSize,
    LengthCaptionBlock,
    LengthPassword,
    LengthCmdLine,
    LengthAdminError,
    LengthExistError,
    LengthSpaceError,
    LengthCRCError,
    LengthReboot,
    LengthInternet,
    LengthExternalPackagePath,
    LengthRuntime9X,
    LengthRuntimeNT,
    LengthRuntimeDotNet,
    LengthLanguagePrompt,
    LengthFirstLanguage,
    LengthRuntimeDotNetUpdate,
    LanguageCount, // number of further language entries
    HeaderLengthCount
};

// What the header reader keeps for the readers that come after it: the
// length table, and the file offsets of the strings read out of order.
struct PayloadHeaderRecord {
    unsigned char Lengths[HeaderLengthCount];
    long TextRegionOffset;
    long ExternalPackagePathOffset;
    long RuntimeUrlOffset[4]; // 9X, NT, DotNet, DotNetUpdate
};
extern PayloadHeaderRecord PayloadHeader;

// Searches OwnFile, which stands at offset 0, for the .KEST section within
// its first LocatorWindowSize bytes (read into IoBuffer). Returns 1 when
// found: OwnFile then stands at the section's raw data, and EmbeddedMode is
// set when the section holds 1,024 bytes or more. Returns 0 otherwise, and
// when the raw data lies where the program cannot seek.
int LocatePayload(void);

// The places of the tail's items (language block and streams), found by
// ReadPayloadHeader.
extern struct PayloadTailRecord PayloadTail;

// Embedded mode: reads header items 1-28 from OwnFile, which stands at the
// payload, into InstallerSettings and PayloadHeader, and walks the tail
// into PayloadTail. Returns 1; 0 when the header or the tail runs past the
// end of the file or past what the stub can address. Every later reader
// seeks to its item itself.
int ReadPayloadHeader(void);

// Reads the length bytes stored at file offset into out (capacity bytes,
// cut to fit, always terminated); OwnFile's position is kept.
void ReadPayloadString(unsigned long offset, unsigned length, char *out, unsigned capacity);

// Reads count bytes of the program's own file at offset into out; returns
// 1 when all of them were there. OwnFile's position moves. The tail walker
// reads through it.
int ReadOwnFileAt(void *unused, unsigned long offset, unsigned char *out, unsigned count);

// Moves OwnFile to offset; returns 0 when the seek fails.
int SeekOwnFile(unsigned long offset);

// Length of the program's own file; OwnFile's position is kept.
unsigned long OwnFileLength(void);
