#include "common/routines.h"
#include "common/flags.h"
#include <shellapi.h>
#include "common/state.h"
#include "common/system.h"

void PumpMessages(void)
{
    MSG msg;
    while (!ShutdownStarted && PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int RunAndWait(const char *program, const char *parameters, int options, DWORD *exitCode)
{
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    // The shell would report a program it cannot start in a box of its
    // own, which nobody may be there to answer in a quiet run; the caller
    // reports it instead.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    if (options & RunElevated)
        info.lpVerb = "runas";
    info.lpFile = program;
    info.lpParameters = parameters;
    // With its last backslash: it names a root as well as any other folder.
    info.lpDirectory = options & RunInProgramFolder ? ExeDirectory : 0;
    info.nShow = SW_SHOWNORMAL;
    *exitCode = 0;
    if (!ShellExecuteSystem(&info)) {
        if (GetLastError() != ERROR_CANCELLED)
            return 0;
        *exitCode = ERROR_CANCELLED;
        return 1;
    }

    PumpMessages();
    while (WaitForSingleObject(info.hProcess, 500) == WAIT_TIMEOUT)
        PumpMessages();
    if (!GetExitCodeProcess(info.hProcess, exitCode))
        *exitCode = 0;
    CloseHandle(info.hProcess);
    PumpMessages();
    return 1;
}
