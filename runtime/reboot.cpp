#include "runtime/runtime.h"
#include "common/flags.h"
#include "common/routines.h"
#include "common/system.h"
#include "runtime/rules.h"

namespace {

const char ResumeValue[] = "KestStubReboot";

// Windows Installer's own resume entry for the product, if it holds one.
int InstallerResumesProduct(const char *productCode)
{
    char keyPath[CurrentVersionSubKeySize + 8];
    CurrentVersionSubKey(keyPath, sizeof keyPath, "Installer\\RunOnceEntries");
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    char packed[64];
    PackGuid(productCode, packed);
    DWORD size = 1024;
    int holds = RegQueryValueExA(key, packed, 0, 0, 0, &size) == ERROR_SUCCESS && size > 1;
    RegCloseKey(key);
    return holds;
}

} // namespace

int RegisterResume(const char *productCode, const char *command)
{
    if (InstallerResumesProduct(productCode))
        return 1;
    int length = lstrlenA(command);
    if (length > RunOnceCommandLimit)
        return 0;
    char keyPath[CurrentVersionSubKeySize];
    CurrentVersionSubKey(keyPath, sizeof keyPath, "RunOnce");
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, (LPSTR) "", 0, KEY_ALL_ACCESS, 0, &key,
                        &disposition) != ERROR_SUCCESS)
        return 0;
    int written = WriteKeyText(key, ResumeValue, command);
    RegCloseKey(key);
    return written;
}

void RequestReboot(void)
{
    HANDLE token;
    // The pseudo-handle of the current process on NT; the 9x family has
    // no tokens, and the call fails there whatever the handle.
    const HANDLE currentProcess = HANDLE(LONG_PTR(-1));
    if (OpenProcessToken(currentProcess, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges;
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueA(0, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, 0, 0);
        CloseHandle(token);
    }
    ExitWindowsEx(EWX_REBOOT, 0);
    ShutdownStarted = 1;
}

void RemoveResumeValue(void)
{
    HKEY key;
    char runKey[CurrentVersionSubKeySize];
    CurrentVersionSubKey(runKey, sizeof runKey, "Run");
    if (RegOpenKeyExA(HKEY_CURRENT_USER, runKey, 0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, ResumeValue);
    RegCloseKey(key);
}

DWORD WininitStamp(void)
{
    char path[MAX_PATH];
    if (PlatformNT || !SystemFilePath("WININIT.INI", path, 0))
        return 0;
    HFILE file = OpenSystemFile(path, OF_READ);
    if (file == HFILE_ERROR)
        return 0;
    FILETIME written;
    DWORD stamp =
        GetFileTime(HANDLE(INT_PTR(file)), 0, 0, &written) ? written.dwLowDateTime : 0;
    _lclose(file);
    return stamp;
}
