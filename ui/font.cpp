#include "ui/ui.h"
#include "common/settings.h"

HFONT DialogFont;

BOOL CALLBACK SetChildFont(HWND child, LPARAM)
{
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont), TRUE);
    return TRUE;
}

void ApplyDialogFont(HWND dialog)
{
    // Made once, for the resolution of the first dialog's screen; every
    // later dialog shares it.
    if (!DialogFont) {
        const InstallerSettingsRecord &s = InstallerSettings;
        HDC dc = GetDC(dialog);
        int height = -MulDiv(s.CharSize & CharSizePoints, GetDeviceCaps(dc, LOGPIXELSY), 72);
        ReleaseDC(dialog, dc);
        DialogFont = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, s.CharSet, 0, 0,
                                 0, 0, s.CharFont);
    }
    EnumChildWindows(dialog, SetChildFont, 0);
}

void DeleteDialogFont(void)
{
    if (DialogFont) {
        DeleteObject(DialogFont);
        DialogFont = 0;
    }
}
