// The one way a run ends: the final clean-up, then the exit code.
#pragma once

// What the exit code tells the caller of setup.exe.
enum ExitCode {
    ExitNormal = 0,       // nothing was to be installed
    ExitNotInstalled = 1, // something failed or the user stopped the run
    ExitNoAdministrator = 2, // administrator rights are missing on Windows NT 4, 2000 or XP
    // The package waits for a restart that the program has requested:
    // Windows Installer's own code for an installer that started one.
    ExitRestartStarted = 1641
};

// A release of something the run holds, such as a window or a table. It
// must do nothing when there is nothing to release.
typedef void (*ReleaseFn)(void);

// Adds release to the final clean-up; the driver lists each subsystem's
// release at start-up, in the order they are to run. Up to four.
void ReleaseAtEnd(ReleaseFn release);

// Runs the listed releases in order, closes OwnFile, and ends the process
// with code: an ExitCode, or the exit code of Windows Installer.
__attribute__((noreturn)) void EndRun(unsigned code);
