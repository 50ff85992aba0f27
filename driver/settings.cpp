#include "driver/settings.h"
#include "common/decimal.h"
#include "common/text.h"

void MakeSettingsPath(char *out, unsigned capacity, const char *modulePath)
{
    unsigned length = CopyText(out, capacity, modulePath);
    unsigned dot = length;
    for (unsigned i = length; i > 0; --i) {
        if (out[i - 1] == '\\')
            break;
        if (out[i - 1] == '.') {
            dot = i - 1;
            break;
        }
    }
    if (dot < capacity)
        out[dot] = 0;
    AppendText(out, capacity, ".ini");
}

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
