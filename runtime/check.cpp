#include "runtime/runtime.h"
#include "common/settings.h"
#include "common/text.h"
#include "common/routines.h"
#include "runtime/rules.h"

namespace {

void InstalledVersion(DWORD *ms, DWORD *ls)
{
    char path[MAX_PATH];
    SystemFilePath(DotNetMode ? "MSCOREE.DLL" : "MSI.DLL", path, 0);
    QueryFileVersion(path, ms, ls);
    // .NET 1.0 gives its own version only through its worker process.
    if (DotNetMode && *ms == 0x00010000 && *ls == 0x0E790000) {
        SystemFilePath("Microsoft.NET\\Framework\\v1.0.3705\\aspnet_wp.exe", path, 1);
        DWORD workerMS, workerLS;
        if (QueryFileVersion(path, &workerMS, &workerLS) == 0) {
            *ms = workerMS;
            *ls = workerLS;
        }
    }
}

int IsAdministrator(void)
{
    SC_HANDLE manager = OpenSCManagerA(0, 0, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if (!manager)
        return 0;
    CloseServiceHandle(manager);
    return 1;
}

} // namespace

RuntimeCheck CheckRuntime(void)
{
    // Windows 2000 and XP answer "runas" with a Run As dialog of their
    // own, for administrators too, and NT 4 and the 9x family know no such
    // verb: there the program checks the rights itself, as before.
    ShellElevates = PlatformNT && LOBYTE(GetVersion()) >= 6;

    DWORD ms, ls;
    InstalledVersion(&ms, &ls);
    if (PlatformNT)
        RepairEnvironmentValues();

    const InstallerSettingsRecord *s = &InstallerSettings;
    if (!RuntimeTooOld(ms, ls, s->RuntimeVersionMS, s->RuntimeVersionLS, DotNetMode) ||
        !RuntimeStepWanted(s, DotNetMode, PlatformNT))
        return NoRuntimeStep;
    if (PlatformNT && !ShellElevates && !IsAdministrator())
        return RuntimeNoAdmin;
    return RuntimeStep;
}

void RepairEnvironmentValues(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                      KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    char name[1024];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = sizeof name, type, size;
        if (RegEnumValueA(key, index, name, &nameLength, 0, &type, 0, &size) != ERROR_SUCCESS)
            break;
        // An empty expandable value breaks some installers' expansion of
        // the environment; an empty plain one does not. It is rewritten in
        // place: deleted first, it would be lost if the write then failed.
        if (type == REG_EXPAND_SZ && size <= 1 &&
            RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)"", 1) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
}
