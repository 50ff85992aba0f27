// Installing a runtime that is too old for the package: the installer is
// taken from the payload, a path in the settings file or a download, run
// silently, and its result decides whether Windows must restart first.
#include "driver/runtime_install.h"
#include "common/exit.h"
#include "common/flags.h"
#include "common/routines.h"
#include "common/settings.h"
#include "common/state.h"
#include "common/system.h"
#include "common/text.h"
#include "payload/layout.h"
#include "payload/payload.h"
#include "payload/sha256.h"
#include "payload/stream.h"
#include "payload/tail.h"
#include "runtime/rules.h"
#include "runtime/runtime.h"
#include "transfer/transfer.h"
#include "ui/resource.h"
#include "ui/ui.h"

namespace {

// A runtime download shorter than this is no runtime installer.
const int DownloadMinimum = 1000000;

const char ServicePackText[] =
    "The Windows Installer 2.0 runtime can only be installed with Windows NT Service Pack 6 "
    "or higher. Please install Windows NT Service Pack 6 and rerun this installation.";

int RebootPrompted; // the restart question was asked, and answered Yes

// A settings file's value as a path: up to three bytes a character.
enum { RuntimeSourceSize = 3 * SettingsTextSize };
char RuntimePath[ModulePathSize + RuntimeSourceSize]; // the program to run

// A file of ours to delete at the end of the pass; empty for a program
// named by the settings file.
int RuntimeIsTemporary;

// The SHA-256 that the pass's URL or path pinned its installer to.
int RuntimePinned;
unsigned RuntimePin[8];

__attribute__((noreturn)) void EndRuntime(void)
{
    if (RuntimeIsTemporary)
        DeleteSystemFile(RuntimePath);
    EndRun(ExitNotInstalled);
}

// "Corrupt installation detected.": no runtime can be installed from here.
__attribute__((noreturn)) void EndCorrupt(void)
{
    ShowErrorBox(0);
    EndRuntime();
}

__attribute__((noreturn)) void FailWithMessage(SettingText which, UINT stringId, const char *detail)
{
    char text[512];
    LoadMessageText(text, which, stringId);
    if (detail && detail[0]) {
        AppendText(text, sizeof text, " ");
        AppendText(text, sizeof text, detail);
    }
    ShowErrorBox(text);
    EndRuntime();
}

int AskProduct(const char *text, UINT buttons)
{
    return MessageBoxA(0, text, InstallerSettings.ProductName, buttons);
}

// The entry's source text: the URL stored in the payload, or the path or
// URL of the settings file, without the pin that may follow it. A pin
// that is not one ends the run before anything is fetched.
void ReadRuntimeSource(RuntimeEntry entry, char *out, unsigned capacity)
{
    if (EmbeddedMode)
        ReadPayloadString(PayloadHeader.RuntimeUrlOffset[entry],
                          PayloadHeader.Lengths[RuntimeUrlLength(entry)], out, capacity);
    else
        ReadProfileText(SettingsSection, RuntimeKeys[entry], "", out, capacity, SettingsPath, 1);
    DigestPin pin = TakeDigestPin(out, RuntimePin);
    if (pin == PinMalformed)
        EndCorrupt();
    RuntimePinned = pin == PinGiven;
}

// Whoever sits between the user and the server, or the share, chooses
// the program that would run: a pinned installer runs only when it is the
// very file its author meant.
void CheckRuntimePin(void)
{
    if (RuntimePinned && !FileMatchesDigest(RuntimePath, RuntimePin))
        FailWithMessage(SettingHashError, IDS_HASH_ERROR, 0);
}

// The program named by the settings file. A relative name means a file
// beside this program and is made a full path here: started by name, a
// missing file would be looked for in the current folder and along the
// path, where anybody may have put a program of that name.
void ReadSettingsRuntime(RuntimeEntry entry)
{
    // Room for both: the folder and the value each have room of their own.
    char *name = RuntimePath + CopyText(RuntimePath, sizeof RuntimePath, ExeDirectory);
    ReadRuntimeSource(entry, name, RuntimeSourceSize);
    // CopyText copies forward, so moving a full path down over the
    // folder is sound.
    if (!name[0] || name[0] == '\\' || name[1] == ':')
        CopyText(RuntimePath, sizeof RuntimePath, name);
}

// A new, empty temporary file whose name ends in ".exe", so that Windows
// runs it as a program. Ends the run when it cannot be opened.
HFILE CreateRuntimeFile(void)
{
    MakeTempFileName(RuntimePath);
    RuntimeIsTemporary = 1;
    unsigned length = TextLength(RuntimePath);
    if (length > 4 && TextEqualNoCase(RuntimePath + length - 4, ".TMP")) {
        DeleteSystemFile(RuntimePath);
        CopyText(RuntimePath + length - 4, 5, ".exe");
    }
    HFILE file = CreateSystemFile(RuntimePath);
    if (file != HFILE_ERROR)
        _lclose(file);
    file = OpenSystemFile(RuntimePath, OF_READWRITE);
    if (file == HFILE_ERROR)
        EndCorrupt();
    return file;
}

void ExtractRuntime(HFILE file, RuntimeEntry entry)
{
    int stream = RuntimeStreamIndex(entry);
    unsigned size = PayloadTail.RuntimeSize[stream];
    // The walk has checked the stream against the file; a seek that still
    // fails, or no stream at all, leaves CopyStream nothing to trust.
    if (!SeekOwnFile(PayloadTail.Runtime[stream]))
        size = 0;
    CopyResult result = CopyStream(file, int(size), 0);
    _lclose(file);
    if (result == CopyCancelled || (result == CopyDone && CancelRequested))
        EndRuntime();
    if (result != CopyDone) {
        if (CrcFailed)
            FailWithMessage(SettingCRCError, IDS_CRC_ERROR, 0);
        FailWithMessage(SettingSpaceError, IDS_SPACE_ERROR, 0);
    }
}

// The progress window for a download, with its bar and Cancel, or, for
// the .NET installers, which show no progress of their own, with the
// animation and no Cancel. The .NET update's download comes after the
// runtime's animation: each download shows the bar and Cancel again.
void ShowRuntimeWindow(int animated)
{
    ShowProgressWindow();
    if (!ProgressWindow)
        return;
    ShowWindow(GetDlgItem(ProgressWindow, IDC_PROGRESS_BAR), animated ? SW_HIDE : SW_SHOW);
    ShowWindow(GetDlgItem(ProgressWindow, IDC_ANIMATION), animated ? SW_SHOW : SW_HIDE);
    EnableWindow(GetDlgItem(ProgressWindow, IDCANCEL), !animated);
    if (animated)
        StartAnimation();
}

void DownloadRuntime(HFILE file, RuntimeEntry entry)
{
    _lclose(file);
    char url[260];
    ReadRuntimeSource(entry, url, sizeof url);
    unsigned expected = RuntimeDownloadSize(&InstallerSettings, entry, EmbeddedMode);
    DownloadTotal = int(expected);
    DownloadProgress = 0;
    ShowRuntimeWindow(0);
    if (ProgressWindow)
        SetTimer(ProgressWindow, ProgressTimerId, ProgressTimerPeriod, 0);
    PumpMessages();

    char status[260];
    status[0] = 0;
    int result = t1(&CancelRequested, url, RuntimePath, ProgressWindow, &DownloadProgress,
                    int(expected), int(expected), 0, 0, status);
    // The counter reached the share: the file's own size is what arrived.
    if (DownloadProgress == DownloadTotal) {
        DownloadProgress = 0;
        HFILE downloaded = OpenSystemFile(RuntimePath, OF_READ);
        if (downloaded != HFILE_ERROR) {
            DWORD high = 0;
            DWORD low = GetFileSize(HANDLE(INT_PTR(downloaded)), &high);
            DownloadProgress = high || low > 0x7FFFFFFF ? 0x7FFFFFFF : int(low);
            _lclose(downloaded);
        }
    }
    if (CancelRequested)
        EndRuntime();
    if (result < 0 || DownloadProgress < DownloadMinimum)
        FailWithMessage(SettingInternet, IDS_INTERNET, status);
}

// The switches of the pass; returns 1 for a command of the author's own.
int RuntimeSwitches(int pass, char *switches)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    char value[RuntimeSwitchesSize];
    const char *settingsValue = 0;
    if (!EmbeddedMode && !DotNetMode) {
        ReadProfileText(SettingsSection, KeyInstMsiCmdLine, QuietNoRestart, value, sizeof value,
                        SettingsPath, 1);
        settingsValue = value;
    }
    return ChooseRuntimeSwitches(DotNetMode, pass, s.DelayReboot, settingsValue, switches);
}

// A relative path in the settings file names a file beside the program,
// which therefore starts in the program's folder. Where Windows asks for
// consent, the installer asks for it as it starts: the program itself
// keeps running as the user who started it.
int RuntimeRunOptions(void)
{
    return (EmbeddedMode ? 0 : RunInProgramFolder) + ShellElevates * RunElevated;
}

// The results that end the run before the runtime file is removed: both
// use or report the installer just run.
void ActOnSpecialResult(RuntimeResultAction action)
{
    if (action == RuntimeRerunQuiet) {
        // The .NET runtime is installed already in another version: let it
        // repair itself, and leave the package for another run.
        CloseProgressWindow();
        DWORD ignored;
        RunAndWait(RuntimePath, "/q:a", RuntimeRunOptions(), &ignored);
        EndRuntime();
    }
    if (action == RuntimeNeedsSp6) {
        CloseProgressWindow();
        AskProduct(ServicePackText, MB_OK);
        EndRuntime();
    }
}

void DecideRestart(RuntimeResultAction action)
{
    if (action == RuntimeRestartDue)
        RebootPending = 1;
    if (action != RuntimeAskRestart)
        return;
    RebootPrompted = 1;
    char text[MessageTextSize];
    LoadMessageText(text, SettingReboot, IDS_REBOOT);
    if (AskProduct(text, MB_YESNO) != IDYES) {
        CloseProgressWindow();
        EndRun(ExitNotInstalled);
    }
    RebootPending = 1;
}

void InstallRuntime(void)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    for (int pass = 0;; pass = 1) {
        RuntimeEntry entry = ChooseRuntimeEntry(DotNetMode, PlatformNT, pass);
        RuntimeIsTemporary = 0;
        RuntimePinned = 0;
        if (RuntimePassDownloads(&s, PlatformNT, pass))
            DownloadRuntime(CreateRuntimeFile(), entry);
        else if (EmbeddedMode)
            ExtractRuntime(CreateRuntimeFile(), entry);
        else
            ReadSettingsRuntime(entry);
        CheckRuntimePin();

        char switches[RuntimeSwitchesSize];
        int custom = RuntimeSwitches(pass, switches);
        DWORD before = WininitStamp();
        if (DotNetMode)
            ShowRuntimeWindow(1);
        DWORD result;
        int started = RunAndWait(RuntimePath, switches, RuntimeRunOptions(), &result);
        // Cancel, pressed while the installer ran (the window's bar and
        // Cancel stay up after a copy or a download), ends the run as soon
        // as it has ended: no question follows, and no package.
        if (CancelRequested)
            EndRuntime();
        // A runtime installer that cannot be started installed nothing.
        if (!started)
            EndCorrupt();
        // Nothing was installed: the user said No to the elevation.
        if (result == RuntimeElevationDeclined)
            FailWithMessage(SettingAdminError, IDS_ADMIN_ERROR, 0);
        if (result == 0 && WininitStamp() != before)
            result = 1;
        RuntimeResultAction action = RuntimeResultMeaning(result, DotNetMode, pass, custom,
                                                          s.DelayReboot, RebootPrompted);
        ActOnSpecialResult(action);
        if (RuntimeIsTemporary)
            DeleteSystemFile(RuntimePath);
        PumpMessages();
        Sleep(500);
        PumpMessages();
        DecideRestart(action);

        if (pass || !DotNetMode || (s.StreamSize9X == 0 && s.RuntimeSizeDotNetUpdate <= 1))
            return;
    }
}

} // namespace

void PrepareRuntime(void)
{
    switch (CheckRuntime()) {
    case RuntimeNoAdmin: {
        // Nothing has been acquired yet: the run ends at once.
        char text[MessageTextSize];
        LoadMessageText(text, SettingAdminError, IDS_ADMIN_ERROR);
        AskProduct(text, MB_OK);
        ExitProcess(ExitNoAdministrator);
    }
    case RuntimeStep:
        InstallRuntime();
        break;
    case NoRuntimeStep:
        break;
    }
}
