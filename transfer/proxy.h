// The proxy the socket client goes through, and the hosts it reaches
// directly: the record and the pure rules that read the browsers' values.
// Pure: no Windows headers; the registry and profile reads that feed them
// come with the socket client.
#pragma once

enum {
    ProxyHostSize = 256,
    ProxyServerTextSize = 512, // a "ProxyServer" value as read
    BypassListSize = 1024,
    ProxyCredentialSize = 64,
    DefaultHttpPort = 80
};

struct ProxyConfigRecord {
    char Host[ProxyHostSize]; // empty: no proxy
    unsigned short Port;
    int Socks;                // nonzero: a SOCKS 4 proxy; zero: an HTTP proxy
    char BypassList[BypassListSize];
    char UserName[ProxyCredentialSize];
    char Password[ProxyCredentialSize];
};

// Reads a "ProxyServer" value: one proxy for every protocol ("h:3128"), or
// entries such as "ftp=f:21;http=h:8080;socks=s:1080", of which the first
// "http=" or "socks=" entry counts ("https=" is not "http="); a "socks="
// entry is passed over while config already names a host. Sets Host, Port
// (80 without one) and Socks. Returns 0, leaving config as it was, for a
// value too long for its buffer or a host too long for Host: a cut value
// would name another proxy.
int ParseProxyServer(const char *value, ProxyConfigRecord *config);

// Rewrites a bypass list in place into host suffixes separated by ';':
// blanks, tabs, CR, LF and ',' become ';'; "*." becomes ";;"; ':' and the
// digits right after it become ';'. Empty entries may remain.
void NormaliseBypassList(char *list);

// 1 when host ends with an entry of the normalised list, ignoring case, at
// a label boundary: "alpha" matches "alpha" and "srv.alpha", not "xalpha".
int MatchBypassList(const char *list, const char *host);
