#include "pack/config.h"
#include "pack/compound.h"
#include "pack/error.h"
#include "pack/files.h"
#include "pack/ini.h"
#include "common/decimal.h"
#include "common/text.h"
#include "driver/settings.h"
#include "payload/sha256.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

const char *const Installer = SettingsSection;
const char Pack[] = "KestPack";

// The message texts and CmdLine, in the order of the payload's text region.
const char *const *const TextKeys = SettingTextKey + SettingCmdLine;

// The longest text that a one-byte length (counting the NUL) can store.
const size_t ByteLengthText = 254;

class Reader {
public:
    explicit Reader(const fs::path &path) : ini_(path), folder_(path.parent_path()) {}

    const IniFile &Ini() const { return ini_; }

    [[noreturn]] void Fail(const char *section, const std::string &key,
                           const std::string &what) const
    {
        std::string where = ini_.Path().string() + ": [" + section + "]";
        if (!key.empty())
            where += " " + key;
        throw PackError(where + ": " + what);
    }

    std::string Text(const char *section, const std::string &key,
                     const std::string &fallback = "") const
    {
        const IniEntry *e = ini_.Find(section, key);
        return e ? e->Value : fallback;
    }

    bool Has(const char *section, const std::string &key) const
    {
        return ini_.Find(section, key) != nullptr;
    }

    // A text stored with a one-byte length.
    std::string ShortText(const char *section, const std::string &key,
                          const std::string &fallback = "") const
    {
        std::string value = Text(section, key, fallback);
        if (value.size() > ByteLengthText)
            Fail(section, key, std::to_string(value.size()) + " bytes is too long: at most " +
                                   std::to_string(ByteLengthText) + " fit");
        return value;
    }

    // An integer key, read as GetPrivateProfileInt reads it: an optional
    // '-' and decimal digits, or "0x" and hexadecimal ones. What it would
    // read otherwise (0 for a word, the leading digits of "10pt", and
    // whatever a given Windows makes of "+5") is refused, not guessed.
    long Integer(const char *section, const std::string &key, long fallback) const
    {
        const IniEntry *e = ini_.Find(section, key);
        if (!e || e->Value.empty())
            return fallback;
        const std::string &v = e->Value;
        if (v[0] == '+')
            Fail(section, key, "'" + v + "': the profile functions of Windows do not all "
                                         "read a '+' sign; write the number without it");
        if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
            if (v.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos ||
                v.size() > 10)
                Fail(section, key, "'" + v + "' is not a hexadecimal number");
            return long(std::stoul(v.substr(2), nullptr, 16));
        }
        size_t i = v[0] == '-' ? 1 : 0;
        if (i == v.size() || v.find_first_not_of("0123456789", i) != std::string::npos ||
            v.size() - i > 9)
            Fail(section, key, "'" + v + "' is not a decimal number");
        return std::stol(v);
    }

    // A path relative to the INI. The same INI drives the stub in
    // settings-file mode, where Windows takes '\\' as the separator.
    fs::path File(const char *section, const std::string &key, const std::string &value) const
    {
        fs::path path = folder_ / PathFromAnsi(value);
        std::error_code ec;
        if (!fs::is_regular_file(path, ec))
            Fail(section, key, "file not found: " + path.string());
        return path;
    }

private:
    IniFile ini_;
    fs::path folder_;
};

bool IsHttp(const std::string &value)
{
    return TextStartsWithNoCase(value.c_str(), "http://");
}

bool HasScheme(const std::string &value)
{
    size_t colon = value.find("://");
    return colon != std::string::npos && colon > 1 &&
           value.find_first_of("\\/") > colon; // "C:\x" and "dir/x://" are paths
}

// Collects Name1, Name2, ... up to the first missing or empty one, and
// refuses a later one after that gap: the stub's list ends at the gap.
std::vector<std::string> Numbered(const Reader &r, const char *section, const std::string &name)
{
    std::vector<std::string> values;
    for (int k = 1;; ++k) {
        std::string value = r.Text(section, name + std::to_string(k));
        if (value.empty()) {
            for (int later = k + 1; later < k + 64; ++later)
                if (!r.Text(section, name + std::to_string(later)).empty())
                    r.Fail(section, name + std::to_string(later),
                           "follows a missing or empty " + name + std::to_string(k) +
                               ", where the list ends");
            return values;
        }
        values.push_back(value);
    }
}

void CheckPackageFileName(const Reader &r, const std::string &name)
{
    const char *key = "PackageFileName";
    if (IsDeviceName(name.c_str()))
        r.Fail(Pack, key, "'" + name + "' is a device name on Windows; choose another name");
    if (name.find_first_of("\\/:") != std::string::npos)
        r.Fail(Pack, key, "'" + name + "' holds a path; give a file name only");
    if (name.find("..") != std::string::npos)
        r.Fail(Pack, key, "'" + name + "' holds \"..\"; give a plain file name");
    // The stub replaces the last three characters by "MSI" or "MST".
    if (name.size() < 5 || name[name.size() - 4] != '.')
        r.Fail(Pack, key, "'" + name + "' needs a three-letter extension such as .msi");
}

// The [KestPack] key that pins runtime entry i, such as RuntimeNTSHA256.
std::string PinKey(int i)
{
    return std::string(RuntimeKeys[i]) + "SHA256";
}

std::string DigestText(const unsigned *words)
{
    char text[Sha256TextSize + 1];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 8 * i, 9, "%08x", words[i]);
    return text;
}

std::string FileDigestText(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    Sha256Context context;
    Sha256Start(&context);
    std::vector<char> chunk(1 << 16);
    while (in.read(chunk.data(), std::streamsize(chunk.size())) || in.gcount() > 0)
        Sha256Add(&context, reinterpret_cast<const unsigned char *>(chunk.data()),
                  unsigned(in.gcount()));
    Sha256Finish(&context);
    return DigestText(context.Hash);
}

// The SHA-256 that runtime entry i must have: given by its [KestPack] key,
// by "#sha256=" after its source (cut from value), or by both alike. The
// empty text when neither gives one.
std::string ReadRuntimePin(const Reader &r, int i, std::string *value)
{
    std::string fromKey, fromSource;
    if (r.Has(Pack, PinKey(i))) {
        std::string given = r.Text(Pack, PinKey(i));
        std::string marked = "#sha256=" + given;
        if (ReadDigestPin(&marked, &fromKey) != PinGiven)
            r.Fail(Pack, PinKey(i), "'" + given + "' is no SHA-256: give the installer's 64 "
                                                  "hexadecimal digits");
    }
    if (ReadDigestPin(value, &fromSource) == PinMalformed)
        r.Fail(Installer, RuntimeKeys[i], "'" + value->substr(value->rfind('#')) +
                                              "' is no pin: write #sha256= and the installer's "
                                              "64 hexadecimal digits");
    if (!fromKey.empty() && !fromSource.empty() && fromKey != fromSource)
        r.Fail(Pack, PinKey(i), "disagrees with the pin written after " +
                                    std::string(RuntimeKeys[i]));
    return fromKey.empty() ? fromSource : fromKey;
}

std::set<std::string> KnownInstallerKeys()
{
    std::set<std::string> keys = {
        KeyRuntimeUpdateVersion, KeyRuntimeVersion, KeyCharFont, KeyCharSet, KeyCharSize,
        KeyKestInitLangAlwaysPrompt, KeyProductName, KeyProductCode, KeyProductVersion,
        KeyTransformMSI, KeyDelayReboot, KeyProductFile, SettingTextKey[SettingLanguagePrompt],
        SettingTextKey[SettingFirstLanguage]};
    for (int k = 0; k < TextRegionCount; ++k)
        keys.insert(TextKeys[k]);
    for (int i = 0; i < RuntimeEntryCount; ++i) {
        keys.insert(RuntimeKeys[i]);
        keys.insert(RuntimeSizeKeys[i]);
    }
    keys.insert(IdentityKeys, IdentityKeys + IdentityFieldCount);
    return keys;
}

bool IsNumberedKey(const std::string &key, const char *name)
{
    size_t n = std::strlen(name);
    return key.size() > n && SameName(key.substr(0, n), name) &&
           key.find_first_not_of("0123456789", n) == std::string::npos;
}

void CheckKeys(const Reader &r, std::vector<std::string> *warnings)
{
    const std::string file = r.Ini().Path().string();
    if (const IniSection *s = r.Ini().Section(Installer)) {
        std::set<std::string> known = KnownInstallerKeys();
        for (const IniEntry &e : s->Entries) {
            bool isKnown = false;
            for (const std::string &k : known)
                isKnown = isKnown || SameName(k, e.Key);
            if (SameName(e.Key, KeyRemovePrevious))
                warnings->push_back(file + ": [KestInstaller] Remove Previous: a packed installer "
                                           "always removes a different installed version");
            else if (SameName(e.Key, KeyInstMsiCmdLine))
                warnings->push_back(file + ": [KestInstaller] InstMsi CmdLine: a packed installer "
                                           "runs the runtime installer with its built-in switches");
            else if (SameName(e.Key, SettingTextKey[SettingHashError]))
                warnings->push_back(file + ": [KestInstaller] " + e.Key + ": a packed installer "
                                           "has no place for this text and shows its built-in "
                                           "one");
            else if (!isKnown && !IsNumberedKey(e.Key, KeyLanguageStem) &&
                     !IsNumberedKey(e.Key, KeyLanguageFileStem))
                warnings->push_back(file + ": [KestInstaller] " + e.Key +
                                    ": unknown key, ignored");
        }
    }
    for (const IniEntry &e : r.Ini().IgnoredSections())
        warnings->push_back(file + ": line " + std::to_string(e.Line) + ": [" + e.Key +
                            "] appears again; Windows reads only the first section of a name, "
                            "so the keys of this one are ignored");
    if (const IniSection *s = r.Ini().Section(Pack)) {
        for (const IniEntry &e : s->Entries) {
            // A misspelt Password must not quietly give an open installer.
            bool pin = false;
            for (int i = 0; i < RuntimeEntryCount; ++i)
                pin = pin || SameName(e.Key, PinKey(i));
            if (!pin && !SameName(e.Key, "Password") && !SameName(e.Key, "PackageFileName") &&
                !SameName(e.Key, "ExternalPackagePath") && !SameName(e.Key, "SizeCheck"))
                r.Fail(Pack, e.Key, "unknown key (known: Password, PackageFileName, "
                                    "ExternalPackagePath, SizeCheck, Runtime9XSHA256, "
                                    "RuntimeNTSHA256, RuntimeDotNetSHA256, "
                                    "RuntimeDotNetUpdateSHA256)");
        }
    }
}

void ReadRuntimes(const Reader &r, PackPlan &plan, std::vector<std::string> *warnings)
{
    for (int i = 0; i < RuntimeEntryCount; ++i) {
        RuntimeSource &source = plan.Runtimes[i];
        std::string value = r.Text(Installer, RuntimeKeys[i]);
        std::string size = r.Text(Installer, RuntimeSizeKeys[i]);
        std::string pin = ReadRuntimePin(r, i, &value);
        if (IsHttp(value)) {
            // The stub never sends a fragment: one that is no pin is a
            // pin mistyped.
            if (value.find('#') != std::string::npos)
                r.Fail(Installer, RuntimeKeys[i],
                       "'" + value.substr(value.find('#')) + "' is no pin, and a URL's "
                       "fragment is never sent: write #sha256= and the installer's 64 "
                       "hexadecimal digits");
            if (!pin.empty())
                value += "#sha256=" + pin;
            else
                warnings->push_back(r.Ini().Path().string() + ": [KestInstaller] " +
                                    RuntimeKeys[i] + ": downloads over plain HTTP without a "
                                    "SHA-256 pin, so whoever sits between the user and the "
                                    "server chooses the program that runs as administrator; "
                                    "give [KestPack] " + PinKey(i));
            if (value.size() > ByteLengthText)
                r.Fail(Installer, RuntimeKeys[i],
                       std::to_string(value.size()) + " bytes" +
                           (pin.empty() ? "" : " with its pin") + " is too long: at most " +
                           std::to_string(ByteLengthText) + " fit");
            int expected = ParseDecimal(size.c_str());
            // The settings-file run downloads only with a size above 1, so
            // the same INI must say so here.
            if (expected <= 1)
                r.Fail(Installer, RuntimeSizeKeys[i],
                       "the URL in " + std::string(RuntimeKeys[i]) +
                           " needs its download size in bytes (a number above 1)");
            source.Url = value;
            source.DownloadSize = unsigned(expected);
        } else {
            if (!size.empty())
                r.Fail(Installer, RuntimeSizeKeys[i],
                       "a runtime size is given without a URL in " + std::string(RuntimeKeys[i]));
            if (value.empty()) {
                if (!pin.empty())
                    r.Fail(Pack, PinKey(i), "pins no runtime: " + std::string(RuntimeKeys[i]) +
                                                " is empty");
                continue;
            }
            if (HasScheme(value))
                r.Fail(Installer, RuntimeKeys[i], "'" + value + "': only http:// URLs download");
            source.File = r.File(Installer, RuntimeKeys[i], value);
            // A carried installer is checked here, once: its stream has a
            // CRC of its own.
            if (!pin.empty()) {
                std::string actual = FileDigestText(source.File);
                if (actual != pin)
                    r.Fail(Pack, PinKey(i), "the SHA-256 of " + source.File.string() + " is " +
                                                actual + ", not the pinned " + pin);
            }
        }
    }
    auto given = [&](int i) { return !plan.Runtimes[i].Url.empty() || !plan.Runtimes[i].File.empty(); };
    bool installer = given(RuntimeEntry9X) || given(RuntimeEntryNT);
    bool dotNet = given(RuntimeEntryDotNet) || given(RuntimeEntryDotNetUpdate);
    if (installer && dotNet)
        r.Fail(Installer, given(RuntimeEntryDotNet) ? KeyRuntimeDotNet : KeyRuntimeDotNetUpdate,
               "cannot be combined with Runtime9X or RuntimeNT: an installation requires either "
               "the Windows Installer runtime or the .NET runtime");
    if (given(RuntimeEntryDotNetUpdate) && !given(RuntimeEntryDotNet))
        r.Fail(Installer, KeyRuntimeDotNetUpdate, "needs RuntimeDotNet");
}

PackageIdentity ReadIdentity(const Reader &r, const fs::path &package)
{
    try {
        FileSource source(package);
        return ReadPackageIdentity(source);
    } catch (const CompoundError &e) {
        r.Fail(Installer, KeyProductFile,
               package.string() + ": cannot read the product's identity: " + e.what());
    }
}

// Fills what the INI leaves out of the identity from the package, and
// refuses what differs from it: a ProductCode or ProductVersion left stale
// after the package was rebuilt would have the stub offer to remove the
// wrong version, or compare against the wrong one.
void ResolveIdentity(const Reader &r, PackPlan &plan, const PackageIdentity *package, bool keep,
                     std::vector<std::string> *warnings)
{
    std::string *values[IdentityFieldCount] = {&plan.ProductCode, &plan.ProductVersion,
                                               &plan.ProductName, &plan.UpgradeCode,
                                               &plan.ProductLanguage};
    const std::string file = r.Ini().Path().string();
    for (int f = 0; f < IdentityFieldCount; ++f) {
        const char *key = IdentityKeys[f];
        std::string &value = *values[f];
        const std::string theirs = package ? package->Values[f] : "";
        IdentityOrigin &origin = plan.Origins[f];
        if (value.empty()) {
            value = theirs;
            origin = theirs.empty() ? IdentityOrigin::Absent : IdentityOrigin::Package;
        } else if (theirs.empty() || SameIdentityValue(IdentityField(f), value, theirs)) {
            origin = IdentityOrigin::Ini;
        } else if (!keep) {
            r.Fail(Installer, key, "'" + value + "' differs from '" + theirs +
                                       "' in the Property table of " + plan.ProductFile.string() +
                                       "; correct the key, leave it out to take the package's "
                                       "value, or give --keep-ini-identity to keep it");
        } else {
            origin = IdentityOrigin::IniKept;
            warnings->push_back(file + ": [KestInstaller] " + key + ": '" + value +
                                "' kept (--keep-ini-identity); the package says '" + theirs + "'");
        }
        if (f <= IdentityProductName && value.size() > ByteLengthText)
            r.Fail(Installer, key, "the package's value of " + std::to_string(value.size()) +
                                       " bytes is too long: at most " +
                                       std::to_string(ByteLengthText) + " fit");
    }
    // Font, product name and an empty third caption, each with its NUL.
    if (plan.CharFont.size() + plan.ProductName.size() + 3 > 255)
        r.Fail(Installer, KeyProductName,
               "together with CharFont too long: the two texts may hold 252 bytes in all");
    for (IdentityField f : {IdentityProductCode, IdentityProductVersion})
        if (plan.Origins[f] == IdentityOrigin::Absent)
            warnings->push_back(file + ": [KestInstaller] " + IdentityKeys[f] +
                                ": empty; the same settings file would not start an "
                                "installation beside the stub");
}

// A language transform made for another product would be applied to this
// one by Windows Installer all the same, or refused at the user's machine.
void CheckTransformProduct(const Reader &r, const std::string &key, const fs::path &transform,
                           const PackageIdentity &package, std::vector<std::string> *warnings)
{
    std::string code;
    try {
        FileSource source(transform);
        code = ReadTransformProductCode(source);
    } catch (const CompoundError &e) {
        r.Fail(Installer, key, transform.string() + ": " + e.what());
    }
    const std::string &ours = package.Values[IdentityProductCode];
    if (code.empty())
        warnings->push_back(r.Ini().Path().string() + ": [KestInstaller] " + key + ": " +
                            transform.string() + " names no product code in its summary "
                            "information; kestpack cannot check that it was made for this "
                            "package");
    else if (!ours.empty() && !SameIdentityValue(IdentityProductCode, code, ours))
        r.Fail(Installer, key, transform.string() + " is a transform of product " + code +
                                   ", not of the package's " + ours);
}

} // namespace

bool PackPlan::DotNet() const
{
    const RuntimeSource &r = Runtimes[RuntimeEntryDotNet];
    return !r.Url.empty() || !r.File.empty();
}

DigestPin ReadDigestPin(std::string *source, std::string *digest)
{
    std::vector<char> text(source->begin(), source->end());
    text.push_back(0);
    unsigned words[8];
    DigestPin pin = TakeDigestPin(text.data(), words);
    if (pin == PinGiven) {
        *source = text.data();
        *digest = DigestText(words);
    }
    return pin;
}

bool ExistErrorFormatIsSafe(const std::string &text)
{
    int strings = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == 's') {
            ++strings;
            ++i;
            continue;
        }
        return false;
    }
    return strings == 5;
}

PackPlan ReadPackPlan(const fs::path &ini, std::vector<std::string> *warnings,
                      bool keepIniIdentity)
{
    Reader r(ini);
    PackPlan plan;
    plan.Ini = ini;
    if (!r.Ini().Section(Installer))
        r.Fail(Installer, "", "section missing");
    CheckKeys(r, warnings);

    std::string version = r.Text(Installer, KeyRuntimeUpdateVersion);
    if (version.empty())
        version = r.Text(Installer, KeyRuntimeVersion);
    ParseVersionText(version.c_str(), &plan.RuntimeVersionMS, &plan.RuntimeVersionLS);

    plan.CharFont = r.ShortText(Installer, KeyCharFont, "MS Sans Serif");
    plan.CharSet = (unsigned char)r.Integer(Installer, KeyCharSet, 0);
    plan.CharSize = (unsigned char)r.Integer(Installer, KeyCharSize, 8);
    if (r.Integer(Installer, KeyKestInitLangAlwaysPrompt, 0))
        plan.CharSize |= 0x80;
    plan.ProductName = r.ShortText(Installer, KeyProductName);
    plan.ProductCode = r.ShortText(Installer, KeyProductCode);
    plan.ProductVersion = r.ShortText(Installer, KeyProductVersion);
    plan.UpgradeCode = r.Text(Installer, IdentityKeys[IdentityUpgradeCode]);
    plan.ProductLanguage = r.Text(Installer, IdentityKeys[IdentityProductLanguage]);
    plan.TransformMSI = r.ShortText(Installer, KeyTransformMSI);
    plan.DelayReboot = (unsigned char)r.Integer(Installer, KeyDelayReboot, 0);

    for (int k = 0; k < TextRegionCount; ++k)
        plan.Texts[k] = r.ShortText(Installer, TextKeys[k]);
    const std::string &exist = plan.Texts[LengthExistError - LengthCmdLine];
    if (!exist.empty() && !ExistErrorFormatIsSafe(exist))
        r.Fail(Installer, "ExistError",
               "must hold exactly five %s (product, installed version, product, new version, "
               "product) and no other % conversion; write %% for a percent sign");

    ReadRuntimes(r, plan, warnings);

    plan.Password = r.ShortText(Pack, "Password");
    for (unsigned char c : plan.Password)
        if (c >= 0x80) {
            warnings->push_back(ini.string() + ": [KestPack] Password: holds non-ASCII "
                                "characters; kestpack upper-cases only a-z, while the stub "
                                "upper-cases what is typed by the rules of the active code "
                                "page, so such a password may never match as typed");
            break;
        }
    plan.ExternalPackagePath = r.ShortText(Pack, "ExternalPackagePath");
    long sizeCheck = r.Integer(Pack, "SizeCheck", 1);
    if (sizeCheck != 0 && sizeCheck != 1)
        r.Fail(Pack, "SizeCheck", "must be 1 (check the file length) or 0 (the file will be "
                                  "signed afterwards)");
    plan.SizeCheck = sizeCheck == 1;

    std::string product = r.Text(Installer, KeyProductFile);
    std::optional<PackageIdentity> identity; // of a carried package
    if (!plan.ExternalPackagePath.empty()) {
        if (!product.empty())
            r.Fail(Installer, KeyProductFile, "cannot be given together with [KestPack] "
                                             "ExternalPackagePath, which names a package that "
                                             "is not carried");
        plan.PackageFileName = r.ShortText(Pack, "PackageFileName");
        if (!plan.PackageFileName.empty())
            CheckPackageFileName(r, plan.PackageFileName);
    } else {
        if (product.empty())
            r.Fail(Installer, KeyProductFile, "missing; name the package to carry (or set "
                                             "[KestPack] ExternalPackagePath)");
        if (HasScheme(product))
            r.Fail(Installer, KeyProductFile, "'" + product + "' is a URL; a packed installer "
                                             "carries its package (name an outside one in "
                                             "[KestPack] ExternalPackagePath)");
        plan.ProductFile = r.File(Installer, KeyProductFile, product);
        CompoundKind kind = ClassifyCompoundFile(plan.ProductFile);
        if (!plan.TransformMSI.empty() && kind != CompoundKind::Transform)
            r.Fail(Installer, KeyProductFile, plan.ProductFile.string() + " is " +
                                                 CompoundKindName(kind) +
                                                 ", but TransformMSI asks for a transform");
        if (plan.TransformMSI.empty() && kind == CompoundKind::NotCompound)
            r.Fail(Installer, KeyProductFile,
                   plan.ProductFile.string() + " is " + CompoundKindName(kind));
        if (plan.TransformMSI.empty())
            identity = ReadIdentity(r, plan.ProductFile);
        plan.PackageFileName =
            r.ShortText(Pack, "PackageFileName", plan.ProductFile.filename().string());
        CheckPackageFileName(r, plan.PackageFileName);
    }
    ResolveIdentity(r, plan, identity ? &*identity : nullptr, keepIniIdentity, warnings);

    plan.LanguagePrompt = r.ShortText(Installer, SettingTextKey[SettingLanguagePrompt]);
    plan.FirstLanguage = r.ShortText(Installer, SettingTextKey[SettingFirstLanguage]);
    plan.Languages = Numbered(r, Installer, KeyLanguageStem);
    std::vector<std::string> files = Numbered(r, Installer, KeyLanguageFileStem);
    if (plan.Languages.size() > 255)
        r.Fail(Installer, "Language256", "too many languages: at most 255 follow the default");
    for (size_t k = 0; k < plan.Languages.size(); ++k)
        if (plan.Languages[k].size() + 1 > LanguageEntryMaximum)
            r.Fail(Installer, KeyLanguageStem + std::to_string(k + 1),
                   "too long: at most " + std::to_string(LanguageEntryMaximum - 1) + " bytes");
    if (plan.Languages.size() > files.size())
        r.Fail(Installer, KeyLanguageFileStem + std::to_string(files.size() + 1),
               "missing: there are more languages (" + std::to_string(plan.Languages.size()) +
                   ") than transforms (" + std::to_string(files.size()) + ")");
    if (files.size() > plan.Languages.size())
        r.Fail(Installer, KeyLanguageStem + std::to_string(plan.Languages.size() + 1),
               "missing: LanguageFile" + std::to_string(plan.Languages.size() + 1) +
                   " has no language entry to select it");
    for (size_t k = 0; k < files.size(); ++k) {
        std::string key = KeyLanguageFileStem + std::to_string(k + 1);
        fs::path file = r.File(Installer, key, files[k]);
        CompoundKind kind = ClassifyCompoundFile(file);
        if (kind != CompoundKind::Transform)
            r.Fail(Installer, key, file.string() + " is " + CompoundKindName(kind) +
                                       ", not a transform");
        if (identity)
            CheckTransformProduct(r, key, file, *identity, warnings);
        plan.LanguageFiles.push_back(file);
    }
    return plan;
}
