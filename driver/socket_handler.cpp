#include "transfer/transfer.h"
#include "ui/ui.h"

// The progress window passes the socket's events to the transfer client.
// A constant, so that a window of another module that loads this program
// forwards them too, with no start-up of ours having run.
int(WINAPI *const SocketEventHandler)(UINT, WPARAM, LPARAM) = t2;
