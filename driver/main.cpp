// The entry point and the main sequence of a run. Each phase that cannot go
// on ends the process itself; nothing returns an error here.
#include "driver/startup.h"
#include "driver/cmdline.h"
#include "driver/launch.h"
#include "driver/package.h"
#include "driver/settings.h"
#include "common/routines.h"
#include "common/text.h"
#include "payload/payload.h"
#include "payload/stream.h"
#include "ui/ui.h"

const char *UserArguments;
HMODULE ModuleHandle;
char ModulePath[ModulePathSize];
char ExeDirectory[ModulePathSize];
char SettingsPath[ModulePathSize];
HFILE OwnFile;
unsigned char *IoBuffer;

namespace {

void FetchModulePath(void)
{
    ModuleHandle = GetModuleHandleA(0);
    // Older systems leave the buffer unterminated when the path is cut.
    GetModuleFileNameA(0, ModulePath, ModulePathSize);
    ModulePath[ModulePathSize - 1] = 0;

    unsigned length = CopyText(ExeDirectory, ModulePathSize, ModulePath);
    while (length > 0 && ExeDirectory[length - 1] != '\\')
        --length;
    ExeDirectory[length] = 0;
    MakeSettingsPath(SettingsPath, ModulePathSize, ModulePath);
}

// Removes the resume value that an older resumed run may have left behind;
// the program itself only ever writes it under RunOnce.
void RemoveResumeValue(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                      0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, "KestStubReboot");
    RegCloseKey(key);
}

} // namespace

extern "C" void __stdcall KestEntry(void)
{
    SetErrorMode(SEM_NOALIGNMENTFAULTEXCEPT);
    RestrictLibrarySearch();

    UserArguments = SplitCommandLine(GetCommandLineA());
    ScanQuietSwitch(UserArguments);
    FetchModulePath();

    OwnFile = _lopen(ModulePath, OF_READ);
    if (OwnFile == HFILE_ERROR) {
        ShowErrorBox(0);
        ExitProcess(0);
    }

    BuildCrcTable();

    IoBuffer = static_cast<unsigned char *>(GlobalLock(GlobalAlloc(GMEM_MOVEABLE, IoBufferSize)));
    if (!IoBuffer) {
        ShowErrorBox(0);
        ExitProcess(0);
    }

    if (!LocatePayload()) {
        ShowErrorBox(0);
        ExitProcess(0);
    }

    if (EmbeddedMode)
        ReadPayloadHeader();
    else
        ReadSettingsFile();

    SelectLanguage();

    ApplyDelayRebootRule(&InstallerSettings);
    if (CancelRequested) {
        DeleteDialogFont();
        ExitProcess(0);
    }

    if (InstallerSettings.ProductCode[0])
        RemoveResumeValue();

    // A cut or extended file would feed the readers below wrong bytes.
    if (EmbeddedMode && InstallerSettings.TotalFileSize &&
        OwnFileLength() != InstallerSettings.TotalFileSize) {
        ShowErrorBox(0);
        ExitProcess(0);
    }

    // No runtime is installed: the position moves past both runtime streams
    // onto the package stream.
    if (EmbeddedMode)
        SkipRuntimeStreams();

    if (EmbeddedMode)
        CheckPassword();
    RemovePreviousVersion();
    if (EmbeddedMode)
        ExtractPackage();
    else
        ResolvePackageFromSettings();
    CloseProgressWindow();
    LaunchPackage();
    CloseProgressWindow();
    FreeCrcTable();
    _lclose(OwnFile);
    DeleteDialogFont();
    ExitProcess(0);
}
