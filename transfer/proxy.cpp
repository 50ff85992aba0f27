#include "transfer/proxy.h"
#include "common/decimal.h"
#include "common/text.h"

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

} // namespace

int ParseProxyServer(const char *value, ProxyConfigRecord *config)
{
    if (TextLength(value) >= ProxyServerTextSize)
        return 0;
    int hasEquals = 0;
    for (const char *p = value; *p; ++p)
        hasEquals |= *p == '=';

    // A value without any entry names the proxy of every protocol.
    const char *entry = 0;
    int socks = 0;
    if (!hasEquals) {
        entry = value;
    } else {
        for (const char *p = value; *p && !entry; ++p) {
            if (TextStartsWithNoCase(p, "http=")) {
                entry = p + 5;
            } else if (TextStartsWithNoCase(p, "socks=") && !config->Host[0]) {
                entry = p + 6;
                socks = 1;
            }
        }
        if (!entry)
            return 1;
    }
    if (TextStartsWithNoCase(entry, "http://"))
        entry += 7;

    unsigned length = 0;
    while (entry[length] && entry[length] != ':' && entry[length] != ';')
        ++length;
    if (length >= ProxyHostSize)
        return 0;
    for (unsigned i = 0; i < length; ++i)
        config->Host[i] = entry[i];
    config->Host[length] = 0;
    config->Port = entry[length] == ':' ? (unsigned short)ParseDecimal(entry + length + 1)
                                        : (unsigned short)DefaultHttpPort;
    config->Socks = socks;
    return 1;
}

void NormaliseBypassList(char *list)
{
    for (char *p = list; *p; ++p) {
        char c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
            *p = ';';
        } else if (c == '*' && p[1] == '.') {
            p[0] = p[1] = ';';
            ++p;
        } else if (c == ':') {
            *p = ';';
            while (p[1] >= '0' && p[1] <= '9')
                *++p = ';';
        }
    }
}

// Kept out of its one caller, the connection's steps: the two together
// cost the program file more than the call.
__attribute__((noinline)) int MatchBypassList(const char *list, const char *host)
{
    const char *hostEnd = host + TextLength(host);
    for (const char *entry = list; *entry;) {
        const char *end = entry;
        while (*end && *end != ';')
            ++end;
        // Compared from the ends back, as far as the entry reaches.
        const char *e = end, *h = hostEnd;
        while (e != entry && h != host && LowerAscii(e[-1]) == LowerAscii(h[-1]))
            --e, --h;
        if (end != entry && e == entry && (h == host || h[-1] == '.'))
            return 1;
        entry = *end ? end + 1 : end;
    }
    return 0;
}
