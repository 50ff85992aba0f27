#include "common/settings.h"

InstallerSettingsRecord InstallerSettings;
int DotNetMode;

const char SettingsSection[] = "KestInstaller";

// An external package is a packed installer's choice alone: a settings file
// names its package with ProductFile.
const char *const SettingTextKey[SettingTextCount] = {
    "CmdLine", "AdminError", "ExistError", "SpaceError", "CRCError", "Reboot", "Internet",
    0,         "KestInitLangPrompt", "KestInitLangDefault"};
