#include "transfer/state.h"

TransferStateRecord TransferState;
char TransferBuffer[TransferBufferSize];
unsigned char ReceiveBuffer[TransferBufferSize];

// Inlined at each of its callers, it would cost the program file more than
// the calls.
__attribute__((noinline)) void SetStatusUnlessFailed(TransferStateRecord *state, int status)
{
    if (state->Status >= 0)
        state->Status = status;
}

void RecordError(TransferStateRecord *state, int error)
{
    state->Status = error;
}

void ReportFailure(TransferStateRecord *state, const char *key, DWORD value)
{
    if (state->Diagnostics) {
        ReportNumber(&state->Report, key, value, 0);
        return;
    }
    // Outside diagnostics the reason follows a message after an empty line,
    // and the cursor stays: the last reason is the one reported.
    ReportCursor line = state->Report;
    ReportText(&line, "\r\n\r\n");
    ReportNumber(&line, key, value, 0);
}

int WriteTarget(TransferStateRecord *state, const void *data, unsigned count)
{
    if (state->Target == HFILE_ERROR || count == 0)
        return 1;
    if (_lwrite(state->Target, (LPCCH)data, count) == count)
        return 1;
    RecordError(state, TransferWriteFailed);
    ReportFailure(state, "WriteError", GetLastError());
    return 0;
}

void DispatchTransferMessages(const TransferStateRecord *state)
{
    MSG message;
    while (PeekMessageA(&message, state->Window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
