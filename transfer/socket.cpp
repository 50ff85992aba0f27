#include "transfer/socket.h"
#include "common/text.h"
#include "common/window_messages.h"
#include "transfer/discovery.h"
#include "transfer/winsock.h"

namespace {

// The SOCKS 4 request: version 4, CONNECT, the port, the address, and an
// empty user id. Filled at run time: initialised data would cost the
// program file a section.
char SocksRequest[9];

unsigned long ResolveHost(const char *name)
{
    if (!name[0])
        return 0;
    unsigned long address = Winsock.InetAddr(name);
    // inet_addr cannot tell this address from its failure value.
    if (address != INADDR_NONE || TextEqual(name, "255.255.255.255"))
        return address;
    struct hostent *entry = Winsock.GetHostByName(name);
    if (!entry || !entry->h_addr_list[0])
        return 0;
    return *(unsigned long *)entry->h_addr_list[0];
}

void CloseSocketNow(TransferStateRecord *state)
{
    Winsock.CloseSocket(state->Socket);
    state->SocketOpen = 0;
    // Events of this socket may still wait in the queue, and the next
    // socket may get the same handle: an old FD_CLOSE would end the next
    // transfer before its answer arrived.
    MSG stale;
    if (state->Window)
        while (PeekMessageA(&stale, state->Window, SocketEventMessage, SocketEventMessage, PM_REMOVE))
            ;
}

// Starts a non-blocking connection whose completion arrives as FD_CONNECT.
void ConnectSocket(TransferStateRecord *state, const char *name, unsigned short port)
{
    struct sockaddr_in address;
    ZeroMemory(&address, sizeof address);
    address.sin_addr.s_addr = ResolveHost(name);
    if (!address.sin_addr.s_addr) {
        RecordError(state, TransferUnreachable);
        return;
    }
    // Without a window the events would reach no window procedure, and the
    // transfer would wait for them for ever.
    if (!state->Window) {
        RecordError(state, TransferSelectFailed);
        return;
    }
    SOCKET s = Winsock.Socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        RecordError(state, TransferSocketFailed);
        return;
    }
    state->Socket = s;
    state->SocketOpen = 1;
    if (Winsock.AsyncSelect(s, state->Window, SocketEventMessage, SocketEventMask) != 0) {
        RecordError(state, TransferSelectFailed);
        CloseSocketNow(state);
        return;
    }
    address.sin_family = AF_INET;
    address.sin_port = (unsigned short)(port << 8 | port >> 8);
    if (Winsock.Connect(s, (struct sockaddr *)&address, sizeof address) != 0 &&
        Winsock.LastError() != WSAEWOULDBLOCK) {
        RecordError(state, TransferConnectFailed);
        CloseSocketNow(state);
    }
}

void SetPending(TransferStateRecord *state, const char *data, unsigned length)
{
    state->Pending = data;
    state->PendingLength = length;
}

// How long a transfer waits for the next socket event.
const DWORD InactivityLimit = 60000;

int Stopped(const TransferStateRecord *state)
{
    return state->Status < 0 || TransferCancelled(state);
}

} // namespace

int OpenHttpRequest(TransferStateRecord *state, const char *url, const char *form)
{
    UrlParts parts;
    switch (SplitRequestUrl(url, &parts)) {
    case UrlSchemeRefused:
        return 0;
    case UrlPartTooLong:
    case UrlHostRefused:
    case UrlControlRefused:
        RecordError(state, TransferInputRefused);
        return 0;
    case UrlSplitDone:
        break;
    }
    int bypassed = ProxyConfig.BypassList[0] && MatchBypassList(ProxyConfig.BypassList, parts.Host);
    int viaProxy = ProxyConfig.Host[0] && !bypassed;
    // The request is composed before any connection, so that one that does
    // not fit is refused without reaching the network.
    unsigned length = ComposeRequest(&parts, &ProxyConfig, bypassed, form, TransferBuffer,
                                     TransferBufferSize);
    if (!length) {
        RecordError(state, TransferInputRefused);
        return 0;
    }
    state->SocksPending = viaProxy && ProxyConfig.Socks;
    SetPending(state, 0, 0);
    if (viaProxy)
        ConnectSocket(state, ProxyConfig.Host, ProxyConfig.Port);
    else
        ConnectSocket(state, parts.Host, parts.Port);
    PumpUntilStatus(state);
    if (Stopped(state))
        return 0;

    if (state->SocksPending) {
        unsigned long address = ResolveHost(parts.Host);
        if (!address) {
            RecordError(state, TransferUnreachable);
            return 0;
        }
        SocksRequest[0] = 4;
        SocksRequest[1] = 1;
        SocksRequest[2] = char(parts.Port >> 8);
        SocksRequest[3] = char(parts.Port);
        CopyMemory(SocksRequest + 4, &address, 4);
        state->Status = TransferClear;
        SetPending(state, SocksRequest, sizeof SocksRequest);
        SendPending(state);
        PumpUntilStatus(state);
        // The reply decides (receive.cpp); closing is a refusal too.
        if (state->Status == TransferSocketDone)
            RecordError(state, TransferUnreachable);
        if (Stopped(state))
            return 0;
        state->SocksPending = 0;
    }
    state->Status = TransferClear;
    SetPending(state, TransferBuffer, length);
    return 1;
}

void SendPending(TransferStateRecord *state)
{
    // A would-block leaves the rest pending for the next FD_WRITE; what was
    // sent is never sent again.
    while (state->PendingLength && state->SocketOpen) {
        int sent = Winsock.Send(state->Socket, state->Pending, int(state->PendingLength), 0);
        if (sent == SOCKET_ERROR) {
            if (Winsock.LastError() != WSAEWOULDBLOCK)
                RecordError(state, TransferSendFailed);
            return;
        }
        state->Pending += sent;
        state->PendingLength -= unsigned(sent);
    }
}

void PumpUntilStatus(TransferStateRecord *state)
{
    state->LastEvent = GetTickCount();
    // The socket's events arrive as messages: wait for the next one rather
    // than spin, but wake now and then for a cancel flag set elsewhere.
    while (state->Status == TransferClear && !TransferCancelled(state)) {
        // A window destroyed under the transfer receives no more events, and
        // a server that holds the connection and sends nothing would be
        // waited for without end.
        if (!IsWindow(state->Window)) {
            RecordError(state, TransferSelectFailed);
            return;
        }
        if (GetTickCount() - state->LastEvent > InactivityLimit) {
            RecordError(state, TransferStalled);
            return;
        }
        MSG message;
        if (PeekMessageA(&message, state->Window, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        } else {
            MsgWaitForMultipleObjects(0, 0, FALSE, 50, QS_ALLINPUT);
        }
    }
}

void CloseTransferSocket(TransferStateRecord *state)
{
    if (!state->SocketOpen)
        return;
    if (state->Window && Winsock.AsyncSelect(state->Socket, state->Window, 0, 0) != 0)
        SetStatusUnlessFailed(state, TransferUnselectFailed);
    if (Winsock.Shutdown(state->Socket, 1) == 0) {
        // Takes only what has already arrived, as the socket does not
        // block, and no more than a block: a server still sending after a
        // cancel must not keep the caller here.
        char rest[1024];
        for (int n = 0; n < TransferBufferSize / int(sizeof rest); ++n)
            if (Winsock.Recv(state->Socket, rest, sizeof rest, 0) <= 0)
                break;
        if (TransferCancelled(state)) {
            // An abortive close: the server learns at once that nobody reads.
            struct linger abort = {1, 0};
            Winsock.SetSockOpt(state->Socket, SOL_SOCKET, SO_LINGER, (const char *)&abort, sizeof abort);
        }
    }
    CloseSocketNow(state);
}
