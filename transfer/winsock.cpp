#include "transfer/transfer.h"
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
    if (Winsock.Startup)
        return 1;
    HMODULE library = LoadSystemLibrary("WSOCK32.DLL");
    if (!library)
        return 0;
    // Every field is a function pointer of the same size, in name order.
    FARPROC entries[sizeof(WinsockBinding) / sizeof(FARPROC)];
    unsigned count = 0;
    for (const char *name = WinsockNames; *name; ++count) {
        entries[count] = GetProcAddress(library, name);
        if (!entries[count])
            return 0;
        while (*name++)
            ;
    }
    CopyMemory(&Winsock, entries, sizeof Winsock);
    return 1;
}
