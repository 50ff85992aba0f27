#include "driver/settings.h"
#include "common/decimal.h"
#include "common/text.h"

void ParseVersionText(const char *text, unsigned *ms, unsigned *ls)
{
    unsigned part[4] = {0, 0, 0, 0};
    const char *p = text;
    for (int i = 0; i < 4 && *p; ++i) {
        part[i] = unsigned(ParseDecimal(p));
        while (*p && *p != '.')
            ++p;
        if (*p)
            ++p;
    }
    *ms = (part[0] << 16) | part[1];
    *ls = (part[2] << 16) | part[3];
}

void ApplyDelayRebootRule(InstallerSettingsRecord *settings)
{
    unsigned ms = settings->RuntimeVersionMS;
    if (ms != 0 && int(ms & 0xFFFF0000u) < 0x20000)
        settings->DelayReboot = 0;
}
