// The settings texts from whichever source this run has: the payload in
// embedded mode, the settings file beside the program otherwise.
#include "common/settings.h"
#include "common/state.h"
#include "payload/tail.h"

namespace {

void ReadSettingsFileText(const char *key, char *out, unsigned capacity)
{
    out[0] = 0;
    if (key)
        GetPrivateProfileStringA(SettingsSection, key, "", out, capacity, SettingsPath);
}

} // namespace

void ReadSettingText(SettingText which, char *out, unsigned capacity)
{
    if (!EmbeddedMode) {
        ReadSettingsFileText(SettingTextKey[which], out, capacity);
        return;
    }
    const unsigned char *lengths = PayloadHeader.Lengths;
    switch (which) {
    case SettingExternalPackagePath:
        ReadPayloadString((unsigned long)PayloadHeader.ExternalPackagePathOffset,
                          lengths[LengthExternalPackagePath], out, capacity);
        break;
    case SettingLanguagePrompt:
        ReadPayloadString(PayloadTail.LanguagePrompt, lengths[LengthLanguagePrompt], out,
                          capacity);
        break;
    case SettingFirstLanguage:
        ReadPayloadString(PayloadTail.FirstLanguage, lengths[LengthFirstLanguage], out, capacity);
        break;
    default:
        // The message texts and CmdLine lie in the text region in this order.
        ReadPayloadText(HeaderLength(LengthCmdLine + (which - SettingCmdLine)), out, capacity);
        break;
    }
}

void ReadLanguageEntry(int index, char *out, unsigned capacity)
{
    out[0] = 0;
    if (!EmbeddedMode) {
        char key[24];
        wsprintfA(key, "Language%d", index);
        ReadSettingsFileText(key, out, capacity);
        return;
    }
    LONG position = _llseek(OwnFile, 0, FILE_CURRENT);
    unsigned long offset;
    unsigned length;
    if (index >= 1 &&
        FindLanguageEntry(&PayloadTail, unsigned(index), ReadOwnFileAt, 0, &offset, &length))
        ReadPayloadString(offset, length, out, capacity);
    _llseek(OwnFile, position, FILE_BEGIN);
}
