// Reading the settings: the pure rules of the settings file.
#pragma once

#include "common/settings.h"

// Fills InstallerSettings from the settings file at SettingsPath. Ends the
// run with code 1, silently, when the product code or version is missing.
void ReadSettingsFile(void);

// Splits a version text 'a.b.c.d' into (a << 16 | b) and (c << 16 | d).
// Missing components count as 0; the empty text gives 0 and 0.
void ParseVersionText(const char *text, unsigned *ms, unsigned *ls);

// A runtime requirement of major version 1 or less cannot defer its
// restart: clears DelayReboot then. No requirement keeps it.
void ApplyDelayRebootRule(InstallerSettingsRecord *settings);
