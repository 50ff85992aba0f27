// Finds the payload in the program's own file through its .KEST section.
#include "payload/layout.h"
#include "common/state.h"

int EmbeddedMode;
PayloadHeaderRecord PayloadHeader;

int LocatePayload(void)
{
    UINT got = _lread(OwnFile, IoBuffer, LocatorWindowSize);
    if (got == UINT(HFILE_ERROR))
        got = 0;
    PayloadSection section;
    if (!FindPayloadSection(IoBuffer, got, &section))
        return 0;
    // A raw pointer past 2 GiB would seek backwards from the end.
    if (!SeekOwnFile(section.RawPointer))
        return 0;
    if (section.RawSize >= EmbeddedRawSizeMinimum)
        EmbeddedMode = 1;
    return 1;
}
