// The transfer client's entry points, exported for other modules of an
// installation: t1 downloads a URL into a file or posts a form, t2 takes
// the socket events that the caller's window receives. One transfer runs
// at a time, on the caller's thread.
#pragma once
#include <windows.h>
#include "transfer/status.h"

// Runs one transfer and returns a TransferStatus; a null url tears the
// client down instead. A call made while another runs, as from the
// caller's window procedure while t1 pumps its messages, is refused with
// TransferBusy and touches nothing.
extern "C" int WINAPI t1(const int *cancel, const char *url, const char *target, HWND window,
                         int *counter, int expected, int share, DWORD dosDate, DWORD dosTime,
                         char *status);

// Hands a socket event (SocketEventMessage) to the running transfer; any
// other message is ignored. Returns 0.
extern "C" int WINAPI t2(UINT message, WPARAM wParam, LPARAM lParam);
