#include "transfer/transfer.h"
#include "common/window_messages.h"
#include "transfer/response.h"
#include "transfer/socket.h"
#include "transfer/winsock.h"

namespace {

// The SOCKS 4 proxy's reply: a zero, the result, and six bytes that say
// nothing to a client. Only 0x5A grants the connection.
const int SocksReplySize = 8;
const unsigned char SocksGranted = 0x5A;

// The proxy's reply, once all of it is in: its consent completes the
// step, anything else is a refusal. Kept out of its one caller: the two
// together cost the program file more than the call.
__attribute__((noinline)) void ReadSocksReply(TransferStateRecord *state)
{
    if (state->Fill < SocksReplySize)
        return;
    state->Fill = 0;
    if (ReceiveBuffer[1] == SocksGranted)
        SetStatusUnlessFailed(state, TransferStepDone);
    else
        RecordError(state, TransferUnreachable);
}

// The first block of an answer, as ReadResponseStart found it: its status
// line decides whether the body follows the header or the whole answer is
// a failure kept for the report. Returns the offset of what is to be
// written.
unsigned ExamineAnswer(TransferStateRecord *state, const ResponseStart *start, unsigned fill)
{
    state->HeaderSeen = 1;
    if (start->Success) {
        state->LengthKnown = start->LengthKnown;
        state->ContentLength = start->ContentLength;
        return start->Body;
    }
    // Not a 2xx, a header that does not end within the block, or no
    // status line at all.
    SetStatusUnlessFailed(state, TransferServerRefused);
    ReportCursor *report = &state->Report;
    if (report->At && start->Examined) {
        unsigned length = WriteServerText(report->At, unsigned(report->End - report->At) + 1,
                                          state->Diagnostics, ReceiveBuffer, fill, start);
        if (state->Diagnostics)
            report->At += length;
    }
    return start->Body;
}

// Writes out the block held in ReceiveBuffer; start describes it when it
// is the answer's first.
void ProcessBlock(TransferStateRecord *state, const ResponseStart *start)
{
    unsigned fill = unsigned(state->Fill);
    unsigned body = 0;
    int counts = state->HeaderSeen;
    if (!state->HeaderSeen) {
        body = ExamineAnswer(state, start, fill);
        counts = state->Status >= 0;
    }
    state->Fill = 0;
    unsigned written = fill - body;
    if (WriteTarget(state, ReceiveBuffer + body, written) && counts)
        state->BodyBytes = state->BodyBytes > ~0u - written ? ~0u : state->BodyBytes + written;
}

// The end of the answer after a 2xx: a body shorter than its announced
// length is a cut file, not a download.
void FinishAnswer(TransferStateRecord *state)
{
    if (state->Status < 0)
        return;
    if (state->LengthKnown && state->BodyBytes < state->ContentLength) {
        RecordError(state, TransferBodyShort);
        ReportFailure(state, "BodyLength", DWORD(state->BodyBytes));
        return;
    }
    state->Status = TransferSocketDone;
}

} // namespace

int ReceiveBlock(TransferStateRecord *state, int closing)
{
    int ended = 0;
    // The SOCKS reply is read to its last byte and no further: what follows
    // it is the server's answer. It may come in pieces.
    int room = state->SocksPending ? SocksReplySize : TransferBufferSize;
    while (state->Fill < room) {
        int count = Winsock.Recv(state->Socket, (char *)ReceiveBuffer + state->Fill,
                                 room - state->Fill, 0);
        if (count == SOCKET_ERROR) {
            // After the peer's close nothing more will come: a would-block
            // then ends the answer too.
            if (Winsock.LastError() != WSAEWOULDBLOCK) {
                RecordError(state, TransferReceiveFailed);
                ended = 1;
            }
            ended |= closing;
            break;
        }
        if (count == 0) {
            ended = 1;
            break;
        }
        state->Fill += count;
        if (!state->SocksPending)
            AccountProgress(&state->Account, state->Counter, count);
    }
    if (state->SocksPending) {
        ReadSocksReply(state);
        return ended;
    }
    unsigned fill = unsigned(state->Fill);
    if (!fill)
        return ended;
    // Blocks are written whole while they can grow; the last one as it is.
    // The first goes as soon as its header has ended, so that the status
    // and the body's length are known, and a later one as soon as it
    // completes the body.
    ResponseStart start;
    int due = ended || fill > TransferBufferSize - SegmentRoom;
    if (!state->HeaderSeen) {
        ReadResponseStart(ReceiveBuffer, fill, &start);
        due |= start.HeaderEnd != 0;
    } else if (state->LengthKnown) {
        due |= fill >= state->ContentLength - state->BodyBytes;
    }
    if (due)
        ProcessBlock(state, &start);
    // A server may keep the connection open after the announced body: the
    // answer ends with its last byte.
    return ended | (state->LengthKnown && state->BodyBytes >= state->ContentLength);
}

extern "C" int WINAPI t2(UINT message, WPARAM, LPARAM event)
{
    if (message != SocketEventMessage)
        return 0;
    TransferStateRecord *state = CurrentTransfer();
    state->LastEvent = GetTickCount();
    if (HIWORD(event))
        RecordError(state, TransferEventError);
    switch (LOWORD(event)) {
    case FD_READ:
        if (state->SocketOpen && ReceiveBlock(state, 0))
            FinishAnswer(state);
        break;
    case FD_WRITE:
        SendPending(state);
        break;
    case FD_CONNECT:
        SetStatusUnlessFailed(state, TransferStepDone);
        break;
    case FD_CLOSE:
        // Data may still wait behind the close; it is read to the end.
        if (state->SocketOpen)
            while (state->Status >= 0 && !ReceiveBlock(state, 1))
                ;
        FinishAnswer(state);
        break;
    }
    return 0;
}
