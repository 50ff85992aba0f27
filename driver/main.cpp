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
#include "common/text.h"
#include "payload/payload.h"
#include "payload/stream.h"
#include "runtime/runtime.h"
#include "ui/ui.h"

namespace {

void FetchModulePath(void)
{
    ModuleHandle = GetModuleHandleA(0);
    // Older systems leave the buffer unterminated when the path is cut. A
    // cut path would name another file, and the settings path needs room
    // for ".ini": such a path ends the run with a word on why.
    DWORD length = GetModuleFileNameA(0, ModulePath, ModulePathSize);
    ModulePath[ModulePathSize - 1] = 0;
    if (length == 0 || length + 4 >= ModulePathSize) {
        ShowErrorBox("The path of this installation is too long. Move it to a folder with a "
                     "shorter path and start it again.");
        EndRun(ExitNotInstalled);
    }

    length = CopyText(ExeDirectory, ModulePathSize, ModulePath);
    while (length > 0 && ExeDirectory[length - 1] != '\\')
        --length;
    ExeDirectory[length] = 0;
    MakeSettingsPath(SettingsPath, ModulePathSize, ModulePath);
}

// Shows "Corrupt installation detected." and ends the run: the payload or
// the program's own file cannot be trusted.
__attribute__((noreturn)) void EndCorrupt(void)
{
    ShowErrorBox(0);
    EndRun(ExitNotInstalled);
}

} // namespace

extern "C" void __stdcall KestEntry(void)
{
    SetErrorMode(SEM_NOALIGNMENTFAULTEXCEPT);
    RestrictLibrarySearch();

    // The final clean-up of every end of the run, in this order; each
    // release does nothing when its resource was never acquired.
    ReleaseAtEnd(CloseProgressWindow);
    ReleaseAtEnd(FreeCrcTable);
    ReleaseAtEnd(DeleteDialogFont);
    CopyProgress = ShowCopyProgress;

    UserArguments = SplitCommandLine(GetCommandLineA());
    ScanQuietSwitch(UserArguments);
    FetchModulePath();

    OwnFile = _lopen(ModulePath, OF_READ);
    if (OwnFile == HFILE_ERROR)
        EndCorrupt();

    BuildCrcTable();

    IoBuffer = static_cast<unsigned char *>(GlobalLock(GlobalAlloc(GMEM_MOVEABLE, IoBufferSize)));
    if (!IoBuffer)
        EndCorrupt();

    if (!LocatePayload())
        EndCorrupt();

    if (EmbeddedMode) {
        if (!ReadPayloadHeader())
            EndCorrupt();
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
        EndCorrupt();

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
