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
// set when the section holds 1,024 bytes or more. Returns 0 otherwise.
int LocatePayload(void);

// Embedded mode: reads header items 1-28 from OwnFile, which stands at the
// payload, into InstallerSettings and PayloadHeader, and leaves OwnFile at
// the language prompt (item 29). A header that runs past the end of the
// file ends the process with "Corrupt installation detected." and code 0.
void ReadPayloadHeader(void);

// Moves OwnFile from the language prompt past the prompt and the first
// language entry (items 29 and 30), for a payload without further ones.
void SkipLanguagePrompt(void);

// Reads the length bytes stored at file offset into out (capacity bytes,
// cut to fit, always terminated); OwnFile's position is kept, so the
// forward reading of the payload is not disturbed.
void ReadPayloadString(long offset, unsigned length, char *out, unsigned capacity);

// Text `index` (LengthCmdLine ... LengthInternet) of the header's text region.
void ReadPayloadText(HeaderLength index, char *out, unsigned capacity);

// Length of the program's own file; OwnFile's position is kept.
unsigned long OwnFileLength(void);

// Moves OwnFile past both runtime streams, onto the package stream, when no
// runtime is installed.
void SkipRuntimeStreams(void);
