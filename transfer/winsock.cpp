#include "transfer/winsock.h"
#include "common/routines.h"

WinsockBinding Winsock;

namespace {

// The entry points in the order of WinsockBinding's fields. WSOCK32 is
// not a KnownDLL: it is loaded by its full path, as every library the
// program does not import.
const char WinsockNames[] = "WSAStartup\0WSACleanup\0WSAGetLastError\0socket\0"
                            "WSAAsyncSelect\0connect\0send\0recv\0shutdown\0"
                            "setsockopt\0closesocket\0inet_addr\0gethostbyname\0";

} // namespace

int BindWinsock(void)
{
    return Winsock.Startup ||
           BindSystemEntries("WSOCK32.DLL", WinsockNames, &Winsock, sizeof Winsock,
                             sizeof Winsock / sizeof(FARPROC));
}
