#include "ui/ui.h"
#include <commctrl.h>
#include "ui/resource.h"
#include "common/routines.h"
#include "common/state.h"
#include "common/system.h"

HMODULE VideoLibrary;
char AnimationFile[AnimationFileSize];

namespace {

// The animation control plays files only, so the clip is written out into
// the empty file that MakeTempFileName made. A failure leaves the file as
// far as it got; the control then shows nothing.
void WriteAnimationFile(void)
{
    HRSRC found = FindResourceA(ModuleHandle, MAKEINTRESOURCEA(IDR_ANIMATION), "AVI");
    if (!found)
        return;
    HGLOBAL loaded = LoadResource(ModuleHandle, found);
    const char *clip = static_cast<const char *>(LockResource(loaded));
    if (clip) {
        HFILE file = CreateSystemFile(AnimationFile);
        if (file != HFILE_ERROR) {
            _lwrite(file, clip, SizeofResource(ModuleHandle, found));
            _lclose(file);
        }
    }
    // A loaded resource needs no freeing in a 32-bit program.
}

} // namespace

void StartAnimation(void)
{
    if (!VideoLibrary)
        VideoLibrary = LoadSystemLibrary("MSVFW32.DLL");
    // Never called: its presence tells that video playback is installed.
    if (!VideoLibrary || !GetProcAddress(VideoLibrary, "MCIWndCreateA"))
        return;
    if (!AnimationFile[0]) {
        MakeTempFileName(AnimationFile);
        WriteAnimationFile();
    }
    HWND control = GetDlgItem(ProgressWindow, IDC_ANIMATION);
    if (control) {
        OpenAnimationFile(control, AnimationFile);
        SendMessageA(control, ACM_PLAY, WPARAM(-1), LPARAM(-1));
    }
}
