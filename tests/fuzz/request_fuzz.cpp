// The socket client's request from what its caller and the machine give:
// the URL, the proxy value, bypass list and credentials, and the form of a
// post. Input: URL NUL ProxyServer NUL bypass-list NUL proxy-user NUL
// proxy-password NUL form NUL options (post, capacity of a lone form).
#include "fuzz.h"
#include <cctype>
#include <cstdlib>
#include "transfer/proxy.h"
#include "transfer/request.h"

namespace {

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The form encoding writes letters, digits, '+', '=', '&' and %XX alone.
bool FormEncoded(const std::string &text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() + 0 || !IsHex(text[i + 1]) || !IsHex(text[i + 2]))
                return false;
            i += 2;
        } else if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '=' &&
                   c != '&') {
            return false;
        }
    }
    return true;
}

void CheckLoneForm(const std::string &formText, unsigned capacity)
{
    fuzz::Buffer form(formText, formText.size() + 1);
    fuzz::Buffer out(capacity);
    out.get()[0] = 0;
    unsigned length = 0;
    int fits = FormEncode(form.get(), out.get(), capacity, &length);
    FUZZ_CHECK(length < capacity && out.get()[length] == 0);
    FUZZ_CHECK(std::strlen(out.get()) == length);
    // A cut text may end inside an escape; a whole one never does.
    if (fits)
        FUZZ_CHECK(FormEncoded(out.get()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Fields fields(data, size);
    std::string options = fields[6];
    bool post = !options.empty() && (options[0] & 1);
    unsigned loneCapacity = options.size() > 1 ? 1 + (unsigned char)options[1] : 64;
    CheckLoneForm(fields[5], loneCapacity);

    // t1 takes URLs of up to 255 characters.
    fuzz::Buffer url(fields[0], 256);
    UrlParts parts;
    if (SplitRequestUrl(url.get(), &parts) != UrlSplitDone)
        return 0;

    // What proxy discovery leaves: credentials from 64-byte values, the
    // server value and the bypass list parsed and normalised.
    ProxyConfigRecord proxy;
    std::memset(&proxy, 0, sizeof proxy);
    proxy.Port = DefaultHttpPort;
    fuzz::Buffer user(fields[3], ProxyCredentialSize), password(fields[4], ProxyCredentialSize);
    std::strcpy(proxy.UserName, user.get());
    std::strcpy(proxy.Password, password.get());
    fuzz::Buffer server(fields[1], ProxyServerTextSize);
    ParseProxyServer(server.get(), &proxy);
    fuzz::Buffer bypass(fields[2], BypassListSize);
    std::strcpy(proxy.BypassList, bypass.get());
    NormaliseBypassList(proxy.BypassList);
    int bypassed = proxy.BypassList[0] && MatchBypassList(proxy.BypassList, parts.Host);

    fuzz::Buffer form(fields[5], fields[5].size() + 1);
    fuzz::Buffer out(TransferBufferSize);
    unsigned length = ComposeRequest(&parts, &proxy, bypassed, post ? form.get() : nullptr,
                                     out.get(), TransferBufferSize);
    FUZZ_CHECK(out.Terminated());
    if (!length) {
        // Only credentials too long to encode, or a form too long for the
        // buffer, leave no request.
        bool userTooLong = std::strlen(parts.UserName) + 1 + std::strlen(parts.Password) >=
                               CredentialTextSize && parts.UserName[0] && parts.Password[0];
        FUZZ_CHECK(userTooLong || post);
        return 0;
    }
    FUZZ_CHECK(length < TransferBufferSize && out.get()[length] == 0);
    std::string request(out.get());
    FUZZ_CHECK(request.size() == length);
    std::string line = std::string(post ? "POST " : "GET ") +
                       (proxy.Host[0] && !bypassed && !proxy.Socks
                            ? std::string("http://") + parts.Host +
                                  (parts.Port != DefaultHttpPort
                                       ? ":" + std::to_string(parts.Port)
                                       : std::string())
                            : std::string()) +
                       "/" + parts.Path + " HTTP/1.0\r\n";
    FUZZ_CHECK(request.compare(0, line.size(), line) == 0);
    // The URL cannot end the request line early: its first line break is
    // the one after "HTTP/1.0".
    FUZZ_CHECK(request.find_first_of("\r\n") == line.size() - 2);
    size_t end = request.find("\r\n\r\n", line.size() - 2);
    FUZZ_CHECK(end != std::string::npos);
    std::string body = request.substr(end + 4);
    if (!post) {
        FUZZ_CHECK(body.empty());
        return 0;
    }
    // The announced length is that of the body that follows.
    size_t field = request.find("Content-Length:", line.size());
    FUZZ_CHECK(field != std::string::npos && field < end);
    FUZZ_CHECK(std::strtoul(request.c_str() + field + 15, nullptr, 10) == body.size());
    FUZZ_CHECK(FormEncoded(body));
    return 0;
}
