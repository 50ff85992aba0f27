#include "common/routines.h"
#include "common/text.h"

const char CurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

void CurrentVersionSubKey(char *out, unsigned capacity, const char *subKey)
{
    CopyText(out, capacity, CurrentVersionKey);
    AppendText(out, capacity, "\\");
    AppendText(out, capacity, subKey);
}

void ReadMachineText(const char *keyPath, const char *valueName, char *out, unsigned capacity)
{
    out[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    ReadKeyText(key, valueName, out, capacity);
    RegCloseKey(key);
}
