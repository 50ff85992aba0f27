// Removal of an installed version of the product that differs from the
// package's, through Windows Installer's own library.
#include "driver/package.h"
#include "common/exit.h"
#include "common/routines.h"
#include "common/settings.h"
#include "common/text.h"
#include "ui/message_format.h"
#include "ui/resource.h"
#include "ui/ui.h"

namespace {

typedef UINT(WINAPI *MsiGetProductInfoFn)(LPCSTR, LPCSTR, LPSTR, DWORD *);
typedef UINT(WINAPI *MsiConfigureProductFn)(LPCSTR, int, int);

const int InstallLevelDefault = 0;
const int InstallStateAbsent = 2;

} // namespace

void RemovePreviousVersion(void)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    if (!s.ProductCode[0] || !s.ProductVersion[0] || !s.RemovePrevious)
        return;
    HMODULE msi = LoadSystemLibrary("MSI.DLL");
    if (!msi)
        return;
    MsiGetProductInfoFn getInfo = (MsiGetProductInfoFn)GetProcAddress(msi, "MsiGetProductInfoA");
    MsiConfigureProductFn configure =
        (MsiConfigureProductFn)GetProcAddress(msi, "MsiConfigureProductA");

    // The question's arguments are fixed places, so their list is too.
    static char installed[256];
    static const char *const arguments[5] = {s.ProductName, installed, s.ProductName,
                                             s.ProductVersion, s.ProductName};
    while (getInfo) {
        DWORD size = sizeof installed;
        if (getInfo(s.ProductCode, "VersionString", installed, &size) != ERROR_SUCCESS)
            break;
        installed[sizeof installed - 1] = 0;
        if (!installed[0] || TextEqual(installed, s.ProductVersion))
            break;

        char format[MessageTextSize];
        LoadMessageText(format, SettingExistError, IDS_EXIST_ERROR);
        char question[1024];
        FormatMessageText(question, sizeof question, format, arguments, 5);
        if (MessageBoxA(0, question, s.ProductName, MB_YESNO | MB_DEFBUTTON2) != IDYES)
            EndRun(ExitNotInstalled);
        if (configure)
            configure(s.ProductCode, InstallLevelDefault, InstallStateAbsent);
        Sleep(500);
    }
    FreeLibrary(msi);
}
