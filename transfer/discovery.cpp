#include "transfer/discovery.h"
#include <windows.h>
#include "common/decimal.h"
#include "common/routines.h"
#include "common/system.h"
#include "common/text.h"

ProxyConfigRecord ProxyConfig;

namespace {

const char ClassKeyPrefix[] = "Mirelo\\";

// The unnamed value of HKEY_CLASSES_ROOT\<key> into out (size bytes,
// always terminated). 0 when it cannot be read; a value longer than out
// cannot be read either, rather than be cut into another one. Kept a
// routine of its own, as the reads below are: inlined at each caller, it
// costs the program file more than the calls.
__attribute__((noinline)) int ReadClassValue(const char *key, char *out, LONG size)
{
    out[0] = 0;
    LONG length = size;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key, out, &length) != ERROR_SUCCESS) {
        out[0] = 0;
        return 0;
    }
    out[size - 1] = 0;
    return 1;
}

// The unnamed value of HKEY_CLASSES_ROOT\Mirelo\<name>, as ReadClassValue.
int ReadProgramValue(const char *name, char *out, LONG size)
{
    char key[32];
    CopyText(key, sizeof key, ClassKeyPrefix);
    AppendText(key, sizeof key, name);
    return ReadClassValue(key, out, size);
}

// A number of an open key: four bytes, stored as a number; otherwise when
// it cannot be read, and for anything else, such as "0" stored as text,
// whose bytes would read as a number that is not 0.
DWORD ReadKeyNumber(HKEY key, const char *name, DWORD otherwise)
{
    DWORD type, value, length = sizeof value;
    return RegQueryValueExA(key, name, 0, &type, (BYTE *)&value, &length) == ERROR_SUCCESS &&
                   length == sizeof value && (type == REG_DWORD || type == REG_BINARY)
               ? value
               : otherwise;
}

// A routine of its own for its two callers, as ReadClassValue is.
__attribute__((noinline)) int OpenUserKey(const char *path, HKEY *key)
{
    return RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key) == ERROR_SUCCESS;
}

const char ProxyInformation[] = "Proxy Information";
const char Services[] = "Services";

// Netscape Navigator's key of that name: its proxy settings, or its
// services.
int OpenNavigatorKey(const char *name, HKEY *key)
{
    char path[80];
    CopyText(path, sizeof path, "Software\\Netscape\\Netscape Navigator\\");
    AppendText(path, sizeof path, name);
    return OpenUserKey(path, key);
}

// Netscape Navigator's registry settings, when its proxy type is set: the
// HTTP proxy, else the SOCKS server of its services.
void ReadNavigatorRegistry(ProxyConfigRecord *config)
{
    HKEY key;
    if (!OpenNavigatorKey(ProxyInformation, &key))
        return;
    int inForce = ReadKeyNumber(key, "Proxy Type", 0) != 0;
    if (inForce) {
        ReadKeyText(key, "HTTP_Proxy", config->Host, ProxyHostSize);
        if (config->Host[0]) {
            config->Port = (unsigned short)ReadKeyNumber(key, "HTTP_ProxyPort", config->Port);
            ReadKeyText(key, "No_Proxy", config->BypassList, BypassListSize);
        }
    }
    RegCloseKey(key);
    if (!inForce || config->Host[0] || !OpenNavigatorKey(Services, &key))
        return;
    ReadKeyText(key, "SOCKS_Server", config->Host, ProxyHostSize);
    if (config->Host[0]) {
        config->Socks = 1;
        config->Port = (unsigned short)ReadKeyNumber(key, "SOCKS_ServerPort", config->Port);
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
    if (ReadKeyNumber(key, "ProxyEnable", 0)) {
        ReadKeyText(key, "ProxyServer", text, ProxyServerTextSize);
        if (text[0])
            ParseProxyServer(text, config);
        ReadKeyText(key, "ProxyOverride", config->BypassList, BypassListSize);
    }
    RegCloseKey(key);
}

// A text of a section of the profile `file`, the empty text without one.
__attribute__((noinline)) void ReadProfile(const char *file, const char *section, const char *name,
                                           char *out, unsigned size)
{
    ReadProfileText(section, name, "", out, size, file, 1);
}

// Netscape's NETSCAPE.INI, found beside the program that opens its pages.
void ReadNavigatorProfile(ProxyConfigRecord *config, char *text)
{
    if (!ReadClassValue("NetscapeMarkup\\shell\\open\\command", text, 256) || !text[0])
        return;
    char *name = text;
    for (char *p = text; *p; p = CharNextA(p))
        if (*p == '\\')
            name = p + 1;
    CopyText(name, ProxyServerTextSize - unsigned(name - text), "NETSCAPE.INI");
    // The profile's names are read without regard to case, as the
    // registry's are: Navigator writes "Http_ProxyPort" there.
    if (ReadProfileNumber(ProxyInformation, "Proxy Type", 0, text)) {
        config->Port = (unsigned short)ReadProfileNumber(ProxyInformation, "HTTP_ProxyPort", 0, text);
        ReadProfile(text, ProxyInformation, "HTTP_Proxy", config->Host, ProxyHostSize);
        ReadProfile(text, ProxyInformation, "No_Proxy", config->BypassList, BypassListSize);
    }
    if (!config->Host[0]) {
        ReadProfile(text, Services, "SOCKS_Server", config->Host, ProxyHostSize);
        config->Port = (unsigned short)ReadProfileNumber(Services, "SOCKS_ServerPort", 0, text);
        if (config->Host[0])
            config->Socks = 1;
    }
}

} // namespace

// Kept out of its one caller, the transfer's start-up: the two together
// cost the program file more than the call.
__attribute__((noinline)) void DiscoverProxy(void)
{
    ProxyConfigRecord *config = CurrentProxy();
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
