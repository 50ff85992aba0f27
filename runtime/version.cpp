#include "runtime/runtime.h"
#include "common/routines.h"
#include "common/state.h"

namespace {

// The version block is read with a fixed length: the fixed part comes
// first, and nothing else of it is used.
const DWORD VersionBlockSize = 1536;

} // namespace

int QueryFileVersion(const char *path, DWORD *ms, DWORD *ls)
{
    *ms = *ls = 0;
    // By full path: a VERSION.DLL beside the program would otherwise run
    // inside an installer about to ask for administrator rights.
    HMODULE library = LoadSystemLibrary("VERSION.DLL");
    if (!library)
        return 1;
    typedef BOOL(WINAPI * GetInfoFn)(LPCSTR, DWORD, DWORD, LPVOID);
    typedef BOOL(WINAPI * QueryValueFn)(LPCVOID, LPCSTR, LPVOID *, PUINT);
    GetInfoFn getInfo = (GetInfoFn)GetProcAddress(library, "GetFileVersionInfoA");
    QueryValueFn queryValue = (QueryValueFn)GetProcAddress(library, "VerQueryValueA");
    VS_FIXEDFILEINFO *info;
    UINT length;
    int failed = !getInfo || !queryValue ||
                 !getInfo(path, 0, VersionBlockSize, IoBuffer) ||
                 !queryValue(IoBuffer, "\\", (LPVOID *)&info, &length) || length < sizeof *info;
    if (!failed) {
        *ms = info->dwFileVersionMS;
        *ls = info->dwFileVersionLS;
    }
    FreeLibrary(library);
    return failed;
}
