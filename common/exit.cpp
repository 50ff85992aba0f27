#include "common/exit.h"
#include "common/state.h"

namespace {

enum { ReleaseMaximum = 4 };
ReleaseFn Releases[ReleaseMaximum];
int ReleaseCount;

} // namespace

void ReleaseAtEnd(ReleaseFn release)
{
    if (ReleaseCount < ReleaseMaximum)
        Releases[ReleaseCount++] = release;
}

void EndRun(unsigned code)
{
    for (int i = 0; i < ReleaseCount; ++i)
        Releases[i]();
    if (OwnFile && OwnFile != HFILE_ERROR)
        _lclose(OwnFile);
    ExitProcess(UINT(code));
}
