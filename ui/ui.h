// Message boxes, dialogs and the progress window.
#pragma once
#include <windows.h>

// Set by the progress window's Cancel button and by a cancelled language
// dialog; polled by every long operation. Never cleared.
extern int CancelRequested;

// Shows text, or "Corrupt installation detected." for null, in a message
// box captioned "Install" with an OK button; returns when it is closed.
void ShowErrorBox(const char *text);
