// Message boxes, dialogs and the progress window.
#pragma once
#include <windows.h>
#include "common/settings.h"

enum { MessageTextSize = 256 };

enum {
    PasswordBufferSize = 256,
    AnimationFileSize = 3 * MAX_PATH, // a path of the program's own (common/system.h)
    // The timer that a runtime download starts on the progress window.
    ProgressTimerId = 1234,
    ProgressTimerPeriod = 250,
};

// The font of every dialog's controls, built from CharFont, CharSize and
// CharSet by the first dialog that opens; null until then.
extern HFONT DialogFont;

// The text typed into the password dialog, NUL-terminated.
extern char PasswordBuffer[PasswordBufferSize];

// The progress window; null while none is open.
extern HWND ProgressWindow;

// A runtime download's running byte count and expected size. The progress
// window's timer turns them into the bar position.
extern int DownloadProgress;
extern int DownloadTotal;

// MSVFW32.DLL, loaded by the first animation; null otherwise.
extern HMODULE VideoLibrary;

// The temporary file that holds the animation clip; empty when none.
extern char AnimationFile[AnimationFileSize];

// Shows text, or "Corrupt installation detected." for null, in a message
// box captioned "Install" with an OK button; returns when it is closed.
void ShowErrorBox(const char *text);

// Shows "Corrupt installation detected." and ends the run with
// ExitNotInstalled: the payload or the program's own file cannot be
// trusted, or nothing can be installed from here.
__attribute__((noreturn)) void EndRunCorrupt(void);

// Fills out (MessageTextSize bytes) with message text `which`
// (SettingAdminError ... SettingInternet): the package's own text, or the
// built-in string stringId when that is empty.
void LoadMessageText(char *out, SettingText which, UINT stringId);

// Loads COMCTL32.DLL from the system directory and registers the progress
// bar and animation classes, once per process. Called before any dialog;
// when it fails, the progress window cannot be created.
void LoadCommonControls(void);

// Loads the common controls, then runs the modal dialog of template id
// with proc; returns what the dialog ended with, or what DialogBoxParam
// returns when it cannot be shown.
INT_PTR RunDialog(int id, DLGPROC proc);

// Creates DialogFont if it does not exist yet and sets it on every child
// window of dialog (the dialog keeps its own font). SetChildFont is the
// enumeration callback: it sets DialogFont on one child and goes on.
void ApplyDialogFont(HWND dialog);
BOOL CALLBACK SetChildFont(HWND child, LPARAM unused);

// Deletes DialogFont if it was created.
void DeleteDialogFont(void);

// Where the progress window hands the socket client's events (messages
// 1025 and 1026); the driver names the transfer client's handler.
extern int(WINAPI *const SocketEventHandler)(UINT message, WPARAM wParam, LPARAM lParam);

// The dialog procedures, exported for other modules of an installation.
extern "C" INT_PTR CALLBACK LanguageDlg(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
extern "C" INT_PTR CALLBACK PasswordDlg(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
extern "C" INT_PTR CALLBACK ProgressDlg(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The language choice of the start-up. When the settings hold a language
// list (a first further entry), runs the language dialog, which sets
// LanguageIndex. Cancel sets CancelRequested; a dialog that cannot be shown
// leaves the default language.
void SelectLanguage(void);

// Runs the password dialog; returns IDOK or IDCANCEL and leaves the typed
// text in PasswordBuffer either way.
int AskPassword(void);

// Creates the progress window, titled with the product name, unless
// QuietMode is set or the window exists. Leaves ProgressWindow null when
// creation fails, so that a later call tries again.
void ShowProgressWindow(void);

// A stream copy's progress: opens the window, and every 30 ms moves the
// bar to done of total and pumps the messages that keep it painted and
// let Cancel through.
void ShowCopyProgress(unsigned done, unsigned total);

// Writes the clip to AnimationFile once, then opens and plays it in the
// progress window's animation control. Does nothing when video playback
// is not installed.
void StartAnimation(void);

// Destroys the progress window, unloads VideoLibrary and deletes the
// animation file; each only when present, so a second call does nothing.
void CloseProgressWindow(void);
