// The one settings record of a run, filled at start-up from the payload
// header or from the settings file beside the program, and the one way to
// the settings texts that are read only when they are needed. Pure: no
// Windows headers, so kestpack shares the record and the key names.
#pragma once

enum { SettingsTextSize = 256 };

// The runtime installers a package may name, in the order of their URLs in
// the payload and of their settings keys.
enum RuntimeEntry {
    RuntimeEntry9X,
    RuntimeEntryNT,
    RuntimeEntryDotNet,
    RuntimeEntryDotNetUpdate,
    RuntimeEntryCount
};

// The two parts of CharSize.
enum { CharSizePoints = 0x7F, CharSizeAlwaysPrompt = 0x80 };

struct InstallerSettingsRecord {
    char PackageFileName[SettingsTextSize];
    char ProductCode[SettingsTextSize];
    char ProductVersion[SettingsTextSize];
    char TransformMSI[SettingsTextSize];
    char ProductName[SettingsTextSize];
    char CharFont[SettingsTextSize];
    unsigned char CharSet;
    unsigned char CharSize; // bits 0-6 point size; bit 7 always ask the language
    unsigned char PasswordLength;
    unsigned char StoredPassword[SettingsTextSize];
    unsigned char DelayReboot;
    int RemovePrevious;
    int RuntimeSize9X, RuntimeSizeNT, RuntimeSizeDotNet, RuntimeSizeDotNetUpdate;
    unsigned DownloadSize9X, DownloadSizeNT, DownloadSizeDotNet, DownloadSizeDotNetUpdate;
    int StreamSizeNT;
    int StreamSize9X;
    unsigned StreamSizeMSI;
    unsigned TotalFileSize;
    unsigned RuntimeVersionMS; // major << 16 | minor
    unsigned RuntimeVersionLS; // build << 16 | revision
    int LanguageIndex;         // 0: the default language, k: the k-th further one
};

extern InstallerSettingsRecord InstallerSettings;

// 1 when the required runtime is .NET rather than Windows Installer.
extern int DotNetMode;

// Path of the settings file: modulePath with its extension, if the file
// name has one, replaced by ".ini", or ".ini" appended when it has none.
// A '.' in a folder name is not an extension. Cut to capacity.
void MakeSettingsPath(char *out, unsigned capacity, const char *modulePath);

// The section of the settings file, and of kestpack's INI, that holds them.
extern const char SettingsSection[];

// The keys of the settings held in InstallerSettings, as the settings file
// and kestpack's INI spell them; the numbered keys take 1, 2, ... after
// their stem.
extern const char KeyProductName[];
extern const char KeyProductCode[];
extern const char KeyProductVersion[];
extern const char KeyProductFile[];
extern const char KeyTransformMSI[];
extern const char KeyCharFont[];
extern const char KeyCharSet[];
extern const char KeyCharSize[];
extern const char KeyKestInitLangAlwaysPrompt[];
extern const char KeyRuntimeVersion[];
extern const char KeyRuntimeUpdateVersion[];
extern const char KeyRuntime9X[];
extern const char KeyRuntimeNT[];
extern const char KeyRuntimeDotNet[];
extern const char KeyRuntimeDotNetUpdate[];
extern const char KeyRuntimeSize9X[];
extern const char KeyRuntimeSizeNT[];
extern const char KeyRuntimeSizeDotNet[];
extern const char KeyRuntimeSizeDotNetUpdate[];
extern const char KeyDelayReboot[];
// The source and the size key of each RuntimeEntry.
extern const char *const RuntimeKeys[RuntimeEntryCount];
extern const char *const RuntimeSizeKeys[RuntimeEntryCount];
// The runtime installer's switches of a settings file.
extern const char KeyInstMsiCmdLine[];
extern const char KeyRemovePrevious[];
extern const char KeyLanguageStem[];
extern const char KeyLanguageFileStem[];

// The settings texts that are not held in InstallerSettings: read from the
// payload or the settings file at the moment they are needed. The order of
// the message texts is that of the payload's text region.
enum SettingText {
    SettingCmdLine,
    SettingAdminError,
    SettingExistError,
    SettingSpaceError,
    SettingCRCError,
    SettingReboot,
    SettingInternet,
    SettingExternalPackagePath,
    SettingLanguagePrompt,
    SettingFirstLanguage,
    // A runtime installer that is not the file its pin names. Only a
    // settings file holds a text of its own: the payload has no place.
    SettingHashError,
    SettingTextCount
};

// The settings-file key of each SettingText; null where a settings file
// has none.
extern const char *const SettingTextKey[SettingTextCount];

// Reads setting `which` into out (capacity bytes, cut to fit, always
// terminated; the empty text when it is not set) from whichever source this
// run has: the payload (OwnFile's position is kept) or the settings file.
void ReadSettingText(SettingText which, char *out, unsigned capacity);

// Reads the further language entry `index` (1, 2, ...) likewise: from the
// payload's language block, or the settings file's key "Language<index>".
// The empty text ends the list. OwnFile's position moves: every reader of
// the payload seeks to its item itself.
void ReadLanguageEntry(int index, char *out, unsigned capacity);
