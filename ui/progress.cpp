#include "ui/ui.h"
#include "common/flags.h"
#include <commctrl.h>
#include "ui/position.h"
#include "ui/resource.h"
#include "common/routines.h"
#include "common/settings.h"
#include "common/state.h"
#include "common/system.h"
#include "common/window_messages.h"

HWND ProgressWindow;
int DownloadProgress;
int DownloadTotal;

namespace {

// The position last set, plus one, so that zero means none yet.
unsigned BarPositionSet;
// When the copy last let the window's messages through.
DWORD LastPump;

// Messages of the window are let through this often during a copy: often
// enough to paint it and to see Cancel well within a tenth of a second,
// rarely enough that the window system costs the copy nothing.
const DWORD PumpInterval = 30;

void MoveProgressBar(HWND window, unsigned done, int total)
{
    // Below 10 bytes the divisor would be 0. The bar keeps its default
    // range of 0 to 100, and is moved only when its position changes:
    // each move is a round trip to the window system.
    if (!window || total < 10)
        return;
    unsigned position = ProgressPosition(done, unsigned(total));
    if (position + 1 == BarPositionSet)
        return;
    BarPositionSet = position + 1;
    SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETPOS, position, 0);
}

} // namespace

void ShowProgressWindow(void)
{
    if (QuietMode || ProgressWindow)
        return;
    LoadCommonControls();
    ProgressWindow = CreateDialogParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_PROGRESS), 0, ProgressDlg, 0);
    BarPositionSet = 0; // a new window's bar stands at its start
    if (ProgressWindow)
        SetWindowTextA(ProgressWindow, InstallerSettings.ProductName);
}


void ShowCopyProgress(unsigned done, unsigned total)
{
    ShowProgressWindow();
    // The bar and the messages wait for the interval: a copy at the disk's
    // pace would otherwise move the bar in a hundred round trips.
    DWORD now = GetTickCount();
    if (now - LastPump < PumpInterval)
        return;
    LastPump = now;
    // A stream's data size is below 2 GiB: CopyStream takes it as an int.
    MoveProgressBar(ProgressWindow, done, int(total));
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
        DeleteSystemFile(AnimationFile);
        AnimationFile[0] = 0;
    }
}
