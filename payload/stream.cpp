#include "payload/stream.h"
#include "common/flags.h"
#include "payload/crc32.h"
#include "payload/keystream.h"
#include "payload/vector.h"
#include "common/state.h"

int CrcFailed;
CopyProgressFn CopyProgress;

namespace {

// The table lives in the image rather than in a global memory block, so
// that a module which loads this program (and never runs its start-up, nor
// gets its imports resolved everywhere) can still call UpdateCRC.
unsigned CrcTableStorage[CrcTableEntries];
unsigned *CrcTable;
// Chosen with the table: on the 128-bit registers where they are usable.
CrcFoldFn CrcFold;
KeystreamXorFn Descramble;
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
    int vector = VectorPathUsable();
    CrcFold = vector ? FoldCrcWide : FoldCrc;
    Descramble = vector ? KeystreamXorWide : KeystreamXor;
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
    CrcRegisterComplement = ~CrcFold(~CrcRegisterComplement, CrcTable, data, length);
    return CrcRegisterComplement;
}

CopyResult CopyStream(HFILE output, int size, int descramble)
{
    // No room for the trailer: nothing in it can be trusted.
    if (size < 4) {
        CrcFailed = 1;
        return CopyCorrupt;
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
        if (descramble)
            Descramble(IoBuffer, got);
        crc = UpdateCRC(IoBuffer, DWORD(got));
        if (_lwrite(output, reinterpret_cast<LPCCH>(IoBuffer), UINT(got)) != UINT(got))
            return CopyWriteFailed;
        if (CopyProgress)
            CopyProgress(unsigned(total - remaining), unsigned(total));
        remaining -= got;
        if (CancelRequested)
            return CopyCancelled;
    }
    DWORD trailer = 0;
    if (_lread(OwnFile, &trailer, 4) == 4 && trailer == crc)
        return CopyDone;
    CrcFailed = 1;
    return CopyCorrupt;
}
