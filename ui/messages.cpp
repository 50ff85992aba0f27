// The message texts: the package's own, else the built-in string table.
#include "ui/ui.h"
#include "driver/startup.h"

void ShowErrorBox(const char *text)
{
    MessageBoxA(0, text ? text : "Corrupt installation detected.", "Install", MB_OK);
}

void LoadMessageText(char *out, HeaderLength index, const char *settingsPath, const char *key,
                     UINT stringId)
{
    out[0] = 0;
    if (EmbeddedMode) {
        ReadPayloadText(index, out, MessageTextSize);
    } else {
        GetPrivateProfileStringA("KestInstaller", key, "", out, MessageTextSize, settingsPath);
    }
    if (!out[0])
        LoadStringA(ModuleHandle, stringId, out, MessageTextSize);
}
