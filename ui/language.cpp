#include "ui/ui.h"
#include "ui/language_list.h"
#include "ui/resource.h"
#include "common/text.h"
#include "driver/settings.h"
#include "driver/startup.h"
#include "payload/payload.h"

namespace {

enum { EntrySize = 520, SettingsEntrySize = 256 };

const char Section[] = "KestInstaller";

// Reads a payload text of length bytes at the position of OwnFile. A text
// longer than the entry buffer is cut, and the rest of it is skipped, so
// that the items after it are still read from their place.
void ReadEntryText(char *entry, unsigned length)
{
    unsigned fit = length < EntrySize ? length : EntrySize - 1;
    UINT got = _lread(OwnFile, entry, fit);
    entry[got <= fit ? got : 0] = 0;
    if (length > fit)
        _llseek(OwnFile, LONG(length - fit), FILE_CURRENT);
}

unsigned ReadPayloadLength(void)
{
    unsigned char bytes[2] = {0, 0};
    _lread(OwnFile, bytes, sizeof bytes);
    return bytes[0] | bytes[1] << 8;
}

void ReadSetting(const char *key, char *entry, unsigned size)
{
    GetPrivateProfileStringA(Section, key, "", entry, size, SettingsPath);
}

// The entry after the ones already listed: the next further entry of the
// payload, while the header counts one, or the key "Language<index>".
void ReadNextEntry(char *entry, int index)
{
    if (EmbeddedMode) {
        entry[0] = 0;
        if (PayloadHeader.Lengths[LanguageCount]) {
            --PayloadHeader.Lengths[LanguageCount];
            ReadEntryText(entry, ReadPayloadLength());
        }
        return;
    }
    char key[24];
    wsprintfA(key, "Language%d", index);
    ReadSetting(key, entry, SettingsEntrySize);
}

void InitLanguageDialog(HWND dialog)
{
    ApplyDialogFont(dialog);
    SetWindowTextA(dialog, InstallerSettings.ProductName);

    char entry[EntrySize];
    if (EmbeddedMode)
        ReadEntryText(entry, PayloadHeader.Lengths[LengthLanguagePrompt]);
    else
        ReadSetting("KestInitLangPrompt", entry, EntrySize);
    // The prompt is the template's first control. Its ID is -1, as for
    // every static text, so it is not looked up by ID.
    if (entry[0])
        SetWindowTextA(GetWindow(dialog, GW_CHILD), entry);

    if (EmbeddedMode)
        ReadEntryText(entry, PayloadHeader.Lengths[LengthFirstLanguage]);
    else
        ReadSetting("KestInitLangDefault", entry, EntrySize);
    if (!entry[0])
        CopyText(entry, EntrySize, "English");

    unsigned userLanguage = GetUserDefaultLangID();
    int match = NoLanguageMatch;
    HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
    for (int index = 0; entry[0];) {
        SplitLanguageEntry(entry, index, userLanguage, InstallerSettings.CharSize, &match);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
        ReadNextEntry(entry, ++index);
    }
    // An empty further entry ends the list early. The entries after it are
    // read past all the same: the header goes on after the last of them.
    for (; EmbeddedMode && PayloadHeader.Lengths[LanguageCount]; --PayloadHeader.Lengths[LanguageCount])
        _llseek(OwnFile, LONG(ReadPayloadLength()), FILE_CURRENT);

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
    const unsigned char *lengths = PayloadHeader.Lengths;
    if (EmbeddedMode && !lengths[LanguageCount]) {
        SkipLanguagePrompt();
        return;
    }
    if (!EmbeddedMode) {
        char first[SettingsEntrySize];
        ReadSetting("Language1", first, sizeof first);
        if (!first[0])
            return;
    }
    LoadCommonControls();
    if (DialogBoxParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_LANGUAGE), 0, LanguageDlg, 0) == IDCANCEL)
        CancelRequested = 1;
}
