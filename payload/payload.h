// The embedded payload: its locator, the header items that are read again
// later, and the flags of its readers.
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
