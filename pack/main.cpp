// kestpack: binds a package and its settings into the stub, and reads such
// an installer back.
#include "pack/builder.h"
#include "pack/config.h"
#include "pack/error.h"
#include "pack/examine.h"
#include "pack/files.h"
#include "pack/init.h"
#include "pack/password.h"
#include "kest_version.h"
#include <cstdio>
#include <iostream>

namespace fs = std::filesystem;

namespace {

enum ExitCode { ExitOk = 0, ExitCorrupt = 1, ExitRefused = 2, ExitNotVerified = 3 };

const char Usage[] =
    "usage:\n"
    "  kestpack build CONFIG.ini [-o OUT.exe] [--arch x86|x64 | --stub STUB.exe]\n"
    "                [--keep-ini-identity]\n"
    "  kestpack inspect FILE.exe [--password P | --password-file F] [--json]\n"
    "  kestpack extract FILE.exe -d DIR [--password P | --password-file F]\n"
    "  kestpack init PACKAGE.msi [-o CONFIG.ini]\n"
    "  kestpack --version\n"
    "exit codes: 0 done, 1 corrupt installer, 2 refused (bad input or usage),\n"
    "            3 inspect could not check scrambled streams without --password\n"
    "CONFIG.ini: [KestInstaller] holds the settings-file keys; ProductFile is carried,\n"
    "  LanguageFile1..N (transforms) go with Language1..N, Runtime9X/RuntimeNT/\n"
    "  RuntimeDotNet/RuntimeDotNetUpdate are carried files or http:// URLs with\n"
    "  RuntimeSize... and a pin #sha256=<64 hex digits>; paths are relative to the\n"
    "  INI's folder.\n"
    "  [KestPack] Password, PackageFileName (default: ProductFile's name),\n"
    "  ExternalPackagePath (package not carried), SizeCheck (1; 0 to sign later),\n"
    "  Runtime9XSHA256 ... RuntimeDotNetUpdateSHA256 (the SHA-256 a runtime must have).\n"
    "  A carried package's ProductCode, ProductVersion, ProductName, UpgradeCode and\n"
    "  ProductLanguage fill the keys the INI leaves out; a key that differs from the\n"
    "  package is refused unless --keep-ini-identity.\n"
    "  The Password keeps honest users out and hides nothing from a determined one:\n"
    "  the scrambling depends only on its length, so the package can be recovered\n"
    "  without it.\n"
    "inspect and extract take the password from --password, --password-file (its\n"
    "  first line) or else the environment variable KESTPACK_PASSWORD, which keep it\n"
    "  out of the process list.\n"
    "init writes a starting INI for the package: its identity, CmdLine, and examples\n"
    "  of the language, password and runtime keys.\n"
    "Defaults: the stub beside kestpack, kestsetup.exe for --arch x86 (the default)\n"
    "or kestsetup64.exe for --arch x64; the output setup.exe beside the INI; init's\n"
    "pack.ini beside the package.\n";

// Only big inputs are worth a progress line, and only on a terminal.
const uint64_t ProgressThreshold = 16u << 20;

struct Arguments {
    std::vector<std::string> Positional;
    std::optional<std::string> Output, Stub, Password, PasswordFile, Directory, Arch;
    bool Json = false, KeepIniIdentity = false;
};

Arguments Parse(const std::string &command, const std::vector<std::string> &argv)
{
    Arguments a;
    for (size_t i = 1; i < argv.size(); ++i) {
        std::string arg = argv[i];
        auto value = [&](std::optional<std::string> &slot) {
            if (i + 1 >= argv.size())
                throw PackError(arg + ": needs a value");
            slot = argv[++i];
        };
        if (arg == "-o" || arg == "--output")
            value(a.Output);
        else if (arg == "--stub")
            value(a.Stub);
        else if (arg == "--arch")
            value(a.Arch);
        else if (arg == "--password")
            value(a.Password);
        else if (arg == "--password-file")
            value(a.PasswordFile);
        else if (arg == "-d" || arg == "--directory")
            value(a.Directory);
        else if (arg == "--json")
            a.Json = true;
        else if (arg == "--keep-ini-identity" && command == "build")
            a.KeepIniIdentity = true;
        else if (arg == "--keep-ini-identity")
            throw PackError(arg + ": only build takes it");
        else if (arg.size() > 1 && arg[0] == '-')
            throw PackError(arg + ": unknown option");
        else
            a.Positional.push_back(arg);
    }
    if (a.Positional.size() != 1)
        throw PackError("give exactly one input file");
    if (a.Arch && *a.Arch != "x86" && *a.Arch != "x64")
        throw PackError("--arch " + *a.Arch + ": give x86 or x64");
    if (a.Arch && a.Stub)
        throw PackError("give --arch or --stub, not both");
    return a;
}

int Build(const Arguments &a, const char *argv0)
{
    if (a.Password || a.PasswordFile)
        throw PackError("build takes the password from [KestPack] Password in the INI");
    fs::path ini = fs::absolute(PathFromArgument(a.Positional[0]));
    std::vector<std::string> warnings;
    PackPlan plan = ReadPackPlan(ini, &warnings, a.KeepIniIdentity);
    for (const std::string &w : warnings)
        std::cerr << "kestpack: warning: " << w << "\n";
    const char *bundled = a.Arch && *a.Arch == "x64" ? "kestsetup64.exe" : "kestsetup.exe";
    fs::path stub = a.Stub ? PathFromArgument(*a.Stub) : ProgramFolder(argv0) / bundled;
    fs::path output = a.Output ? PathFromArgument(*a.Output) : ini.parent_path() / "setup.exe";

    bool terminal = ErrorIsTerminal();
    int shown = -1;
    ProgressSink progress = [&](uint64_t done, uint64_t total) {
        if (!terminal || total < ProgressThreshold)
            return;
        int percent = int(done * 100 / total);
        if (percent != shown) {
            char line[40];
            std::snprintf(line, sizeof line, "\rkestpack: packing %3d%%", percent);
            std::cerr << line << std::flush;
            shown = percent;
        }
    };
    BuildSummary summary = BuildInstaller(plan, stub, output, progress);
    if (shown >= 0)
        std::cerr << "\n";
    std::cout << output.string() << ": " << summary.Length << " bytes, " << summary.Architecture
              << " stub, payload of "
              << summary.PayloadSize << " bytes at offset " << summary.PayloadOffset << "\n";
    return ExitOk;
}

int Inspect(const Arguments &a, bool extract)
{
    fs::path directory;
    if (extract) {
        if (!a.Directory)
            throw PackError("extract needs -d DIR");
        directory = PathFromArgument(*a.Directory);
    }
    std::optional<std::string> typed;
    if (a.Password)
        typed = AnsiFromArgument(*a.Password, "--password");
    std::optional<std::string> environment = EnvironmentText(PasswordVariable);
    std::optional<std::string> password =
        ChoosePassword(typed, a.PasswordFile, environment ? environment->c_str() : nullptr);
    PayloadReport report = InspectInstaller(PathFromArgument(a.Positional[0]), password,
                                            extract ? &directory : nullptr);
    if (extract)
        for (const std::string &n : report.Notes)
            std::cerr << "kestpack: " << report.File << ": " << n << "\n";
    if (a.Json)
        PrintReportJson(std::cout, report);
    else if (!extract)
        PrintReport(std::cout, report);
    if (!report.Problems.empty()) {
        if (a.Json || extract)
            for (const std::string &p : report.Problems)
                std::cerr << "kestpack: " << report.File << ": corrupt: " << p << "\n";
        return ExitCorrupt;
    }
    if (extract) {
        for (const StreamReport &s : report.Streams)
            std::cout << (directory / PathFromAnsi(s.FileName)).string() << ": " << s.Name << ", "
                      << s.Size - 4 << " bytes\n";
        return ExitOk;
    }
    for (const StreamReport &s : report.Streams)
        if (s.State == StreamReport::NotVerified)
            return ExitNotVerified;
    return ExitOk;
}

int Init(const Arguments &a)
{
    fs::path package = fs::absolute(PathFromArgument(a.Positional[0]));
    fs::path ini = a.Output ? PathFromArgument(*a.Output) : package.parent_path() / "pack.ini";
    WriteStartingIni(package, ini);
    std::cout << ini.string() << ": written for " << package.string() << "\n";
    return ExitOk;
}

} // namespace

int main(int argc, char **argv)
{
    PrepareConsole();
    std::vector<std::string> args = ProgramArguments(argc, argv);
    if (args.empty() || args[0] == "-h" || args[0] == "--help") {
        (args.empty() ? std::cerr : std::cout) << Usage;
        return args.empty() ? ExitRefused : ExitOk;
    }
    const std::string &command = args[0];
    if (command == "--version") {
        std::cout << "kestpack " KEST_VERSION_TEXT "\n";
        return ExitOk;
    }
    const bool known =
        command == "build" || command == "inspect" || command == "extract" || command == "init";
    try {
        Arguments a = Parse(command, args);
        if (command == "build")
            return Build(a, argv[0]);
        if (command == "inspect")
            return Inspect(a, false);
        if (command == "extract")
            return Inspect(a, true);
        if (command == "init")
            return Init(a);
        throw PackError(command + ": unknown command");
    } catch (const PackError &e) {
        std::cerr << "kestpack: " << e.what() << "\n";
        if (!known)
            std::cerr << Usage;
        return ExitRefused;
    } catch (const std::exception &e) {
        std::cerr << "kestpack: " << e.what() << "\n";
        return ExitRefused;
    }
}
