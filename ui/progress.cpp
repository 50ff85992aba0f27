#include "ui/ui.h"
#include "common/flags.h"
#include <commctrl.h>
#include "ui/position.h"
#include "ui/resource.h"
#include "common/routines.h"
#include "common/settings.h"
#include "common/state.h"
#include "common/window_messages.h"

HWND ProgressWindow;
int DownloadProgress;
int DownloadTotal;

void ShowProgressWindow(void)
{
    if (QuietMode || ProgressWindow)
        return;
    LoadCommonControls();
    ProgressWindow = CreateDialogParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_PROGRESS), 0, ProgressDlg, 0);
    if (ProgressWindow)
        SetWindowTextA(ProgressWindow, InstallerSettings.ProductName);
}

namespace {

void MoveProgressBar(HWND window, unsigned done, int total)
{
    // Below 10 bytes the divisor would be 0. The bar keeps its default
    // range of 0 to 100.
    if (window && total >= 10)
        SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETPOS,
                            ProgressPosition(done, unsigned(total)), 0);
}

} // namespace

void ShowCopyProgress(unsigned done, unsigned total)
{
    // A stream's data size is below 2 GiB: CopyStream takes it as an int.
    MoveProgressBar(ProgressWindow, done, int(total));
    ShowProgressWindow();
    PumpMessages();
}

extern "C" INT_PTR CALLBACK ProgressDlg(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(window);
        return TRUE;
    case WM_COMMAND:
        // The window stays, and the running operation sees the flag at its
        // next poll.
        if (LOWORD(wParam) == IDCANCEL)
            CancelRequested = 1;
        break;
    case WM_TIMER:
        if (wParam == ProgressTimerId)
            MoveProgressBar(window, unsigned(DownloadProgress), DownloadTotal);
        break;
    case SocketEventMessage:
    case SocketLateMessage:
        SocketEventHandler(message, wParam, lParam);
        return TRUE;
    }
    return FALSE;
}

void CloseProgressWindow(void)
{
    if (ProgressWindow) {
        DestroyWindow(ProgressWindow);
        ProgressWindow = 0;
        PumpMessages();
    }
    if (VideoLibrary) {
        FreeLibrary(VideoLibrary);
        VideoLibrary = 0;
    }
    if (AnimationFile[0]) {
        DeleteFileA(AnimationFile);
        AnimationFile[0] = 0;
    }
}
