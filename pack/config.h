// The pack INI: the settings-file keys of [KestInstaller], plus [KestPack]
// for what only a packed installer has, turned into a checked plan of the
// payload. Everything that can be refused is refused here, before anything
// is written.
#pragma once
#include "pack/identity.h"
#include "payload/layout.h"
#include "payload/sha256.h"
#include <filesystem>
#include <string>
#include <vector>

struct RuntimeSource {
    std::string Url;             // an "http://" address with its pin, if any, or empty
    unsigned DownloadSize = 0;   // the download's expected size, with a URL
    std::filesystem::path File;  // an installer carried as a stream, or empty
};

// Where a value of the product's identity came from.
enum class IdentityOrigin {
    Absent,  // neither the INI nor the package gives it
    Ini,     // the INI, where the package says the same or is not read
    Package, // the package: the INI leaves the key out
    IniKept  // the INI, which differs from the package (--keep-ini-identity)
};

// Text k of the header's text region is Texts[k - LengthCmdLine].
enum { TextRegionCount = LengthInternet - LengthCmdLine + 1 };

struct PackPlan {
    std::filesystem::path Ini;
    unsigned RuntimeVersionMS = 0, RuntimeVersionLS = 0;
    unsigned char DelayReboot = 0, CharSet = 0, CharSize = 8;
    std::string PackageFileName, ProductCode, ProductVersion, TransformMSI;
    std::string CharFont = "MS Sans Serif", ProductName;
    std::string Password;
    std::string Texts[TextRegionCount];
    std::string ExternalPackagePath;
    RuntimeSource Runtimes[RuntimeEntryCount]; // by RuntimeEntry
    std::string LanguagePrompt, FirstLanguage;
    std::vector<std::string> Languages;        // the further entries, in order
    std::filesystem::path ProductFile;         // empty when the package is external
    std::vector<std::filesystem::path> LanguageFiles; // one transform per further entry
    bool SizeCheck = true;
    // Checked against the package like the other identity keys, never stored.
    std::string UpgradeCode, ProductLanguage;
    IdentityOrigin Origins[IdentityFieldCount] = {};

    // The required runtime is .NET: a .NET entry is given.
    bool DotNet() const;
};

// Reads and checks the pack INI at ini. Paths in it are relative to its
// folder. Throws PackError naming the file, section and key of the first
// problem. Keys that have no effect in a packed installer, and downloads
// without a SHA-256 pin, are reported in warnings.
//
// A carried package (not a TransformMSI) states its identity in its
// Property table: a key that the INI leaves out is filled from there, and
// one that differs is refused, naming both values, unless keepIniIdentity
// (then warned about). A language transform made for another product than
// that package is refused.
PackPlan ReadPackPlan(const std::filesystem::path &ini, std::vector<std::string> *warnings,
                      bool keepIniIdentity = false);

// The typical checks of a stored text, shared with the inspector: 1 when an
// "ExistError" text holds exactly five "%s" and no other conversion.
bool ExistErrorFormatIsSafe(const std::string &text);

// The pin after a runtime's source, read as the stub reads it: with one,
// *source loses it and *digest gets its 64 lower-case hexadecimal digits.
DigestPin ReadDigestPin(std::string *source, std::string *digest);
