#include "ui/ui.h"

void ShowErrorBox(const char *text)
{
    MessageBoxA(0, text ? text : "Corrupt installation detected.", "Install", MB_OK);
}
