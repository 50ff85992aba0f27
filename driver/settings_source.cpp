// The settings texts from whichever source this run has: the payload in
// embedded mode, the settings file beside the program otherwise.
#include "common/settings.h"
#include "common/state.h"
#include "common/system.h"
#include "payload/tail.h"

namespace {

void ReadSettingsFileText(const char *key, char *out, unsigned capacity)
{
    out[0] = 0;
    if (key)
        ReadProfileText(SettingsSection, key, "", out, capacity, SettingsPath, 0);
}

} // namespace

void ReadSettingText(SettingText which, char *out, unsigned capacity)
{
    if (!EmbeddedMode) {
        ReadSettingsFileText(SettingTextKey[which], out, capacity);
        return;
    }
    const unsigned char *lengths = PayloadHeader.Lengths;
    unsigned long offset;
    HeaderLength length;
    switch (which) {
    case SettingExternalPackagePath:
        offset = (unsigned long)PayloadHeader.ExternalPackagePathOffset;
        length = LengthExternalPackagePath;
        break;
    case SettingLanguagePrompt:
        offset = PayloadTail.LanguagePrompt;
        length = LengthLanguagePrompt;
        break;
    case SettingFirstLanguage:
        offset = PayloadTail.FirstLanguage;
        length = LengthFirstLanguage;
        break;
    case SettingHashError:
        out[0] = 0;
        return;
    default:
        // The message texts and CmdLine lie in the text region in this order.
        length = HeaderLength(LengthCmdLine + (which - SettingCmdLine));
        offset = (unsigned long)PayloadHeader.TextRegionOffset +
                 TextOffsetInRegion(lengths, length);
        break;
    }
    ReadPayloadString(offset, lengths[length], out, capacity);
}

void ReadLanguageEntry(int index, char *out, unsigned capacity)
{
    out[0] = 0;
    if (!EmbeddedMode) {
        char key[24];
        wsprintfA(key, "%s%d", KeyLanguageStem, index);
        ReadSettingsFileText(key, out, capacity);
        return;
    }
    unsigned long offset;
    unsigned length;
    // Index 0 and negative ones (taken unsigned, above LanguageCount) find
    // no entry.
    if (FindLanguageEntry(&PayloadTail, unsigned(index), ReadOwnFileAt, 0, &offset, &length))
        ReadPayloadString(offset, length, out, capacity);
}
