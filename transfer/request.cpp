#include "transfer/request.h"
#include "transfer/internet_url.h"
#include "common/decimal.h"
#include "common/text.h"

namespace {

// A text that is filled to its capacity and says whether everything fitted.
struct Builder {
    char *Text;
    unsigned Capacity;
    unsigned Length;
    int Fits;
};

void PutChar(Builder *b, char c)
{
    if (b->Length + 1 < b->Capacity) {
        b->Text[b->Length++] = c;
        b->Text[b->Length] = 0;
    } else {
        b->Fits = 0;
    }
}

void Put(Builder *b, const char *text)
{
    for (; *text; ++text)
        PutChar(b, *text);
}

void PutNumber(Builder *b, unsigned n)
{
    char digits[12];
    digits[sizeof digits - 1] = 0;
    Put(b, FormatDecimal(n, digits + sizeof digits - 1));
}

// Takes ":port" off the end of the host; 0 for a port that is not a
// number from 1 to 65535. An IPv6 literal ("[::1]") fails here too: the
// client reaches IPv4 hosts only.
int SplitPort(UrlParts *parts)
{
    parts->Port = DefaultHttpPort;
    for (char *p = parts->Host; *p; ++p) {
        if (*p != ':')
            continue;
        *p = 0;
        unsigned port = 0;
        while (*++p)
            if (*p < '0' || *p > '9' || (port = port * 10 + unsigned(*p - '0')) > 65535)
                return 0;
        parts->Port = (unsigned short)port;
        return port != 0;
    }
    return 1;
}

// Stores token into part; 0 when it does not fit.
int TakeToken(char *part, const char *token, unsigned length)
{
    if (length >= UrlPartSize)
        return 0;
    for (unsigned i = 0; i < length; ++i)
        part[i] = token[i];
    part[length] = 0;
    return 1;
}

int IsAlphanumeric(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The base64 character of the low six bits of bits: A-Z, a-z, 0-9, '+'
// and '/'. Computed rather than looked up, which costs fewer bytes than
// the alphabet.
char Base64Digit(unsigned bits)
{
    bits &= 63;
    if (bits < 26)
        return char('A' + bits);
    if (bits < 52)
        return char('a' - 26 + bits);
    if (bits < 62)
        return char('0' - 52 + bits);
    return bits == 62 ? '+' : '/';
}

void PutHexByte(Builder *b, unsigned char c)
{
    static const char Hex[] = "0123456789ABCDEF";
    PutChar(b, '%');
    PutChar(b, Hex[c >> 4]);
    PutChar(b, Hex[c & 15]);
}

// The two fields of Basic credentials, one the end of the other.
const char ProxyAuthorization[] = "Proxy-Authorization: Basic ";
const char *const ServerAuthorization = ProxyAuthorization + 6;

// Puts the field and the encoded credentials, and ends the line. 0 when
// they cannot be encoded.
int PutCredentials(Builder *b, const char *field, const char *user, const char *password)
{
    char encoded[EncodedCredentialSize];
    if (!EncodeBasicCredentials(user, password, encoded))
        return 0;
    Put(b, field);
    Put(b, encoded);
    Put(b, "\r\n");
    return 1;
}

} // namespace

int ComposeInternetHeaders(const char *userName, const char *password, char *out)
{
    out[0] = 0;
    Builder b = {out, InternetHeaderSize, 0, 1};
    if (userName[0] && password[0] &&
        !PutCredentials(&b, ServerAuthorization, userName, password))
        return 0;
    Put(&b, "Accept: */*\r\n");
    return 1;
}

int CredentialsFollow(const char *p)
{
    for (; *p && *p != '/' && *p != '#'; ++p)
        if (*p == '@')
            return 1;
    return 0;
}

// Kept out of its one caller, as ComposeRequest is.
__attribute__((noinline)) UrlSplit SplitRequestUrl(const char *url, UrlParts *parts)
{
    // "ftp://" is read only with a lower-case 'f': a capital first letter
    // means a seven-character scheme, which "FTP://x" is not.
    unsigned schemeLength = url[0] == 'f' ? 6 : 7;
    if (TextLength(url) < schemeLength ||
        !(TextStartsWithNoCase(url, schemeLength == 6 ? "ftp://" : "http://")))
        return UrlSchemeRefused;
    parts->UserName[0] = parts->Password[0] = parts->Host[0] = parts->Path[0] = 0;

    // Each part is the text since the last separator taken; the password
    // runs from its ':' to the last '@' before the host.
    const char *token = url + schemeLength, *password = 0;
    int hostKnown = 0;
    // A fragment ("#sha256=..." pins a runtime installer) belongs to the
    // client alone: HTTP never sends it.
    const char *end = token;
    while (*end && *end != '#')
        ++end;
    for (const char *p = token; p != end;) {
        if (unsigned(p - token) + 1 >= UrlTokenSize)
            return UrlPartTooLong;
        // A CR or LF would let the URL add lines of its own to the request.
        if ((unsigned char)*p < ' ' || *p == 0x7F)
            return UrlControlRefused;
        ++p;
        if (*p == ':' && !password && !hostKnown && CredentialsFollow(p)) {
            if (!TakeToken(parts->UserName, token, unsigned(p - token)))
                return UrlPartTooLong;
            password = token = ++p;
        }
        if (*p == '@' && password && !hostKnown) {
            if (!TakeToken(parts->Password, password, unsigned(p - password)))
                return UrlPartTooLong;
            token = ++p;
        }
        if (*p == '/' && !hostKnown) {
            if (!TakeToken(parts->Host, token, unsigned(p - token)))
                return UrlPartTooLong;
            hostKnown = 1;
            token = ++p;
        }
    }
    if (!TakeToken(parts->Path, token, unsigned(end - token)))
        return UrlPartTooLong;
    return SplitPort(parts) ? UrlSplitDone : UrlHostRefused;
}

int EncodeBasicCredentials(const char *user, const char *password, char *out)
{
    out[0] = 0;
    if (TextLength(user) + 1 + TextLength(password) >= CredentialTextSize)
        return 0;

    // Six bits a character, the last one filled up with zero bits, then
    // '=' to a whole group of four. The user name's NUL stands for the
    // ':' before the password.
    unsigned bits = 0, at = 0;
    int held = 0;
    const char *text = user, *next = password;
    for (;;) {
        unsigned char c = static_cast<unsigned char>(*text++);
        if (!c) {
            if (!next)
                break;
            c = ':';
            text = next;
            next = 0;
        }
        bits = bits << 8 | c;
        for (held += 8; held >= 6;) {
            held -= 6;
            out[at++] = Base64Digit(bits >> held);
        }
    }
    if (held)
        out[at++] = Base64Digit(bits << (6 - held));
    while (at % 4)
        out[at++] = '=';
    out[at] = 0;
    return 1;
}

int FormEncode(const char *form, char *out, unsigned capacity, unsigned *length)
{
    Builder b = {out, capacity, *length, 1};
    // The '=' that may stay literal: the first of the text, then the one a
    // new field's name ends with. None once used.
    const char *mark = 0;
    int markUsed = 0;
    for (const char *p = form; *p;) {
        unsigned char c = static_cast<unsigned char>(*p++);
        if (c == '\r') {
            if (*p == '\n')
                ++p;
            if (!*p)
                break;
            const char *look = p;
            while (*look && *look != '\r' && *look != ' ' && *look != '=')
                ++look;
            while (*look == ' ')
                ++look;
            if (*look == '=') {
                PutChar(&b, '&');
                mark = look;
                markUsed = 0;
            } else {
                Put(&b, "%0D%0A");
            }
        } else if (c == ' ') {
            PutChar(&b, '+');
        } else if (IsAlphanumeric(c)) {
            PutChar(&b, char(c));
        } else if (c == '=' && ((!mark && !markUsed) || (mark && p - 1 == mark))) {
            PutChar(&b, '=');
            mark = 0;
            markUsed = 1;
        } else {
            PutHexByte(&b, c);
        }
    }
    *length = b.Length;
    return b.Fits;
}

// A routine of its own although it has one caller: inlined there, beside
// the URL's parts and the connection's steps, the two cost the program
// file some two hundred bytes more than the call.
__attribute__((noinline)) unsigned ComposeRequest(const UrlParts *url,
                                                  const ProxyConfigRecord *proxy, int bypassed,
                                                  const char *postForm, char *out,
                                                  unsigned capacity)
{
    out[0] = 0;
    Builder b = {out, capacity, 0, 1};
    Put(&b, postForm ? "POST " : "GET ");
    // An HTTP proxy is asked for the whole URL; a host reached directly,
    // and a SOCKS proxy's far end, for the path alone.
    int viaHttpProxy = proxy->Host[0] && !bypassed && !proxy->Socks;
    if (viaHttpProxy) {
        Put(&b, "http://");
        Put(&b, url->Host);
        if (url->Port != DefaultHttpPort) {
            PutChar(&b, ':');
            PutNumber(&b, url->Port);
        }
    }
    Put(&b, "/");
    Put(&b, url->Path);
    Put(&b, " HTTP/1.0\r\n");

    if (url->UserName[0] && url->Password[0] &&
        !PutCredentials(&b, ServerAuthorization, url->UserName, url->Password))
        return 0;
    // The proxy's credentials are for the proxy alone: never for a server
    // reached directly or through SOCKS.
    if (viaHttpProxy && proxy->UserName[0] &&
        !PutCredentials(&b, ProxyAuthorization, proxy->UserName, proxy->Password))
        return 0;
    unsigned lengthField = 0;
    if (postForm) {
        Put(&b, "Content-type: application/x-www-form-urlencoded\r\nContent-Length:      \r\n");
        lengthField = b.Length - 7; // after the colon and one blank
    } else {
        Put(&b, "Accept: */*\r\n");
    }
    Put(&b, "\r\n");
    if (postForm) {
        unsigned bodyStart = b.Length;
        if (b.Fits && !FormEncode(postForm, out, capacity, &b.Length))
            b.Fits = 0;
        // The body's length right-aligned in the five blanks after the
        // first; a buffer of 30,720 bytes keeps it below 100,000.
        if (b.Fits)
            FormatDecimal(b.Length - bodyStart, out + lengthField + 5);
    }
    return b.Fits ? b.Length : 0;
}
