// Message boxes, dialogs and the progress window.
#pragma once
#include <windows.h>

// Set by the progress window's Cancel button and by a cancelled language
// dialog; polled by every long operation. Never cleared.
extern int CancelRequested;

enum { MessageTextSize = 256 };

// Fills out (MessageTextSize bytes) with message text number index of the
// payload's text region, or the settings file's key, or, when that is
// empty, the built-in string stringId.
void LoadMessageText(char *out, int index, const char *settingsPath, const char *key,
                     unsigned stringId);

// Shows text, or "Corrupt installation detected." for null, in a message
// box captioned "Install" with an OK button; returns when it is closed.
void ShowErrorBox(const char *text);
