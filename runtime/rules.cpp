#include "runtime/rules.h"
#include "common/text.h"

int RuntimeTooOld(unsigned installedMS, unsigned installedLS, unsigned requiredMS,
                  unsigned requiredLS, int dotNet)
{
    if (installedMS < requiredMS)
        return 1;
    if (installedMS == requiredMS && (installedLS & 0xFFFF0000u) < (requiredLS & 0xFFFF0000u))
        return 1;
    return dotNet && installedLS < requiredLS;
}

int RuntimeStepWanted(const InstallerSettingsRecord *settings, int dotNet, int platformNT)
{
    if (dotNet)
        return 1;
    // Sizes from a hostile header may be anything: add them without wrap.
    long long stream = platformNT ? settings->StreamSizeNT : settings->StreamSize9X;
    long long mark = platformNT ? settings->RuntimeSizeNT : settings->RuntimeSize9X;
    return stream + mark > 0;
}

RuntimeEntry ChooseRuntimeEntry(int dotNet, int platformNT, int pass)
{
    if (dotNet)
        return pass ? RuntimeEntryDotNetUpdate : RuntimeEntryDotNet;
    return platformNT ? RuntimeEntryNT : RuntimeEntry9X;
}

int RuntimeStreamIndex(RuntimeEntry entry)
{
    return entry == RuntimeEntryNT || entry == RuntimeEntryDotNetUpdate;
}

// Tables of the fields rather than copies of all four values made at
// every call.
typedef InstallerSettingsRecord Settings;
int Settings::*const RuntimeMarkField[RuntimeEntryCount] = {
    &Settings::RuntimeSize9X, &Settings::RuntimeSizeNT, &Settings::RuntimeSizeDotNet,
    &Settings::RuntimeSizeDotNetUpdate};
unsigned Settings::*const RuntimeDownloadSizeField[RuntimeEntryCount] = {
    &Settings::DownloadSize9X, &Settings::DownloadSizeNT, &Settings::DownloadSizeDotNet,
    &Settings::DownloadSizeDotNetUpdate};

int RuntimeDownloadMark(const InstallerSettingsRecord *settings, RuntimeEntry entry)
{
    return settings->*RuntimeMarkField[entry];
}

unsigned RuntimeDownloadSize(const InstallerSettingsRecord *settings, RuntimeEntry entry,
                             int embedded)
{
    // A settings file gives one number for both; the payload stores the
    // size beside the URL, whose length is the mark.
    unsigned size = embedded ? settings->*RuntimeDownloadSizeField[entry]
                             : unsigned(RuntimeDownloadMark(settings, entry));
    // The transfer client takes a negative size for a form post: a damaged
    // one of 2 GiB or more counts as unknown.
    return size > 0x7FFFFFFFu ? 0 : size;
}

int RuntimePassDownloads(const InstallerSettingsRecord *settings, int platformNT, int pass)
{
    int dotNetMark = pass ? settings->RuntimeSizeDotNetUpdate : settings->RuntimeSizeDotNet;
    int platformMark = platformNT ? settings->RuntimeSizeNT : settings->RuntimeSize9X;
    return dotNetMark > 1 || platformMark > 1;
}

const char QuietNoRestart[] = "/q /r:n";

namespace {

const char DelayedRestart[] = "/c:\"msiinst /delayrebootq\"";

} // namespace

int ChooseRuntimeSwitches(int dotNet, int pass, int delayReboot, const char *settingsValue,
                          char *out)
{
    const char *builtIn = dotNet ? (pass ? "/q:a" : "/q:a /c:\"Install /q\"")
                                 : (delayReboot ? DelayedRestart : QuietNoRestart);
    if (dotNet || !settingsValue) {
        CopyText(out, RuntimeSwitchesSize, builtIn);
        return 0;
    }
    int custom = !TextEqualNoCase(settingsValue, builtIn);
    if (delayReboot && TextEqualNoCase(settingsValue, QuietNoRestart)) {
        CopyText(out, RuntimeSwitchesSize, DelayedRestart);
        return 0;
    }
    CopyText(out, RuntimeSwitchesSize, settingsValue);
    return custom;
}

RuntimeResultAction RuntimeResultMeaning(unsigned result, int dotNet, int pass, int custom,
                                         int delayReboot, int prompted)
{
    if (dotNet && pass == 0 && result == RuntimeProductVersionUnsupported)
        return RuntimeRerunQuiet;
    if (result == RuntimeServicePackMissing)
        return RuntimeNeedsSp6;
    // Any result but 0 may have replaced files in use, unless the author
    // runs a command of his own.
    if (result == 0 || custom)
        return RuntimeGoOn;
    if (delayReboot)
        return RuntimeRestartDue;
    return prompted ? RuntimeGoOn : RuntimeAskRestart;
}

unsigned PackGuid(const char *guid, char *out)
{
    // Where each input position goes; -1 drops it.
    static const signed char Target[42] = {
        -1, 7,  6,  5,  4,  3,  2,  1,  0,  -1, 11, 10, 9,  8,  -1, 15, 14, 13, 12, -1, 17,
        16, 19, 18, -1, 21, 20, 23, 22, 25, 24, 27, 26, 29, 28, 31, 30, -1, -1, -1, -1, -1};
    char placed[32];
    unsigned char set[32] = {0};
    unsigned count = 0;
    for (unsigned i = 0; i < sizeof Target && guid[i]; ++i) {
        if (Target[i] < 0)
            continue;
        placed[Target[i]] = guid[i];
        set[Target[i]] = 1;
        ++count;
    }
    // A short or malformed code leaves gaps: the packed text stops at the
    // first one rather than carry a byte that was never written.
    unsigned length = 0;
    while (length < count && set[length]) {
        out[length] = placed[length];
        ++length;
    }
    out[length] = 0;
    return length;
}
