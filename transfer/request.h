// The socket client's one HTTP/1.0 request: the URL split into its parts,
// Basic credentials, the form encoding of a post, and the request text.
// Pure: no Windows headers.
#pragma once
#include "transfer/proxy.h"

enum {
    UrlPartSize = 256,
    UrlTokenSize = 512,
    CredentialTextSize = 256, // "user:password" before encoding
    EncodedCredentialSize = 512,
    TransferBufferSize = 30720
};

struct UrlParts {
    char UserName[UrlPartSize];
    char Password[UrlPartSize];
    char Host[UrlPartSize];
    char Path[UrlPartSize]; // without its leading '/'
    unsigned short Port;    // DefaultHttpPort unless the URL names one
};

enum UrlSplit {
    UrlSplitDone,
    UrlSchemeRefused, // neither "http://" (any case) nor "ftp://" (lower-case f)
    UrlPartTooLong,   // a part does not fit: a cut part would name another resource
    UrlControlRefused, // a control character, which would end the request's line early
    UrlHostRefused    // an IPv6 literal, or a port that is not 1 to 65535
};

// 1 when an '@' comes in text before the next '/' or its end: a ':' there
// ends a user name; anywhere else after the host it begins a port.
int CredentialsFollow(const char *text);

// Splits url into its parts as the socket client reads it: "user:password@"
// before the host (a ':' ends a user name only when an '@' follows before
// the next '/'), an optional ":port" after the host, the host known only
// once a '/' follows it, and an '@' inside the password kept. A '#' ends
// the URL: the fragment is never sent.
UrlSplit SplitRequestUrl(const char *url, UrlParts *parts);

// Writes into out (EncodedCredentialSize bytes) the base64 text of
// "user:password". Returns 0, writing the empty text, when the two do not
// fit CredentialTextSize together.
int EncodeBasicCredentials(const char *user, const char *password, char *out);

// Appends the encoding of a form text (lines of name=value separated by CR
// LF) to out, which holds capacity bytes and *length of them already.
// Returns 0 when it does not fit; out then holds a cut text.
int FormEncode(const char *form, char *out, unsigned capacity, unsigned *length);

// Writes the whole request into out (capacity bytes): request line, the
// Authorization line, the Proxy-Authorization line, the form headers or
// "Accept", the blank line and, when postForm is not null, the encoded
// form with its length. The request line names the host (and a port other
// than 80), and the proxy's credentials go along, only for an HTTP proxy
// that the host does not bypass. Returns the request's length, or 0 when
// it does not fit.
unsigned ComposeRequest(const UrlParts *url, const ProxyConfigRecord *proxy, int bypassed,
                        const char *postForm, char *out, unsigned capacity);
