// Message boxes, dialogs and the progress window.
#pragma once
#include <windows.h>
#include "payload/payload.h"

enum { MessageTextSize = 256 };

// Set by the progress window's Cancel button and by a cancelled language
// dialog; polled by every long operation. Never cleared.
extern int CancelRequested;

// Shows text, or "Corrupt installation detected." for null, in a message
// box captioned "Install" with an OK button; returns when it is closed.
void ShowErrorBox(const char *text);

// Fills out (MessageTextSize bytes) with message text `index` (LengthAdminError
// ... LengthInternet): the payload's own text in embedded mode (OwnFile's
// position is the same afterwards), the value of `key` in the settings file
// at settingsPath otherwise, and the built-in string stringId when that
// text is empty.
void LoadMessageText(char *out, HeaderLength index, const char *settingsPath, const char *key,
                     UINT stringId);
