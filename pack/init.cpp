#include "pack/init.h"
#include "pack/error.h"
#include "pack/files.h"

namespace fs = std::filesystem;

namespace {

// A value as the profile functions give it back: they drop blanks around
// a value and one pair of matching quotes, so a value that begins or ends
// with either is written inside quotes.
std::string IniValue(const std::string &value)
{
    auto edge = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
    if (!value.empty() && (edge(value.front()) || edge(value.back())))
        return "\"" + value + "\"";
    return value;
}

const char Examples[] =
    "; msiexec's switches: empty shows the package's own dialogs, /qb a progress\r\n"
    "; bar only, /qn nothing. Arguments given to setup.exe replace them.\r\n"
    "CmdLine=\r\n"
    "\r\n"
    "; A language list: the default entry (name,LCID;LCID...), then each further\r\n"
    "; language with the transform (.mst) applied when the user chooses it.\r\n"
    ";KestInitLangDefault=English,1033\r\n"
    ";Language1=Deutsch,1031\r\n"
    ";LanguageFile1=de.mst\r\n"
    "\r\n"
    "; The Windows Installer runtime installed first where the machine's is older\r\n"
    "; than RuntimeVersion: a file carried in the installer, or an http:// URL\r\n"
    "; with its size in bytes.\r\n"
    ";RuntimeVersion=3.1.4000.2435\r\n"
    ";RuntimeNT=WindowsInstaller-KB893803-v2-x86.exe\r\n"
    ";Runtime9X=http://example.com/InstMsiA.exe\r\n"
    ";RuntimeSize9X=1707856\r\n"
    "\r\n"
    "[KestPack]\r\n"
    "; A password keeps honest users out and hides nothing from a determined one:\r\n"
    "; the package can be recovered without it.\r\n"
    ";Password=secret\r\n";

} // namespace

std::string StartingIniText(const PackageIdentity &identity, const std::string &productFile,
                            const std::string &packageName)
{
    std::string text =
        "; The installer that kestpack builds from " + packageName + ":\r\n"
        ";   kestpack build pack.ini [--arch x64]\r\n"
        "; Beside the stub as setup.ini, the same settings drive it without packing.\r\n"
        ";\r\n"
        "; The product's identity as the package states it. kestpack checks these\r\n"
        "; keys against the package at every build and refuses what differs; leave a\r\n"
        "; key out to take the package's value.\r\n";
    if (identity.CodePage)
        text += "; Its texts are in code page " + std::to_string(identity.CodePage) +
                ", as in the package.\r\n";
    text += "[KestInstaller]\r\n";
    for (int f = 0; f < IdentityFieldCount; ++f) {
        const std::string &value = identity.Values[f];
        if (value.empty())
            continue;
        // A line break cannot stand in a settings file: the build takes
        // the value from the package instead.
        if (value.find_first_of("\r\n") != std::string::npos)
            text += "; " + std::string(IdentityKeys[f]) + " holds a line break: taken from the "
                    "package at every build\r\n";
        else
            text += std::string(IdentityKeys[f]) + "=" + IniValue(value) + "\r\n";
    }
    text += "ProductFile=" + productFile + "\r\n";
    return text + Examples;
}

void WriteStartingIni(const fs::path &package, const fs::path &ini)
{
    PackageIdentity identity;
    try {
        FileSource source(package);
        identity = ReadPackageIdentity(source);
    } catch (const CompoundError &e) {
        throw PackError(package.string() + ": cannot read the product's identity: " + e.what());
    }
    std::error_code ec;
    if (fs::symlink_status(ini, ec).type() != fs::file_type::not_found)
        throw PackError(ini.string() + ": exists already; kestpack init writes a new file only "
                                       "(remove it or give -o)");
    fs::path folder = fs::absolute(ini).parent_path();
    fs::path relative = fs::absolute(package).lexically_relative(folder);
    std::string text = StartingIniText(identity,
                                       AnsiFromPath(relative.empty() ? fs::absolute(package)
                                                                     : relative),
                                       package.filename().string());
    AtomicOutput out(ini);
    out.Write(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    out.Commit();
}
