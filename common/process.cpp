#include "common/routines.h"
#include "common/flags.h"
#include <shellapi.h>
#include "common/state.h"

void PumpMessages(void)
{
    MSG msg;
    while (!ShutdownStarted && PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

DWORD RunAndWait(const char *program, const char *parameters, int options)
{
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    if (options & RunElevated)
        info.lpVerb = "runas";
    info.lpFile = program;
    info.lpParameters = parameters;
    // With its last backslash: it names a root as well as any other folder.
    info.lpDirectory = options & RunInProgramFolder ? ExeDirectory : 0;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info))
        return GetLastError() == ERROR_CANCELLED ? ERROR_CANCELLED : 0;

    PumpMessages();
    while (WaitForSingleObject(info.hProcess, 500) == WAIT_TIMEOUT)
        PumpMessages();
    DWORD code = 0;
    if (!GetExitCodeProcess(info.hProcess, &code))
        code = 0;
    CloseHandle(info.hProcess);
    PumpMessages();
    return code;
}
