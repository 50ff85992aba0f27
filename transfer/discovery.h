// The proxy of the machine's browser settings, found once per process.
#pragma once
#include "transfer/proxy.h"

extern ProxyConfigRecord ProxyConfig;

// Fills ProxyConfig from the machine's browser settings, first source
// with a host wins. Never fails.
void DiscoverProxy(void);
