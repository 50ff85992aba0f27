// The one settings record of a run, filled at start-up from the payload
// header or from the settings file beside the program.
#pragma once

enum { SettingsTextSize = 256 };

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

// The command line, the message texts, the runtime sources and the language
// list are not held here: they are read from the payload or the settings
// file at the moment they are needed.
extern InstallerSettingsRecord InstallerSettings;

// 1 when the required runtime is .NET rather than Windows Installer.
extern int DotNetMode;

// Path of the settings file: modulePath with its extension, if the file
// name has one, replaced by ".ini", or ".ini" appended when it has none.
// A '.' in a folder name is not an extension. Cut to capacity.
void MakeSettingsPath(char *out, unsigned capacity, const char *modulePath);

// Splits a version text 'a.b.c.d' into (a << 16 | b) and (c << 16 | d).
// Missing components count as 0; the empty text gives 0 and 0.
void ParseVersionText(const char *text, unsigned *ms, unsigned *ls);

// A runtime requirement of major version 1 or less cannot defer its
// restart: clears DelayReboot then. No requirement keeps it.
void ApplyDelayRebootRule(InstallerSettingsRecord *settings);
