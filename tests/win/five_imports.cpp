// Does nothing but import the five system libraries the stub imports, and
// nothing else (no C runtime), so that a test can count what Windows itself
// loads for such a program.
#include <windows.h>
#include <shellapi.h>

extern "C" void __stdcall FiveImportsEntry(void)
{
    // Referenced, never called: each reference keeps its library imported.
    volatile int never = 0;
    if (never) {
        GetSysColor(0);                  // USER32
        GetStockObject(0);               // GDI32
        RegCloseKey(0);                  // ADVAPI32
        ShellExecuteA(0, 0, 0, 0, 0, 0); // SHELL32
    }
    ExitProcess(0);
}
