// The entry point and the main sequence of a run. Each phase that cannot go
// on ends the process itself; nothing returns an error here.
#include "common/state.h"
#include "driver/cmdline.h"
#include "driver/launch.h"
#include "driver/package.h"
#include "driver/runtime_install.h"
#include "driver/settings.h"
#include "common/exit.h"
#include "common/flags.h"
#include "common/routines.h"
#include "common/system.h"
#include "common/text.h"
#include "payload/payload.h"
#include "payload/stream.h"
#include "runtime/runtime.h"
#include "ui/ui.h"

namespace {

void FetchModulePath(void)
{
    ModuleHandle = GetModuleHandleA(0);
    // A cut path would name another file, and the settings path needs room
    // for ".ini"; a path of MAX_PATH characters has that room even in
    // UTF-8, so this ends only a run that cannot know where it lies.
    unsigned length = SystemModulePath(0, ModulePath, ModulePathSize);
    if (length == 0 || length + 4 >= ModulePathSize)
        EndRunCorrupt();

    length = CopyText(ExeDirectory, ModulePathSize, ModulePath);
    while (length > 0 && ExeDirectory[length - 1] != '\\')
        --length;
    ExeDirectory[length] = 0;
    MakeSettingsPath(SettingsPath, ModulePathSize, ModulePath);
}

} // namespace

extern "C" void __stdcall KestEntry(void)
{
    SetErrorMode(SEM_NOALIGNMENTFAULTEXCEPT);
    RestrictLibrarySearch();
    DetectPlatform();

    // The final clean-up of every end of the run, in this order; each
    // release does nothing when its resource was never acquired.
    ReleaseAtEnd(CloseProgressWindow);
    ReleaseAtEnd(FreeCrcTable);
    ReleaseAtEnd(DeleteDialogFont);
    CopyProgress = ShowCopyProgress;

    const char *commandLine = SystemCommandLine();
    if (!commandLine)
        EndRunCorrupt();
    UserArguments = SplitCommandLine(commandLine);
    ScanQuietSwitch(UserArguments);
    FetchModulePath();

    OwnFile = OpenSystemFile(ModulePath, OF_READ);
    if (OwnFile == HFILE_ERROR)
        EndRunCorrupt();

    BuildCrcTable();

    IoBuffer = static_cast<unsigned char *>(GlobalLock(GlobalAlloc(GMEM_MOVEABLE, IoBufferSize)));
    if (!IoBuffer)
        EndRunCorrupt();

    if (!LocatePayload())
        EndRunCorrupt();

    if (EmbeddedMode) {
        if (!ReadPayloadHeader())
            EndRunCorrupt();
    } else {
        ReadSettingsFile();
    }

    SelectLanguage();

    ApplyDelayRebootRule(&InstallerSettings);
    if (CancelRequested)
        EndRun(ExitNotInstalled);

    if (InstallerSettings.ProductCode[0])
        RemoveResumeValue();

    // A cut or extended file would feed the readers below wrong bytes.
    if (EmbeddedMode && InstallerSettings.TotalFileSize &&
        OwnFileLength() != InstallerSettings.TotalFileSize)
        EndRunCorrupt();

    PrepareRuntime();

    if (EmbeddedMode)
        CheckPassword();
    RemovePreviousVersion();
    if (EmbeddedMode)
        ExtractPackage();
    else
        ResolvePackageFromSettings();
    CloseProgressWindow();
    EndRun(LaunchPackage());
}
