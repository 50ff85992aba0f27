// Runs the stub's dialogs and progress window on their own, with settings
// read from uitest.ini beside the program (the stub's settings-file rules),
// so that the scenario tests can drive them with uidriver.
//   uitest language             the language choice; prints the outcome
//   uitest password             the password dialog; prints result and text
//   uitest progress             the progress window until Cancel is pressed
//   uitest timer TOTAL DONE [hold]
//                               the download timer's bar position; with hold the
//                               window then stays until it gets WM_CLOSE
//   uitest animation            the animation mode until the window gets WM_CLOSE
//   uitest embedded FILE B15 B16 B18
//                               the language choice of embedded mode, reading the
//                               language block from the start of FILE with the
//                               header's lengths B15, B16 and count B18; prints
//                               the 4 bytes that follow where it stopped reading
// Results are printed as key=value pairs, blank-separated; a password and
// a font face are printed on lines of their own.
#include "common/routines.h"
#include "common/flags.h"
#include "driver/cmdline.h"
#include "driver/settings.h"
#include "common/state.h"
#include "payload/tail.h"
#include "ui/resource.h"
#include "ui/ui.h"
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>


static void PrintFont(void)
{
    LOGFONTA font;
    if (!DialogFont || !GetObjectA(DialogFont, sizeof font, &font)) {
        printf("font=none\n");
        return;
    }
    // The face that the font mapper really chose, printed last since it
    // may contain blanks.
    HDC screen = GetDC(0);
    HGDIOBJ old = SelectObject(screen, DialogFont);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(screen, sizeof face, face);
    SelectObject(screen, old);
    // aware: what USER32 made of the manifest, which this program carries
    // with the stub's other resources.
    printf("height=%ld charset=%d dpi=%d aware=%d\nface=%s\n", font.lfHeight, font.lfCharSet,
           GetDeviceCaps(screen, LOGPIXELSY), IsProcessDPIAware() ? 1 : 0, face);
    ReleaseDC(0, screen);
}

// Pumps like the stub's long operations do, until done() holds or the
// progress window receives WM_CLOSE, which is taken out of the queue here.
static bool PumpUntil(bool (*done)(void))
{
    while (!done()) {
        MsgWaitForMultipleObjects(0, 0, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_CLOSE && msg.hwnd == ProgressWindow)
                return false;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

static bool Cancelled(void)
{
    return CancelRequested != 0;
}

static bool Never(void)
{
    return false;
}

static int Progress(void)
{
    ShowProgressWindow();
    printf("window=%d\n", ProgressWindow ? 1 : 0);
    fflush(stdout);
    if (!ProgressWindow)
        return 0;
    PumpUntil(Cancelled);
    HWND cancel = GetDlgItem(ProgressWindow, IDCANCEL);
    printf("cancel=%d open=%d enabled=%d\n", CancelRequested, IsWindowVisible(ProgressWindow) ? 1 : 0,
           IsWindowEnabled(cancel) ? 1 : 0);
    HWND window = ProgressWindow;
    CloseProgressWindow();
    CloseProgressWindow();
    printf("closed=%d\n", IsWindow(window) ? 0 : 1);
    PrintFont();
    return 0;
}

static int Timer(unsigned total, unsigned done, bool hold)
{
    ShowProgressWindow();
    if (!ProgressWindow)
        return 1;
    HWND bar = GetDlgItem(ProgressWindow, IDC_PROGRESS_BAR);
    // A marker: a tick that sends nothing leaves it in place.
    SendMessageA(bar, PBM_SETPOS, 7, 0);
    DownloadTotal = int(total);
    DownloadProgress = int(done);
    SetTimer(ProgressWindow, ProgressTimerId, ProgressTimerPeriod, 0);
    int ticks = 0;
    MSG msg;
    while (ticks < 2 && GetMessageA(&msg, 0, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == ProgressWindow && msg.wParam == ProgressTimerId)
            ++ticks;
        DispatchMessageA(&msg);
    }
    printf("ticks=%d position=%d\n", ticks, int(SendMessageA(bar, PBM_GETPOS, 0, 0)));
    fflush(stdout);
    if (hold)
        PumpUntil(Never);
    CloseProgressWindow();
    return 0;
}

static unsigned long FileSize(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

static int Animation(void)
{
    ShowProgressWindow();
    if (!ProgressWindow)
        return 1;
    // The driver's animation mode.
    ShowWindow(GetDlgItem(ProgressWindow, IDC_PROGRESS_BAR), SW_HIDE);
    ShowWindow(GetDlgItem(ProgressWindow, IDC_ANIMATION), SW_SHOW);
    EnableWindow(GetDlgItem(ProgressWindow, IDCANCEL), FALSE);
    StartAnimation();
    char first[AnimationFileSize];
    strcpy(first, AnimationFile);
    FILETIME written, rewritten;
    HANDLE h = CreateFileA(first, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                           OPEN_EXISTING, 0, 0);
    GetFileTime(h, 0, 0, &written);
    CloseHandle(h);
    StartAnimation();
    h = CreateFileA(first, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                    OPEN_EXISTING, 0, 0);
    GetFileTime(h, 0, 0, &rewritten);
    CloseHandle(h);
    HRSRC clip = FindResourceA(0, MAKEINTRESOURCEA(IDR_ANIMATION), "AVI");
    printf("video=%d file=%s size=%lu clip=%lu same=%d rewritten=%d\n", VideoLibrary ? 1 : 0,
           AnimationFile, FileSize(AnimationFile), (unsigned long)SizeofResource(0, clip),
           strcmp(first, AnimationFile) == 0,
           CompareFileTime(&written, &rewritten) != 0);
    fflush(stdout);
    PumpUntil(Never);
    CloseProgressWindow();
    printf("deleted=%d unloaded=%d cancel=%d\n", GetFileAttributesA(first) == INVALID_FILE_ATTRIBUTES,
           VideoLibrary ? 0 : 1, CancelRequested);
    return 0;
}

static int Embedded(const char *file, int prompt, int first, int count, bool noDialog)
{
    // A module without the dialog's template: the dialog cannot be created.
    if (noDialog)
        ModuleHandle = GetModuleHandleA("kernel32.dll");
    OwnFile = _lopen(file, OF_READ);
    if (OwnFile == HFILE_ERROR)
        return 1;
    EmbeddedMode = 1;
    PayloadHeader.Lengths[LengthLanguagePrompt] = (unsigned char)prompt;
    PayloadHeader.Lengths[LengthFirstLanguage] = (unsigned char)first;
    PayloadHeader.Lengths[LanguageCount] = (unsigned char)count;
    // The block stands at the file's start; what follows it is where the
    // walk puts the first runtime stream.
    int walked = WalkPayloadTail(0, PayloadOffsetLimit, &PayloadHeader, &InstallerSettings, 0, ReadOwnFileAt, 0,
                                 &PayloadTail);
    SelectLanguage();
    char next[5] = {0};
    ReadOwnFileAt(0, PayloadTail.Runtime[0], (unsigned char *)next, 4);
    printf("cancel=%d index=%d walked=%d next=%s\n", CancelRequested,
           InstallerSettings.LanguageIndex, walked, next);
    _lclose(OwnFile);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: uitest language|password|progress|timer|animation\n");
        return 2;
    }
    ModuleHandle = GetModuleHandleA(0);
    GetModuleFileNameA(0, ModulePath, ModulePathSize);
    MakeSettingsPath(SettingsPath, ModulePathSize, ModulePath);
    ReadSettingsFile();

    const char *mode = argv[1];
    int code = 0;
    if (!strcmp(mode, "language")) {
        SelectLanguage();
        printf("cancel=%d index=%d\n", CancelRequested, InstallerSettings.LanguageIndex);
        PrintFont();
    } else if (!strcmp(mode, "foreign")) {
        // As another module runs the exported dialog: without this
        // program's start-up, so without a settings path.
        SettingsPath[0] = 0;
        INT_PTR result =
            DialogBoxParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_LANGUAGE), 0, LanguageDlg, 0);
        printf("result=%d index=%d settings=%s\n", int(result), InstallerSettings.LanguageIndex,
               SettingsPath);
    } else if (!strcmp(mode, "password")) {
        int result = AskPassword();
        printf("result=%d\npassword=%s\n", result, PasswordBuffer);
        PrintFont();
    } else if (!strcmp(mode, "progress")) {
        code = Progress();
    } else if (!strcmp(mode, "timer") && (argc == 4 || argc == 5)) {
        code = Timer(strtoul(argv[2], 0, 10), strtoul(argv[3], 0, 10), argc == 5);
    } else if (!strcmp(mode, "animation")) {
        code = Animation();
    } else if (!strcmp(mode, "embedded") && (argc == 6 || argc == 7)) {
        code = Embedded(argv[2], atoi(argv[3]), atoi(argv[4]), atoi(argv[5]),
                        argc == 7 && !strcmp(argv[6], "nodialog"));
    } else {
        fprintf(stderr, "uitest: unknown mode %s\n", mode);
        return 2;
    }
    fflush(stdout);
    DeleteDialogFont();
    return code;
}
