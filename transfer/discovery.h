// The proxy of the machine's browser settings, found once per process.
#pragma once
#include "transfer/proxy.h"

extern ProxyConfigRecord ProxyConfig;

// ProxyConfig through a register, as CurrentTransfer has the transfer's
// record: each field is then reached from one base, without an address
// and its relocation of its own.
inline ProxyConfigRecord *CurrentProxy(void)
{
    ProxyConfigRecord *config = &ProxyConfig;
    __asm__("" : "+r"(config));
    return config;
}

// Fills ProxyConfig from the machine's browser settings, first source
// with a host wins. Never fails.
void DiscoverProxy(void);
