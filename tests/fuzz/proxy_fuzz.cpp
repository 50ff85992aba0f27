// The proxy settings as the browsers leave them: the "ProxyServer" value,
// the bypass list, and the test of a host against that list. Input:
// ProxyServer NUL bypass-list NUL host NUL options (a host already known).
#include "fuzz.h"
#include "transfer/proxy.h"
#include "transfer/request.h"

namespace {

std::vector<std::string> Entries(const char *list)
{
    std::vector<std::string> entries;
    std::string entry;
    for (const char *p = list;; ++p) {
        if (*p == ';' || !*p) {
            if (!entry.empty())
                entries.push_back(entry);
            entry.clear();
            if (!*p)
                break;
        } else {
            entry += *p;
        }
    }
    return entries;
}

void CheckServer(const std::string &value, bool hostKnown)
{
    ProxyConfigRecord config;
    std::memset(&config, 0x5A, sizeof config);
    config.Host[0] = 0;
    if (hostKnown)
        std::strcpy(config.Host, "known");
    config.Port = DefaultHttpPort;
    config.Socks = 0;
    ProxyConfigRecord before = config;
    // The value as read, in a block of its own size: the parser itself
    // refuses what would not fit the buffer that the readers use.
    fuzz::Buffer text(value, value.size() + 1);
    int taken = ParseProxyServer(text.get(), &config);
    if (!taken) {
        FUZZ_CHECK(std::memcmp(&config, &before, sizeof config) == 0);
        return;
    }
    FUZZ_CHECK(std::strlen(text.get()) < ProxyServerTextSize);
    FUZZ_CHECK(fuzz::Terminated(config.Host));
    FUZZ_CHECK(!std::strchr(config.Host, ':') && !std::strchr(config.Host, ';'));
    // A SOCKS entry never replaces a host already known.
    if (config.Socks)
        FUZZ_CHECK(!before.Host[0]);
    FUZZ_CHECK(config.Socks == 0 || config.Socks == 1);
    FUZZ_CHECK(std::memcmp(config.BypassList, before.BypassList, sizeof config.BypassList) == 0);
}

void CheckBypass(const std::string &value, const std::string &hostText)
{
    fuzz::Buffer list(value, BypassListSize);
    size_t length = std::strlen(list.get());
    NormaliseBypassList(list.get());
    FUZZ_CHECK(std::strlen(list.get()) == length);
    FUZZ_CHECK(!std::strpbrk(list.get(), " \t\r\n,:"));
    FUZZ_CHECK(!std::strstr(list.get(), "*."));

    // The request's host, as the URL split leaves it.
    fuzz::Buffer host(hostText, UrlPartSize);
    int match = MatchBypassList(list.get(), host.get());
    std::vector<std::string> entries = Entries(list.get());
    if (entries.empty())
        FUZZ_CHECK(match == 0);
    // Every entry matches itself and the hosts of its domain.
    for (size_t i = 0; i < entries.size() && i < 8; ++i) {
        if (entries[i].size() + 5 >= UrlPartSize)
            continue;
        fuzz::Buffer same(entries[i], UrlPartSize);
        FUZZ_CHECK(MatchBypassList(list.get(), same.get()) == 1);
        fuzz::Buffer below("srv." + entries[i], UrlPartSize);
        FUZZ_CHECK(MatchBypassList(list.get(), below.get()) == 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Fields fields(data, size);
    std::string options = fields[3];
    CheckServer(fields[0], !options.empty() && (options[0] & 1));
    CheckBypass(fields[1], fields[2]);
    return 0;
}
