// Embedded mode: the payload header through OwnFile, and the moves of the
// forward position that skip what this run does not need.
#include "payload/format.h"
#include "driver/settings.h"
#include "driver/startup.h"
#include "ui/ui.h"

void ReadPayloadHeader(void)
{
    // Items 1-28 are a few kilobytes at most: one read into IoBuffer and a
    // seek to the end of what was decoded take the place of a read per item.
    LONG base = _llseek(OwnFile, 0, FILE_CURRENT);
    UINT got = _lread(OwnFile, IoBuffer, IoBufferSize);
    if (got == UINT(HFILE_ERROR))
        got = 0;
    unsigned used = DecodePayloadHeader(IoBuffer, got, base, &InstallerSettings, &PayloadHeader,
                                        &DotNetMode);
    if (!used) {
        ShowErrorBox(0);
        ExitProcess(0);
    }
    _llseek(OwnFile, base + LONG(used), FILE_BEGIN);
}

void SkipLanguagePrompt(void)
{
    _llseek(OwnFile,
            LONG(PayloadHeader.Lengths[LengthLanguagePrompt]) +
                PayloadHeader.Lengths[LengthFirstLanguage],
            FILE_CURRENT);
}

unsigned long OwnFileLength(void)
{
    LONG position = _llseek(OwnFile, 0, FILE_CURRENT);
    LONG length = _llseek(OwnFile, 0, FILE_END);
    _llseek(OwnFile, position, FILE_BEGIN);
    return (unsigned long)length;
}

void SkipRuntimeStreams(void)
{
    // Added unsigned: a damaged header must not overflow a signed sum.
    _llseek(OwnFile,
            LONG(unsigned(InstallerSettings.StreamSize9X) + unsigned(InstallerSettings.StreamSizeNT)),
            FILE_CURRENT);
}

void ReadPayloadString(long offset, unsigned length, char *out, unsigned capacity)
{
    if (length > capacity - 1)
        length = capacity - 1;
    LONG position = _llseek(OwnFile, 0, FILE_CURRENT);
    _llseek(OwnFile, offset, FILE_BEGIN);
    UINT got = _lread(OwnFile, out, length);
    if (got == UINT(HFILE_ERROR))
        got = 0;
    out[got] = 0;
    _llseek(OwnFile, position, FILE_BEGIN);
}

void ReadPayloadText(HeaderLength index, char *out, unsigned capacity)
{
    ReadPayloadString(PayloadHeader.TextRegionOffset +
                          long(TextOffsetInRegion(PayloadHeader.Lengths, index)),
                      PayloadHeader.Lengths[index], out, capacity);
}
