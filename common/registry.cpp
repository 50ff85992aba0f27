#include "common/routines.h"
#include "common/text.h"

const char CurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

void CurrentVersionSubKey(char *out, unsigned capacity, const char *subKey)
{
    CopyText(out, capacity, CurrentVersionKey);
    AppendText(out, capacity, "\\");
    AppendText(out, capacity, subKey);
}

void ReadKeyText(HKEY key, const char *valueName, char *out, unsigned capacity)
{
    DWORD type, length = capacity;
    // A stored text need not end in NUL: one that fills out without its
    // own is cut, and a cut text, or a number's bytes, would name some
    // other file or host.
    if (RegQueryValueExA(key, valueName, 0, &type, (BYTE *)out, &length) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || (length == capacity && out[capacity - 1]))
        length = 0;
    out[length < capacity ? length : capacity - 1] = 0;
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
