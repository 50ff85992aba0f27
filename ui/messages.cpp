// The message texts: the package's own, else the built-in string table.
#include "ui/ui.h"
#include "common/state.h"
#include "common/exit.h"

void ShowErrorBox(const char *text)
{
    MessageBoxA(0, text ? text : "Corrupt installation detected.", "Install", MB_OK);
}

void EndRunCorrupt(void)
{
    ShowErrorBox(0);
    EndRun(ExitNotInstalled);
}

void LoadMessageText(char *out, SettingText which, UINT stringId)
{
    ReadSettingText(which, out, MessageTextSize);
    if (!out[0])
        LoadStringA(ModuleHandle, stringId, out, MessageTextSize);
}
