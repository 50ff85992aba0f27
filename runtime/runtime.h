// The runtime phase: whether the Windows Installer engine or the .NET
// runtime must be installed before the package, and the restart that such
// an installation may ask for.
#pragma once
#include <windows.h>
#include "common/flags.h"

// Windows Vista and later: a program started with the "runas" verb makes
// Windows ask for consent or an administrator's credentials first.
extern int ShellElevates;
extern int RebootPending;   // a runtime installation wants a restart first

// Reads the file version words of path into *ms and *ls, through
// VERSION.DLL loaded from the system directory for this query only.
// Returns 0 on success, 1 on failure with both words 0. Borrows the first
// 1,536 bytes of IoBuffer.
int QueryFileVersion(const char *path, DWORD *ms, DWORD *ls);

// How the runtime check ended.
enum RuntimeCheck {
    NoRuntimeStep,    // the runtime is recent enough, or nothing can install it
    RuntimeStep,      // InstallRuntime follows
    RuntimeNoAdmin    // a runtime step is due on NT 4 or 5, but the user is no administrator
};

// Sets ShellElevates (PlatformNT is set at the start), repairs empty expandable machine
// environment values on NT, and compares the installed runtime with the
// required version. Administrator rights are checked only on NT before
// Vista: later, the runtime installer asks for them as it starts.
RuntimeCheck CheckRuntime(void);

// Turns every empty REG_EXPAND_SZ value of the machine environment into
// an empty REG_SZ value in place, one at a time; stops silently at the
// first failure.
void RepairEnvironmentValues(void);

// The low 32 bits of WININIT.INI's last-write time in the system
// directory, on the 9x family; 0 elsewhere or when it cannot be read. A
// change across a run means files are to be replaced at the next start.
DWORD WininitStamp(void);

// The longest command that Windows runs from RunOnce.
enum { RunOnceCommandLimit = 260 };

// Registers command under RunOnce as "KestStubReboot", unless Windows
// Installer already holds a RunOnceEntries value for productCode, which
// resumes the package itself. Returns 1 when the package will resume after
// the restart; 0, writing nothing, for a command longer than
// RunOnceCommandLimit or a value that cannot be written.
int RegisterResume(const char *productCode, const char *command);

// Asks Windows to restart (with the shutdown privilege where there is
// one) and sets ShutdownStarted.
void RequestReboot(void);

// Deletes a "KestStubReboot" value under Run, which an older resumed run
// may have left.
void RemoveResumeValue(void);
