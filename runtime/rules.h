// The runtime phase's decisions, as pure functions over the settings: is
// the installed runtime too old, is there a runtime step, which entry and
// switches a pass uses, what its result means, and the packed product
// code. Pure: no Windows headers.
#pragma once
#include "common/settings.h"

// 1 when the installed version (file version words) is older than the
// required one: an older major.minor, or the same with an older build
// (revisions do not count); in .NET mode also an older build.revision,
// whatever the majors. A required 0.0.0.0 is never too old.
int RuntimeTooOld(unsigned installedMS, unsigned installedLS, unsigned requiredMS,
                  unsigned requiredLS, int dotNet);

// For a runtime that is too old: 1 when the payload or the settings give
// something to install on this platform (always in .NET mode).
int RuntimeStepWanted(const InstallerSettingsRecord *settings, int dotNet, int platformNT);

// The entry of a pass (0, or 1 for the .NET update).
RuntimeEntry ChooseRuntimeEntry(int dotNet, int platformNT, int pass);

// The payload's runtime stream (0 the first, 1 the second) of an entry.
int RuntimeStreamIndex(RuntimeEntry entry);

// The fields that hold each entry's download mark (RuntimeSize9X ...) and
// its expected download size (DownloadSize9X ...), by entry.
extern int InstallerSettingsRecord::*const RuntimeMarkField[RuntimeEntryCount];
extern unsigned InstallerSettingsRecord::*const RuntimeDownloadSizeField[RuntimeEntryCount];

// The entry's download mark and its expected size; 0 (unknown) for a size
// that a signed 32-bit number cannot hold.
int RuntimeDownloadMark(const InstallerSettingsRecord *settings, RuntimeEntry entry);
unsigned RuntimeDownloadSize(const InstallerSettingsRecord *settings, RuntimeEntry entry,
                             int embedded);

// 1 when the pass downloads its installer: the .NET mark of the pass or
// the platform's mark is above 1, both tested in every mode.
int RuntimePassDownloads(const InstallerSettingsRecord *settings, int platformNT, int pass);

enum { RuntimeSwitchesSize = 128 };

// Quiet, no restart: the Windows Installer runtime's switches when the
// settings name none.
extern const char QuietNoRestart[];

// Writes the runtime installer's switches into out (RuntimeSwitchesSize
// bytes). settingsValue is the settings file's "InstMsi CmdLine" (null in
// embedded mode and in .NET mode, where the built-in switches hold).
// Returns 1 when that value is a command of the author's own, whose
// results then never lead to a restart.
int ChooseRuntimeSwitches(int dotNet, int pass, int delayReboot, const char *settingsValue,
                          char *out);

// What a runtime installer's result asks of the run.
enum RuntimeResultAction {
    RuntimeGoOn,        // nothing more
    RuntimeRerunQuiet,  // the .NET runtime said 1633: run it again with "/q:a", then stop
    RuntimeNeedsSp6,    // 0x800401FA: Windows NT needs Service Pack 6
    RuntimeRestartDue,  // a restart is pending, without a question
    RuntimeAskRestart   // ask whether to restart; No ends the run
};

enum {
    // ERROR_CANCELLED: the user declined the elevation, at the shell's
    // prompt or at the installer's own. The run ends before the result
    // is read any further.
    RuntimeElevationDeclined = 1223,
    RuntimeProductVersionUnsupported = 1633,
    RuntimeServicePackMissing = 0x800401FAu
};

// The action for result of pass; prompted: the restart question was
// asked already in this run (and answered Yes).
RuntimeResultAction RuntimeResultMeaning(unsigned result, int dotNet, int pass, int custom,
                                         int delayReboot, int prompted);

// Writes the packed form of a product code (the GUID's groups reversed,
// the last two's character pairs swapped) into out, at least 33 bytes.
// Reads guid up to its NUL but never past position 41. Returns the count
// of characters written: 32 for a well-formed GUID. For any other text the
// packed text is what was placed before the first gap, so no unset byte
// is ever read.
unsigned PackGuid(const char *guid, char *out);
