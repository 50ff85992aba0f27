#include "driver/launch.h"
#include "driver/settings.h"
#include "common/state.h"
#include "common/exit.h"
#include "common/routines.h"
#include "common/system.h"
#include "common/text.h"
#include "payload/payload.h"
#include "runtime/runtime.h"
#include "ui/resource.h"
#include "ui/ui.h"

char PackagePath[PackagePathSize];
char TransformPath[PackagePathSize];

namespace {

void ExpandEnvironment(const char *text, char *out, unsigned capacity)
{
    // A result that does not fit is not written at all, so expand into
    // room enough and cut; a text that expands past even that stays as it is.
    static char expanded[ArgumentTextSize];
    CopyText(out, capacity, ExpandSystemText(text, expanded, sizeof expanded) ? expanded : text);
}

// Windows Installer by its full path: a bare "msiexec" would also be found
// in the program's own folder or the current one, where anybody may have
// put a file of that name.
// Without the system directory, "\msiexec.exe" would name a file at the
// root of the current drive: the run ends instead.
void SystemInstallerPath(char *out)
{
    if (!SystemFilePath("msiexec.exe", out, 0))
        EndRunCorrupt();
}

// The short (8.3) form of path, in place, where the file system has one
// and it fits a path of the program's own (shorter ones serve no command
// that must stay within RunOnceCommandLimit).
void ShortenPath(char *path)
{
    char shortPath[ModulePathSize];
    if (SystemShortPath(path, shortPath, sizeof shortPath))
        CopyText(path, sizeof shortPath, shortPath);
}

} // namespace

void ResolvePackageFromSettings(void)
{
    char productFile[3 * SettingsTextSize];
    char languageFile[LanguageFileSize];
    ReadProfileText(SettingsSection, KeyProductFile, "", productFile, sizeof productFile, SettingsPath, 1);
    languageFile[0] = 0;
    int index = InstallerSettings.LanguageIndex;
    if (index) {
        char key[32];
        wsprintfA(key, "%s%d", KeyLanguageFileStem, index);
        ReadProfileText(SettingsSection, key, "", languageFile, sizeof languageFile, SettingsPath, 1);
    }
    ResolveSettingsPackage(productFile, languageFile, ExeDirectory, PackagePath, TransformPath);
}

unsigned LaunchPackage(void)
{
    // The stored texts are ANSI; msiexec gets the texts of the program's
    // own. Kept off the stack, which grows a page at a time.
    static char storedCmdLine[3 * SettingsTextSize];
    storedCmdLine[0] = 0;
    if (!UserArguments[0]) {
        ReadSettingText(SettingCmdLine, storedCmdLine, SettingsTextSize);
        SystemTextFromAnsi(storedCmdLine, sizeof storedCmdLine);
    }
    static char transformMsi[3 * SettingsTextSize];
    CopyText(transformMsi, sizeof transformMsi, InstallerSettings.TransformMSI);
    SystemTextFromAnsi(transformMsi, sizeof transformMsi);

    // Its own copy: ShortenPath may change it.
    char programPath[ModulePathSize];
    CopyText(programPath, sizeof programPath, ModulePath);

    LaunchInputs in;
    in.UserArguments = UserArguments;
    in.StoredCmdLine = storedCmdLine;
    in.PackagePath = PackagePath;
    in.TransformPath = TransformPath;
    in.TransformMSI = transformMsi;
    in.ProgramPath = programPath;
    in.Expand = ExpandEnvironment;

    static char argumentText[ArgumentTextSize];
    char installerProgram[ModulePathSize];
    int resume = RebootPending && !InstallerSettings.DelayReboot;
    for (int shortened = 0;; shortened = 1) {
        int any = ComposeArguments(in, argumentText);
        PumpMessages();
        if (!any)
            return ExitNormal;
        SystemInstallerPath(installerProgram);
        // Windows runs no RunOnce command longer than RunOnceCommandLimit
        // (the engine's quoted path, a blank, the arguments): the short
        // forms of the paths may bring a longer one within it.
        if (!resume || shortened ||
            TextLength(installerProgram) + 3 + TextLength(argumentText) <= RunOnceCommandLimit)
            break;
        ShortenPath(PackagePath);
        ShortenPath(TransformPath);
        ShortenPath(programPath);
    }
    if (resume) {
        // The package runs after the restart, from the command registered
        // now: the engine by its quoted full path, and the arguments as
        // built. Nothing is cut: a cut command would install something else.
        static char command[sizeof installerProgram + 3 + ArgumentTextSize];
        CopyText(command, sizeof command, "\"");
        AppendText(command, sizeof command, installerProgram);
        AppendText(command, sizeof command, "\" ");
        AppendText(command, sizeof command, argumentText);
        int registered = RegisterResume(InstallerSettings.ProductCode, command);
        if (!registered) {
            // Nothing will resume the installation after the restart: the
            // user must, and is told so before it.
            char text[MessageTextSize];
            LoadStringA(ModuleHandle, IDS_RESUME_BY_HAND, text, sizeof text);
            MessageBoxA(0, text, InstallerSettings.ProductName, MB_OK);
        }
        RequestReboot();
        return registered ? ExitRestartStarted : ExitNotInstalled;
    }
    if (RebootPending && InstallerSettings.DelayReboot) {
        // The runtime installer deferred its restart: run the engine it
        // installed, and tell the package that a restart is still due.
        char location[ModulePathSize];
        char installerKey[CurrentVersionSubKeySize];
        CurrentVersionSubKey(installerKey, sizeof installerKey, "Installer");
        ReadMachineText(installerKey,
                        "InstallerLocation", location, sizeof location);
        if (location[0]) {
            SetSystemCurrentFolder(location);
            CopyText(installerProgram, sizeof installerProgram, location);
            AppendText(installerProgram, sizeof installerProgram, "\\MSIEXEC.EXE");
        }
        AppendText(argumentText, sizeof argumentText, " KESTDELAYEDREBOOT=1");
    }
    // In settings-file mode the package and its transforms are named
    // relative to the program's folder, so msiexec starts there.
    DWORD code;
    if (RunAndWait(installerProgram, argumentText, !EmbeddedMode, &code))
        return code;
    // An engine that cannot start (a damaged one, or one of another
    // architecture) installed nothing.
    EndRunCorrupt();
}
