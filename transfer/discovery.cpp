#include "transfer/discovery.h"
#include <windows.h>
#include "common/decimal.h"
#include "common/routines.h"
#include "common/text.h"

ProxyConfigRecord ProxyConfig;

namespace {

const char ClassKeyPrefix[] = "Mirelo\\";

// The unnamed value of HKEY_CLASSES_ROOT\Mirelo\<name> into out (size
// bytes, always terminated). 0 when it cannot be read; a value longer than
// out cannot be read either, rather than be cut into another one.
int ReadProgramValue(const char *name, char *out, LONG size)
{
    char key[32];
    CopyText(key, sizeof key, ClassKeyPrefix);
    AppendText(key, sizeof key, name);
    out[0] = 0;
    LONG length = size;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key, out, &length) != ERROR_SUCCESS) {
        out[0] = 0;
        return 0;
    }
    out[size - 1] = 0;
    return 1;
}

// A number of an open key: four bytes, stored as a number. 0 when it
// cannot be read, and for anything else, such as "0" stored as text, whose
// bytes would read as a number that is not 0.
int ReadKeyNumber(HKEY key, const char *name, DWORD *value)
{
    DWORD type, length = sizeof *value;
    *value = 0;
    return RegQueryValueExA(key, name, 0, &type, (BYTE *)value, &length) == ERROR_SUCCESS &&
           length == sizeof *value && (type == REG_DWORD || type == REG_BINARY);
}

int OpenUserKey(const char *path, HKEY *key)
{
    return RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key) == ERROR_SUCCESS;
}

const char NetscapeKey[] = "Software\\Netscape\\Netscape Navigator\\";
const char ProxyInformation[] = "Proxy Information";

// Netscape Navigator's registry settings, when its proxy type is set: the
// HTTP proxy, else the SOCKS server of its services.
void ReadNavigatorRegistry(ProxyConfigRecord *config)
{
    char path[80];
    CopyText(path, sizeof path, NetscapeKey);
    AppendText(path, sizeof path, ProxyInformation);
    HKEY key;
    if (!OpenUserKey(path, &key))
        return;
    DWORD value;
    int inForce = ReadKeyNumber(key, "Proxy Type", &value) && value;
    if (inForce) {
        ReadKeyText(key, "HTTP_Proxy", config->Host, ProxyHostSize);
        if (config->Host[0]) {
            if (ReadKeyNumber(key, "HTTP_ProxyPort", &value))
                config->Port = (unsigned short)value;
            ReadKeyText(key, "No_Proxy", config->BypassList, BypassListSize);
        }
    }
    RegCloseKey(key);
    if (!inForce || config->Host[0])
        return;
    CopyText(path, sizeof path, NetscapeKey);
    AppendText(path, sizeof path, "Services");
    if (!OpenUserKey(path, &key))
        return;
    ReadKeyText(key, "SOCKS_Server", config->Host, ProxyHostSize);
    if (config->Host[0]) {
        config->Socks = 1;
        if (ReadKeyNumber(key, "SOCKS_ServerPort", &value))
            config->Port = (unsigned short)value;
    }
    RegCloseKey(key);
}

// Internet Explorer's settings, when its proxy is enabled.
void ReadExplorerSettings(ProxyConfigRecord *config, char *text)
{
    char path[CurrentVersionSubKeySize];
    CurrentVersionSubKey(path, sizeof path, "Internet Settings");
    HKEY key;
    if (!OpenUserKey(path, &key))
        return;
    DWORD enabled;
    if (ReadKeyNumber(key, "ProxyEnable", &enabled) && enabled) {
        ReadKeyText(key, "ProxyServer", text, ProxyServerTextSize);
        if (text[0])
            ParseProxyServer(text, config);
        ReadKeyText(key, "ProxyOverride", config->BypassList, BypassListSize);
    }
    RegCloseKey(key);
}

// Netscape's NETSCAPE.INI, found beside the program that opens its pages.
void ReadNavigatorProfile(ProxyConfigRecord *config, char *text)
{
    text[0] = 0;
    LONG length = 256;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, "NetscapeMarkup\\shell\\open\\command", text, &length) !=
            ERROR_SUCCESS ||
        !text[0])
        return;
    text[255] = 0;
    char *name = text;
    for (char *p = text; *p; p = CharNextA(p))
        if (*p == '\\')
            name = p + 1;
    CopyText(name, ProxyServerTextSize - unsigned(name - text), "NETSCAPE.INI");
    if (GetPrivateProfileIntA(ProxyInformation, "Proxy Type", 0, text)) {
        config->Port = (unsigned short)GetPrivateProfileIntA(ProxyInformation, "Http_ProxyPort", 0, text);
        GetPrivateProfileStringA(ProxyInformation, "HTTP_Proxy", "", config->Host, ProxyHostSize, text);
        GetPrivateProfileStringA(ProxyInformation, "No_Proxy", "", config->BypassList, BypassListSize,
                                 text);
    }
    if (!config->Host[0]) {
        GetPrivateProfileStringA("Services", "SOCKS_Server", "", config->Host, ProxyHostSize, text);
        config->Port = (unsigned short)GetPrivateProfileIntA("Services", "SOCKS_ServerPort", 0, text);
        if (config->Host[0])
            config->Socks = 1;
    }
}

} // namespace

void DiscoverProxy(void)
{
    ProxyConfigRecord *config = &ProxyConfig;
    config->Port = DefaultHttpPort;
    config->Socks = 0;
    config->Host[0] = config->BypassList[0] = 0;
    // The proxy credentials count whichever source names the proxy.
    ReadProgramValue("ProxyUsername", config->UserName, ProxyCredentialSize);
    ReadProgramValue("ProxyPassword", config->Password, ProxyCredentialSize);

    char text[ProxyServerTextSize];
    // The program's own switch, when present, decides alone.
    if (ReadProgramValue("ProxyEnable", text, 256)) {
        if (text[0] == '1' && ReadProgramValue("ProxyServer", text, ProxyServerTextSize))
            ParseProxyServer(text, config);
        return;
    }
    ReadNavigatorRegistry(config);
    if (!config->Host[0])
        ReadExplorerSettings(config, text);
    if (!config->Host[0])
        ReadNavigatorProfile(config, text);
    if (config->BypassList[0])
        NormaliseBypassList(config->BypassList);
}
