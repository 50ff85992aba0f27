// Settings-file mode: InstallerSettings from the [KestInstaller] section of
// the INI file beside the program.
#include "driver/settings.h"
#include "driver/cmdline.h"
#include "common/state.h"
#include "common/decimal.h"
#include "common/exit.h"
#include "common/system.h"
#include "common/text.h"
#include "runtime/rules.h"

namespace {

void ReadText(const char *key, char *out, const char *fallback = "")
{
    ReadProfileText(SettingsSection, key, fallback, out, SettingsTextSize, SettingsPath, 0);
}

int ReadInteger(const char *key, int fallback)
{
    return ReadProfileNumber(SettingsSection, key, fallback, SettingsPath);
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

typedef InstallerSettingsRecord Settings;

// The slot that a runtime entry's program or URL fills: the .NET runtime
// takes the NT slot and its update the 9x one.
int Settings::*const StreamSlot[RuntimeEntryCount] = {
    &Settings::StreamSize9X, &Settings::StreamSizeNT, &Settings::StreamSizeNT,
    &Settings::StreamSize9X};

// The plain text settings, read as they stand.
struct TextKey {
    const char *Key;
    char (Settings::*Text)[SettingsTextSize];
};
const TextKey TextKeys[] = {{KeyProductName, &Settings::ProductName},
                            {KeyProductCode, &Settings::ProductCode},
                            {KeyProductVersion, &Settings::ProductVersion},
                            {KeyTransformMSI, &Settings::TransformMSI}};

} // namespace

void ReadSettingsFile(void)
{
    InstallerSettingsRecord &s = InstallerSettings;
    char text[SettingsTextSize];

    ReadText(KeyRuntimeUpdateVersion, text);
    if (!text[0])
        ReadText(KeyRuntimeVersion, text);
    ParseVersionText(text, &s.RuntimeVersionMS, &s.RuntimeVersionLS);

    ReadText(KeyCharFont, s.CharFont, "MS Sans Serif");
    s.CharSet = (unsigned char)ReadInteger(KeyCharSet, 0);
    s.CharSize = (unsigned char)ReadInteger(KeyCharSize, 8);
    if (ReadInteger(KeyKestInitLangAlwaysPrompt, 0))
        s.CharSize |= 0x80;

    for (int entry = 0; entry < RuntimeEntryCount; ++entry) {
        // The size also stands for the expected download.
        int &size = s.*RuntimeMarkField[entry];
        ReadSize(RuntimeSizeKeys[entry], &size);
        s.*RuntimeDownloadSizeField[entry] = unsigned(size);
        if (!HasValue(RuntimeKeys[entry]))
            continue;
        s.*StreamSlot[entry] = 1;
        if (entry == RuntimeEntryDotNet)
            DotNetMode = 1;
    }
    ReadText(SettingTextKey[SettingCmdLine], text);
    ScanQuietSwitch(text);

    for (const TextKey &key : TextKeys)
        ReadText(key.Key, s.*key.Text);
    s.RemovePrevious = ReadInteger(KeyRemovePrevious, 0) == 1;
    s.DelayReboot = (unsigned char)ReadInteger(KeyDelayReboot, 0);

    if (!s.ProductCode[0] || !s.ProductVersion[0])
        EndRun(ExitNotInstalled);
}
