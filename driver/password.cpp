// The installation password of a protected payload.
#include "driver/package.h"
#include "common/exit.h"
#include "common/settings.h"
#include "common/text.h"
#include "payload/keystream.h"
#include "ui/ui.h"

void CheckPassword(void)
{
    int length = InstallerSettings.PasswordLength;
    if (length <= 1)
        return;
    for (;;) {
        // Anything but OK, including a dialog that could not be shown at
        // all, ends the run rather than asking again for ever.
        if (AskPassword() != IDOK)
            EndRun(ExitNotInstalled);
        if (int(TextLength(PasswordBuffer)) != length - 1)
            continue;
        unsigned char *typed = reinterpret_cast<unsigned char *>(PasswordBuffer);
        ScramblePassword(typed, length - 1);
        int i = 0;
        while (i < length - 1 && typed[i] == InstallerSettings.StoredPassword[i])
            ++i;
        if (i == length - 1)
            return;
    }
}
