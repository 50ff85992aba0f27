#include "payload/stream.h"
#include <commctrl.h>
#include "payload/crc32.h"
#include "payload/keystream.h"
#include "driver/startup.h"
#include "common/routines.h"
#include "ui/position.h"
#include "ui/resource.h"
#include "ui/ui.h"

int CrcFailed;

namespace {

// The table lives in the image rather than in a global memory block, so
// that a module which loads this program (and never runs its start-up, nor
// gets its imports resolved everywhere) can still call UpdateCRC.
unsigned CrcTableStorage[CrcTableEntries];
unsigned *CrcTable;
// The shared register, kept complemented: its reset value 0xFFFFFFFF then
// needs no initialised data section of its own.
unsigned CrcRegisterComplement;


// Reads until count bytes are in or the file ends, so that every chunk but
// the last holds whole keystream words even if the file layer hands out
// shorter pieces. Returns the bytes read.
int ReadFull(unsigned char *buffer, int count)
{
    int done = 0;
    while (done < count) {
        UINT got = _lread(OwnFile, buffer + done, UINT(count - done));
        if (got == 0 || got == UINT(HFILE_ERROR))
            break;
        done += int(got);
    }
    return done;
}

} // namespace

void BuildCrcTable(void)
{
    FillCrcTable(CrcTableStorage);
    CrcTable = CrcTableStorage;
}

void FreeCrcTable(void)
{
    CrcTable = 0;
}

extern "C" DWORD WINAPI UpdateCRC(const BYTE *data, DWORD length)
{
    if (!data) {
        CrcRegisterComplement = ~CrcRegisterReset;
        return 0;
    }
    if (!CrcTable)
        BuildCrcTable();
    CrcRegisterComplement = ~FoldCrc(~CrcRegisterComplement, CrcTable, data, length);
    return CrcRegisterComplement;
}

int CopyStream(HFILE output, int size, int descramble)
{
    // No room for the trailer: nothing in it can be trusted.
    if (size < 4) {
        CrcFailed = 1;
        return 1;
    }
    UpdateCRC(0, 0);
    DWORD crc = 0;
    int total = size - 4;
    int remaining = total;
    for (;;) {
        int request = remaining > IoBufferSize ? IoBufferSize : remaining;
        int got = ReadFull(IoBuffer, request);
        if (got <= 0)
            break;
        if (ProgressWindow && total >= 10) {
            SendDlgItemMessageA(ProgressWindow, IDC_PROGRESS_BAR, PBM_SETPOS,
                                ProgressPosition(unsigned(total - remaining), unsigned(total)), 0);
        }
        if (descramble)
            KeystreamXor(IoBuffer, got);
        crc = UpdateCRC(IoBuffer, DWORD(got));
        if (_lwrite(output, reinterpret_cast<LPCCH>(IoBuffer), UINT(got)) != UINT(got))
            return 1;
        remaining -= got;
        ShowProgressWindow();
        PumpMessages();
        if (CancelRequested)
            return 0;
    }
    DWORD trailer = 0;
    if (_lread(OwnFile, &trailer, 4) == 4 && trailer == crc)
        return 0;
    CrcFailed = 1;
    return 1;
}
