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
        // Points at the screen's pixels per inch, rounded to the nearest
        // pixel; both are small, so the product cannot overflow.
        int height =
            -int(((s.CharSize & CharSizePoints) * GetDeviceCaps(dc, LOGPIXELSY) + 36) / 72);
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
