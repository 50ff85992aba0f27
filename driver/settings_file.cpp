// Settings-file mode: InstallerSettings from the [KestInstaller] section of
// the INI file beside the program.
#include "driver/settings.h"
#include "driver/cmdline.h"
#include "common/state.h"
#include "common/decimal.h"
#include "common/exit.h"
#include "common/text.h"

namespace {

void ReadText(const char *key, char *out, const char *fallback = "")
{
    GetPrivateProfileStringA(SettingsSection, key, fallback, out, SettingsTextSize, SettingsPath);
}

int ReadInteger(const char *key, int fallback)
{
    return int(GetPrivateProfileIntA(SettingsSection, key, fallback, SettingsPath));
}

// A size key counts only when it is present and not empty.
void ReadSize(const char *key, int *size)
{
    char text[SettingsTextSize];
    ReadText(key, text);
    if (text[0])
        *size = ParseDecimal(text);
}

// 1 when the key has a value.
int HasValue(const char *key)
{
    char text[SettingsTextSize];
    ReadText(key, text);
    return text[0] != 0;
}

} // namespace

void ReadSettingsFile(void)
{
    InstallerSettingsRecord &s = InstallerSettings;
    char text[SettingsTextSize];

    ReadText("RuntimeUpdateVersion", text);
    if (!text[0])
        ReadText("RuntimeVersion", text);
    ParseVersionText(text, &s.RuntimeVersionMS, &s.RuntimeVersionLS);

    ReadText("CharFont", s.CharFont, "MS Sans Serif");
    s.CharSet = (unsigned char)ReadInteger("CharSet", 0);
    s.CharSize = (unsigned char)ReadInteger("CharSize", 8);
    if (ReadInteger("KestInitLangAlwaysPrompt", 0))
        s.CharSize |= 0x80;
    ReadText("ProductName", s.ProductName);

    if (HasValue("RuntimeNT"))
        s.StreamSizeNT = 1;
    ReadSize("RuntimeSizeNT", &s.RuntimeSizeNT);
    if (HasValue("Runtime9X"))
        s.StreamSize9X = 1;
    ReadText(SettingTextKey[SettingCmdLine], text);
    ScanQuietSwitch(text);
    ReadSize("RuntimeSize9X", &s.RuntimeSize9X);
    if (HasValue("RuntimeDotNet")) {
        s.StreamSizeNT = 1;
        DotNetMode = 1;
    }
    if (HasValue("RuntimeDotNetUpdate"))
        s.StreamSize9X = 1;
    ReadSize("RuntimeSizeDotNet", &s.RuntimeSizeDotNet);
    ReadSize("RuntimeSizeDotNetUpdate", &s.RuntimeSizeDotNetUpdate);
    s.DownloadSize9X = unsigned(s.RuntimeSize9X);
    s.DownloadSizeNT = unsigned(s.RuntimeSizeNT);
    s.DownloadSizeDotNet = unsigned(s.RuntimeSizeDotNet);
    s.DownloadSizeDotNetUpdate = unsigned(s.RuntimeSizeDotNetUpdate);

    ReadText("ProductCode", s.ProductCode);
    ReadText("ProductVersion", s.ProductVersion);
    ReadText("TransformMSI", s.TransformMSI);
    s.RemovePrevious = ReadInteger("Remove Previous", 0) == 1;
    s.DelayReboot = (unsigned char)ReadInteger("DelayReboot", 0);

    if (!s.ProductCode[0] || !s.ProductVersion[0])
        EndRun(ExitNormal);
}
