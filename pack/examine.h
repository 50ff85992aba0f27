// kestpack inspect and extract: a packed installer read back with the
// stub's own header decoder, every stream checked against its CRC-32.
#pragma once
#include "pack/identity.h"
#include "payload/layout.h"
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct StreamReport {
    enum Status { Ok, Corrupt, Truncated, Malformed, NotVerified };
    std::string Name;      // what the stream is: "package", "transform 2", "runtime-nt" ...
    std::string FileName;  // the name extract gives it
    uint64_t Offset = 0;   // of its first byte in the file
    uint32_t Size = 0;     // recorded size, trailer included
    bool Scrambled = false;
    Status State = Ok;
    uint32_t StoredCrc = 0, ComputedCrc = 0;
};

struct PayloadReport {
    std::string File;
    uint64_t FileLength = 0;
    std::string Architecture; // of the stub: "x86" (PE32) or "x64" (PE32+)
    PayloadSection Section{};
    InstallerSettingsRecord Settings{};
    PayloadHeaderRecord Header{};
    int DotNetMode = 0;
    std::string Texts[LengthInternet - LengthCmdLine + 1]; // CmdLine ... Internet
    std::string ExternalPackagePath;
    std::string Urls[RuntimeEntryCount];   // as stored, the pin included
    std::string Pins[RuntimeEntryCount];   // the SHA-256 the pin names, or empty
    std::string LanguagePrompt, FirstLanguage;
    std::vector<std::string> Languages;
    uint64_t StreamsOffset = 0; // where the stub's position stands after the header
    std::vector<StreamReport> Streams;
    std::vector<std::string> Problems; // every finding of corruption
    std::vector<std::string> Notes;    // streams that extract saves under another name
    bool PasswordChecked = false;      // a given password matched
    // The identity compared with the carried package's Property table, by
    // IdentityField: where each stored value came from ("package" where
    // the package says the same, "ini" where it differs or is not
    // carried, "unknown" where it could not be read), and the package's
    // values. UpgradeCode and ProductLanguage are the package's alone.
    std::string IdentitySource[IdentityFieldCount];
    std::string PackageValues[IdentityFieldCount];
    std::string IdentityNote; // why the package was not compared, if it was not
};

// Reads and checks the payload of file, and compares the identity with the
// carried package's. With a password, scrambled streams
// are descrambled and checked; a password that does not match throws
// PackError. With extractDir, every stream that checks out is written there
// under its FileName (a protected installer then needs its password).
// FileNames are distinct, compared without regard to case: a stream whose
// name is unsafe or already taken gets another one, and Notes says so.
// Throws PackError when file is no packed installer at all.
PayloadReport InspectInstaller(const std::filesystem::path &file,
                               const std::optional<std::string> &password,
                               const std::filesystem::path *extractDir);

void PrintReport(std::ostream &out, const PayloadReport &report);
// One JSON object. Payload texts are 8-bit ANSI: each byte is written as the
// code point of the same value (U+0000-U+00FF), so that scripts get the
// exact bytes back by encoding as Latin-1.
void PrintReportJson(std::ostream &out, const PayloadReport &report);
