#include "ui/ui.h"
#include "driver/startup.h"

void LoadMessageText(char *out, int index, const char *settingsPath, const char *key,
                     unsigned stringId)
{
    (void)index;
    out[0] = 0;
    GetPrivateProfileStringA("KestInstaller", key, "", out, MessageTextSize, settingsPath);
    if (!out[0])
        LoadStringA(ModuleHandle, stringId, out, MessageTextSize);
}

void ShowErrorBox(const char *text)
{
    MessageBoxA(0, text ? text : "Corrupt installation detected.", "Install", MB_OK);
}
