#include "ui/ui.h"
#include <commctrl.h>
#include "common/routines.h"
#include "common/state.h"

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
    // The animation control loads MSVFW32, and COMCTL32 delays WINMM, by
    // name: loaded by full path first, neither is looked for in the
    // program's folder on a system that would look there.
    LoadSystemLibraries("WINMM.DLL\0MSVFW32.DLL\0");
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

// Out of line: the link would otherwise copy it into both dialogs' callers.
__attribute__((noinline)) INT_PTR RunDialog(int id, DLGPROC proc)
{
    LoadCommonControls();
    return DialogBoxParamA(ModuleHandle, MAKEINTRESOURCEA(id), 0, proc, 0);
}
