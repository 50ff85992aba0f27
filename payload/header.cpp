// Embedded mode: the payload header and the places of the tail's items,
// read through OwnFile.
#include "payload/tail.h"
#include "common/state.h"

PayloadTailRecord PayloadTail;

int ReadOwnFileAt(void *, unsigned long offset, unsigned char *out, unsigned count)
{
    if (!SeekOwnFile(offset))
        return 0;
    return _lread(OwnFile, out, count) == count;
}

int SeekOwnFile(unsigned long offset)
{
    // The stub addresses its file with signed offsets: a larger one would
    // seek backwards from the end.
    if (offset > PayloadOffsetLimit)
        return 0;
    return _llseek(OwnFile, LONG(offset), FILE_BEGIN) == LONG(offset);
}

int ReadPayloadHeader(void)
{
    // Items 1-28 are a few kilobytes at most: one read into IoBuffer takes
    // the place of a read per item.
    LONG base = _llseek(OwnFile, 0, FILE_CURRENT);
    UINT got = _lread(OwnFile, IoBuffer, IoBufferSize);
    if (got == UINT(HFILE_ERROR))
        return 0;
    unsigned used = DecodePayloadHeader(IoBuffer, got, base, &InstallerSettings, &PayloadHeader,
                                        &DotNetMode);
    return used && WalkPayloadTail(unsigned(base) + used, PayloadOffsetLimit, &PayloadHeader,
                                   &InstallerSettings, DotNetMode, ReadOwnFileAt, 0,
                                   &PayloadTail);
}

unsigned long OwnFileLength(void)
{
    LONG position = _llseek(OwnFile, 0, FILE_CURRENT);
    LONG length = _llseek(OwnFile, 0, FILE_END);
    _llseek(OwnFile, position, FILE_BEGIN);
    return (unsigned long)length;
}

void ReadPayloadString(unsigned long offset, unsigned length, char *out, unsigned capacity)
{
    if (length > capacity - 1)
        length = capacity - 1;
    LONG position = _llseek(OwnFile, 0, FILE_CURRENT);
    UINT got = 0;
    if (SeekOwnFile(offset)) {
        got = _lread(OwnFile, out, length);
        if (got == UINT(HFILE_ERROR))
            got = 0;
    }
    out[got] = 0;
    _llseek(OwnFile, position, FILE_BEGIN);
}
