// The socket client's steps, in the order t1 calls them: the connection
// and the request (socket.cpp), and the answer read at each event
// (receive.cpp).
#pragma once
#include "transfer/state.h"

// Blocks are collected up to TransferBufferSize and written whole once
// less room than one full segment is left.
enum { SegmentRoom = 1460 };

// Connects, through the proxy where one is used, and leaves the request
// text pending. Returns 0 when it could not (the status says why, unless
// the scheme was refused or the caller cancelled).
int OpenHttpRequest(TransferStateRecord *state, const char *url, const char *form);

// Sends what is pending until the socket would block.
void SendPending(TransferStateRecord *state);

// Pumps the window's messages until the status changes or the caller
// cancels; records TransferStalled after a minute without a socket event,
// and TransferSelectFailed once the window is destroyed.
void PumpUntilStatus(TransferStateRecord *state);

// Stops the events, takes what has arrived and closes the socket, at once
// when the caller has cancelled.
void CloseTransferSocket(TransferStateRecord *state);

// Reads what the socket holds into ReceiveBuffer and writes out a block
// when it is nearly full or the answer has ended. With closing, the peer
// has closed and a would-block ends the answer too. Returns 1 when the
// answer has ended: the peer closed, reading failed, or the announced
// body is complete.
int ReceiveBlock(TransferStateRecord *state, int closing);
