// A file checked against the SHA-256 its author pinned it to, read back
// through IoBuffer.
#include "payload/stream.h"
#include "common/routines.h"
#include "common/state.h"
#include "common/system.h"
#include "payload/sha256.h"

int FileMatchesDigest(const char *path, const unsigned *digest)
{
    // Nobody writes to the file while it is read.
    HFILE file = OpenSystemFile(path, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        return 0;
    Sha256Context context;
    Sha256Start(&context);
    UINT got;
    while ((got = _lread(file, IoBuffer, IoBufferSize)) != 0 && got != UINT(HFILE_ERROR)) {
        Sha256Add(&context, IoBuffer, got);
        // Tens of megabytes take a while on an old machine: the progress
        // window stays painted.
        PumpMessages();
    }
    _lclose(file);
    Sha256Finish(&context);
    // A read that failed (HFILE_ERROR) leaves a digest of part of the file.
    int same = got == 0;
    for (int i = 0; i < 8; ++i)
        same &= context.Hash[i] == digest[i];
    return same;
}
