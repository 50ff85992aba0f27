#include "ui/ui.h"
#include <commctrl.h>
#include "common/routines.h"

namespace {

// GetProcAddress's result, in the generic function type from which any
// other may be cast.
typedef void (*AnyFunction)(void);
AnyFunction Export(HMODULE library, const char *name)
{
    return reinterpret_cast<AnyFunction>(GetProcAddress(library, name));
}

} // namespace

void LoadCommonControls(void)
{
    static HMODULE library;
    if (library)
        return;
    library = LoadSystemLibrary("COMCTL32.DLL");
    if (!library)
        return;
    // The first COMCTL32 of Windows 95 and NT 4 lacks the Ex form; its
    // InitCommonControls registers every class at once.
    typedef BOOL(WINAPI * InitEx)(const INITCOMMONCONTROLSEX *);
    typedef void(WINAPI * InitAll)(void);
    InitEx initEx = reinterpret_cast<InitEx>(Export(library, "InitCommonControlsEx"));
    if (initEx) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
        if (initEx(&classes))
            return;
    }
    InitAll initAll = reinterpret_cast<InitAll>(Export(library, "InitCommonControls"));
    if (initAll)
        initAll();
}
