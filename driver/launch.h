// The last phase: the package's path, the msiexec command line, the launch.
#pragma once
#include "driver/compose.h"

// The package and the transform handed to msiexec. Embedded mode: filled
// by the package phase; settings-file mode: by ResolvePackageFromSettings.
extern char PackagePath[PackagePathSize];
extern char TransformPath[PackagePathSize];

// Settings-file mode: reads ProductFile and the selected LanguageFile%d.
void ResolvePackageFromSettings(void);

// Composes the arguments and runs Windows Installer, waiting for it, and
// returns its exit code (0 when there is nothing to start); when it cannot
// be started, shows the corrupt-installation box and ends the run. When a
// runtime installation wants a restart first, registers the command to run
// after it, requests the restart and returns ExitRestartStarted instead;
// when nothing could be registered, it tells the user to start setup again
// after the restart and returns ExitNotInstalled.
unsigned LaunchPackage(void);
