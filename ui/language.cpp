#include "ui/ui.h"
#include "common/flags.h"
#include "ui/language_list.h"
#include "ui/resource.h"
#include "common/text.h"
#include "common/settings.h"
#include "common/state.h"
#include "common/system.h"

namespace {

// Payload entries hold up to 519 characters; settings-file ones up to 255.
enum { EntrySize = 520 };

// This program's own module, also when another module has loaded it.
extern "C" IMAGE_DOS_HEADER __ImageBase;

void InitLanguageDialog(HWND dialog)
{
    // Another module of an installation may run this dialog without this
    // program's start-up: the settings file then lies beside this module's
    // own file, as it does for a run of the program.
    if (!SettingsPath[0]) {
        char path[ModulePathSize];
        unsigned length =
            SystemModulePath(reinterpret_cast<HMODULE>(&__ImageBase), path, sizeof path);
        if (length && length + 4 < sizeof path)
            MakeSettingsPath(SettingsPath, ModulePathSize, path);
    }
    ApplyDialogFont(dialog);
    SetWindowTextA(dialog, InstallerSettings.ProductName);

    char entry[EntrySize];
    ReadSettingText(SettingLanguagePrompt, entry, EntrySize);
    // The prompt is the template's first control. Its ID is -1, as for
    // every static text, so it is not looked up by ID.
    if (entry[0])
        SetWindowTextA(GetWindow(dialog, GW_CHILD), entry);

    ReadSettingText(SettingFirstLanguage, entry, EntrySize);
    if (!entry[0])
        CopyText(entry, EntrySize, "English");

    unsigned userLanguage = GetUserDefaultLangID();
    int match = NoLanguageMatch;
    HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
    // An empty entry ends the list.
    for (int index = 0; entry[0];) {
        SplitLanguageEntry(entry, index, userLanguage, InstallerSettings.CharSize, &match);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
        ReadLanguageEntry(++index, entry, EntrySize);
    }

    if (match != NoLanguageMatch) {
        InstallerSettings.LanguageIndex = match;
        EndDialog(dialog, IDOK);
    } else {
        SendMessageA(list, LB_SETCURSEL, 0, 0);
    }
}

} // namespace

// Returns FALSE for every message, WM_INITDIALOG included, so that the
// dialog manager leaves the focus where it is.
extern "C" INT_PTR CALLBACK LanguageDlg(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        InitLanguageDialog(dialog);
    } else if (message == WM_COMMAND) {
        InstallerSettings.LanguageIndex =
            int(SendDlgItemMessageA(dialog, IDC_LANGUAGE_LIST, LB_GETCURSEL, 0, 0));
        int command = LOWORD(wParam);
        if (HIWORD(wParam) == LBN_DBLCLK)
            command = IDOK;
        if (command == IDOK || command == IDCANCEL)
            EndDialog(dialog, command);
    }
    return FALSE;
}

void SelectLanguage(void)
{
    char first[EntrySize];
    ReadLanguageEntry(1, first, sizeof first);
    if (!first[0])
        return;
    if (RunDialog(IDD_LANGUAGE, LanguageDlg) == IDCANCEL)
        CancelRequested = 1;
}
