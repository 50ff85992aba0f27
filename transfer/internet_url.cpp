#include "transfer/internet_url.h"
#include "common/text.h"
#include "transfer/request.h"

// Kept out of its one caller, the WinInet path: the two together cost the
// program file more than the call.
__attribute__((noinline)) int CleanInternetUrl(const char *url, char *out, char *userName,
                                               char *password)
{
    userName[0] = password[0] = 0;
    if (TextLength(url) >= InternetUrlSize)
        return 0;
    unsigned length = 0, afterSlash = 0;
    // The fragment stays with the client, as HTTP has it.
    for (unsigned i = 0; url[i] && url[i] != '#'; ++i) {
        char c = url[i];
        if ((c == ':' && i > 5 && CredentialsFollow(url + i)) || c == '@') {
            // The credential is what was written since the last '/'; it
            // and its separator leave the URL.
            out[length] = 0;
            CopyText(c == ':' ? userName : password, InternetUrlSize, out + afterSlash);
            length = afterSlash;
            continue;
        }
        out[length++] = c;
        if (c == '/')
            afterSlash = length;
    }
    out[length] = 0;
    // The socket client reaches IPv4 hosts only; both paths refuse alike.
    for (unsigned i = 0; out[i]; ++i)
        if (out[i] == '/' && out[i + 1] == '/')
            return out[i + 2] != '[';
    return 1;
}
