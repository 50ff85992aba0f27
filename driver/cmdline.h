// The command line as the stub receives it. Pure: no Windows headers.
#pragma once

// Returns the user's arguments inside commandLine (the text of
// GetCommandLineA): whatever follows the program name and its blanks when
// it begins with '/' or contains an '='; otherwise the empty text at the end
// of commandLine. Never null.
const char *SplitCommandLine(const char *commandLine);

// 1 when text holds an msiexec quiet switch outside double quotes:
// "/q" followed by anything but a letter, or "/qn". Null or empty: 0.
int HasQuietSwitch(const char *text);

// Sets QuietMode when HasQuietSwitch(text); never clears it.
void ScanQuietSwitch(const char *text);
