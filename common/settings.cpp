#include "common/settings.h"
#include "common/text.h"

InstallerSettingsRecord InstallerSettings;
int DotNetMode;

const char SettingsSection[] = "KestInstaller";

const char KeyProductName[] = "ProductName";
const char KeyProductCode[] = "ProductCode";
const char KeyProductVersion[] = "ProductVersion";
const char KeyProductFile[] = "ProductFile";
const char KeyTransformMSI[] = "TransformMSI";
const char KeyCharFont[] = "CharFont";
const char KeyCharSet[] = "CharSet";
const char KeyCharSize[] = "CharSize";
const char KeyKestInitLangAlwaysPrompt[] = "KestInitLangAlwaysPrompt";
const char KeyRuntimeVersion[] = "RuntimeVersion";
const char KeyRuntimeUpdateVersion[] = "RuntimeUpdateVersion";
const char KeyRuntime9X[] = "Runtime9X";
const char KeyRuntimeNT[] = "RuntimeNT";
const char KeyRuntimeDotNet[] = "RuntimeDotNet";
const char KeyRuntimeDotNetUpdate[] = "RuntimeDotNetUpdate";
const char KeyRuntimeSize9X[] = "RuntimeSize9X";
const char KeyRuntimeSizeNT[] = "RuntimeSizeNT";
const char KeyRuntimeSizeDotNet[] = "RuntimeSizeDotNet";
const char KeyRuntimeSizeDotNetUpdate[] = "RuntimeSizeDotNetUpdate";
const char KeyDelayReboot[] = "DelayReboot";
const char KeyRemovePrevious[] = "Remove Previous";
const char KeyLanguageStem[] = "Language";
const char KeyLanguageFileStem[] = "LanguageFile";

// An external package is a packed installer's choice alone: a settings file
// names its package with ProductFile.
const char *const SettingTextKey[SettingTextCount] = {
    "CmdLine", "AdminError", "ExistError", "SpaceError", "CRCError", "Reboot", "Internet",
    0,         "KestInitLangPrompt", "KestInitLangDefault", "HashError"};

void MakeSettingsPath(char *out, unsigned capacity, const char *modulePath)
{
    unsigned length = CopyText(out, capacity, modulePath);
    unsigned dot = length;
    for (unsigned i = length; i > 0; --i) {
        if (out[i - 1] == '\\')
            break;
        if (out[i - 1] == '.') {
            dot = i - 1;
            break;
        }
    }
    if (dot < capacity)
        out[dot] = 0;
    AppendText(out, capacity, ".ini");
}

const char *const RuntimeKeys[RuntimeEntryCount] = {KeyRuntime9X, KeyRuntimeNT, KeyRuntimeDotNet,
                                                    KeyRuntimeDotNetUpdate};
const char *const RuntimeSizeKeys[RuntimeEntryCount] = {KeyRuntimeSize9X, KeyRuntimeSizeNT,
                                                        KeyRuntimeSizeDotNet,
                                                        KeyRuntimeSizeDotNetUpdate};
const char KeyInstMsiCmdLine[] = "InstMsi CmdLine";
