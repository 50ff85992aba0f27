// The URL as the transfer client's caller gives it: the socket client's
// split into credentials, host and path, the WinInet path's removal of the
// credentials with its request headers, Basic credentials, and the SHA-256
// pin that may follow a runtime's URL or path. Input: URL NUL user NUL
// password.
#include "fuzz.h"
#include "payload/sha256.h"
#include "transfer/internet_url.h"
#include "transfer/request.h"

namespace {

// t1 refuses longer URLs before either path sees them.
const size_t UrlLimit = 255;

std::string DecodeBase64(const std::string &text)
{
    static const std::string Alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0, count = 0;
    for (char c : text) {
        if (c == '=')
            break;
        size_t v = Alphabet.find(c);
        FUZZ_CHECK(v != std::string::npos);
        bits = bits << 6 | unsigned(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += char((bits >> count) & 0xFF);
        }
    }
    return out;
}

void CheckSplit(const std::string &text)
{
    fuzz::Buffer url(text, text.size() + 1);
    UrlParts parts;
    std::memset(&parts, 0x5A, sizeof parts);
    UrlSplit split = SplitRequestUrl(url.get(), &parts);
    size_t length = std::strlen(url.get());
    // No part of a URL that t1 takes can outgrow its buffer.
    if (length <= UrlLimit)
        FUZZ_CHECK(split != UrlPartTooLong);
    if (split != UrlSplitDone)
        return;
    FUZZ_CHECK(fuzz::Terminated(parts.UserName) && fuzz::Terminated(parts.Password) &&
               fuzz::Terminated(parts.Host) && fuzz::Terminated(parts.Path));
    // The fragment is never sent: nothing from the first '#' on.
    std::string rest = url.get() + (url.get()[0] == 'f' ? 6 : 7);
    rest = rest.substr(0, rest.find('#'));
    for (const char *part : {parts.UserName, parts.Password, parts.Host, parts.Path})
        FUZZ_CHECK(!std::strchr(part, '#'));
    // Nothing is invented: the parts hold no more than the URL after its
    // scheme.
    FUZZ_CHECK(std::strlen(parts.UserName) + std::strlen(parts.Password) +
                   std::strlen(parts.Host) + std::strlen(parts.Path) <=
               rest.size());
    // Without credentials or a port, the host runs to the first '/' after
    // it. (A first '@' is the host's own; a ':' anywhere begins a port.)
    if (rest.size() > 1 && rest.find(':') == std::string::npos &&
        rest.find('@', 1) == std::string::npos) {
        FUZZ_CHECK(!parts.UserName[0] && !parts.Password[0]);
        size_t slash = rest.find('/', 1);
        if (slash == std::string::npos) {
            FUZZ_CHECK(!parts.Host[0] && rest == parts.Path);
        } else {
            FUZZ_CHECK(rest.substr(0, slash) == parts.Host);
            FUZZ_CHECK(rest.substr(slash + 1) == parts.Path);
        }
    }
}

void CheckInternetUrl(const std::string &text)
{
    fuzz::Buffer url(text, text.size() + 1);
    fuzz::Buffer out(InternetUrlSize), user(InternetUrlSize), password(InternetUrlSize);
    size_t length = std::strlen(url.get());
    int taken = CleanInternetUrl(url.get(), out.get(), user.get(), password.get());
    FUZZ_CHECK(user.Terminated() && password.Terminated());
    if (!taken) {
        // Too long, or an IPv6 literal for a host.
        FUZZ_CHECK(length >= InternetUrlSize || std::string(url.get()).find('[') != std::string::npos);
        return;
    }
    FUZZ_CHECK(out.Terminated());
    std::string clean = out.get();
    FUZZ_CHECK(clean.size() <= length);
    // No credential separator stays, nor the fragment; without an '@', a
    // ':' is a port's and the URL stays whole up to its fragment.
    FUZZ_CHECK(clean.find('@') == std::string::npos && clean.find('#') == std::string::npos);
    std::string sent = std::string(url.get()).substr(0, std::string(url.get()).find('#'));
    if (sent.find('@') == std::string::npos)
        FUZZ_CHECK(clean == sent && !user.get()[0] && !password.get()[0]);

    fuzz::Buffer headers(InternetHeaderSize);
    if (!ComposeInternetHeaders(user.get(), password.get(), headers.get())) {
        FUZZ_CHECK(std::strlen(user.get()) + 1 + std::strlen(password.get()) >=
                   CredentialTextSize);
        return;
    }
    FUZZ_CHECK(headers.Terminated());
    std::string h = headers.get();
    const std::string accept = "Accept: */*\r\n";
    FUZZ_CHECK(h.size() >= accept.size() && h.compare(h.size() - accept.size(), accept.size(),
                                                      accept) == 0);
}

void CheckCredentials(const std::string &userText, const std::string &passwordText)
{
    // The callers' credentials come from buffers of UrlPartSize bytes.
    fuzz::Buffer user(userText, UrlPartSize), password(passwordText, UrlPartSize);
    fuzz::Buffer out(EncodedCredentialSize);
    std::string joined = std::string(user.get()) + ":" + password.get();
    if (!EncodeBasicCredentials(user.get(), password.get(), out.get())) {
        FUZZ_CHECK(joined.size() >= CredentialTextSize && out.get()[0] == 0);
        return;
    }
    FUZZ_CHECK(out.Terminated());
    FUZZ_CHECK(std::strlen(out.get()) == (joined.size() + 2) / 3 * 4);
    FUZZ_CHECK(DecodeBase64(out.get()) == joined);
}

// The pin is read from a source of SettingsTextSize bytes.
void CheckPin(const std::string &text)
{
    fuzz::Buffer source(text, 256);
    const std::string before = source.get();
    unsigned digest[8];
    DigestPin pin = TakeDigestPin(source.get(), digest);
    FUZZ_CHECK(source.Terminated());
    if (pin != PinGiven) {
        FUZZ_CHECK(before == source.get());
        return;
    }
    // Cut at the last '#', after which stood exactly the digest's digits.
    size_t mark = before.rfind('#');
    FUZZ_CHECK(mark != std::string::npos && std::string(source.get()) == before.substr(0, mark));
    std::string hex = before.substr(mark + 8);
    FUZZ_CHECK(hex.size() == Sha256TextSize);
    for (int i = 0; i < Sha256TextSize; ++i) {
        char digit = "0123456789abcdef"[(digest[i >> 3] >> (28 - 4 * (i & 7))) & 15];
        FUZZ_CHECK((hex[size_t(i)] | 0x20) == digit);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Fields fields(data, size);
    CheckSplit(fields[0]);
    CheckInternetUrl(fields[0]);
    CheckPin(fields[0]);
    CheckCredentials(fields[1], fields[2]);
    return 0;
}
