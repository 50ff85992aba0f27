// What the WinInet path sends: the URL without the credentials written
// before its host, and the request headers. Pure: no Windows headers.
#pragma once

enum {
    InternetUrlSize = 256,
    InternetHeaderSize = 1024
};

// Copies url into out (InternetUrlSize bytes) without "user:password@":
// a ':' past the scheme's own that an '@' follows before the next '/' ends
// a user name, an '@' a password, each running back to the last '/'
// written, and neither stays in the URL. So "http://U:P@host/file" gives
// "http://host/file", U and P, while "http://host:8080/file" keeps its
// port. The fragment, from the first '#', is left out. userName and
// password hold InternetUrlSize bytes. Returns 0 for a URL too long for
// out, or one whose host is an IPv6 literal.
int CleanInternetUrl(const char *url, char *out, char *userName, char *password);

// Writes the request headers into out (InternetHeaderSize bytes): the
// Basic Authorization line when both credentials are given, then
// "Accept: */*". Returns 0 when the credentials do not fit.
int ComposeInternetHeaders(const char *userName, const char *password, char *out);
