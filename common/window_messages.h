// Window messages that pass between layers. Pure: no Windows headers.
#pragma once

enum {
    // Windows Sockets posts the transfer socket's events to the window the
    // transfer names; the window hands them, and the next message, to the
    // transfer client's handler.
    SocketEventMessage = 1025,
    SocketLateMessage = 1026
};
