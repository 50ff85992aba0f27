// Windows Sockets 1.1, bound at run time from the system directory, and
// the events the socket client asks it for.
#pragma once
#include <windows.h>
#include <winsock.h>

enum { SocketEventMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE };

struct WinsockBinding {
    int(WINAPI *Startup)(WORD, LPWSADATA);
    int(WINAPI *Cleanup)(void);
    int(WINAPI *LastError)(void);
    SOCKET(WINAPI *Socket)(int, int, int);
    int(WINAPI *AsyncSelect)(SOCKET, HWND, u_int, long);
    int(WINAPI *Connect)(SOCKET, const struct sockaddr *, int);
    int(WINAPI *Send)(SOCKET, const char *, int, int);
    int(WINAPI *Recv)(SOCKET, char *, int, int);
    int(WINAPI *Shutdown)(SOCKET, int);
    int(WINAPI *SetSockOpt)(SOCKET, int, int, const char *, int);
    int(WINAPI *CloseSocket)(SOCKET);
    unsigned long(WINAPI *InetAddr)(const char *);
    struct hostent *(WINAPI *GetHostByName)(const char *);
};
extern WinsockBinding Winsock;

// Fills Winsock once. Returns 0 when the library or one of its entry
// points is missing.
int BindWinsock(void);
