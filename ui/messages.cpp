// The message texts: the package's own, else the built-in string table.
#include "ui/ui.h"
#include "driver/startup.h"
#include "payload/format.h"

void ShowErrorBox(const char *text)
{
    MessageBoxA(0, text ? text : "Corrupt installation detected.", "Install", MB_OK);
}

void LoadMessageText(char *out, HeaderLength index, const char *settingsPath, const char *key,
                     UINT stringId)
{
    out[0] = 0;
    if (EmbeddedMode) {
        // Read out of order: the driver's forward position must survive.
        LONG position = _llseek(OwnFile, 0, FILE_CURRENT);
        _llseek(OwnFile,
                PayloadHeader.TextRegionOffset + LONG(TextOffsetInRegion(PayloadHeader.Lengths, index)),
                FILE_BEGIN);
        UINT got = _lread(OwnFile, out, PayloadHeader.Lengths[index]);
        if (got == UINT(HFILE_ERROR))
            got = 0;
        out[got] = 0; // at most 255 bytes were read
        _llseek(OwnFile, position, FILE_BEGIN);
    } else {
        GetPrivateProfileStringA("KestInstaller", key, "", out, MessageTextSize, settingsPath);
    }
    if (!out[0])
        LoadStringA(ModuleHandle, stringId, out, MessageTextSize);
}
