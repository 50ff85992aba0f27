// The pure readers of settings values, whichever source gave the text: the
// decimal numbers (sizes, CharSize's kin), the required version 'a.b.c.d',
// the CmdLine setting's quiet switch, the language entries of the dialog
// and the settings file's path beside the program. The profile functions
// themselves are Windows' own; and the message texts' "%s" filling, with
// the package's own ExistError text as the format. Input: value NUL
// language-entry NUL module-path NUL options (charSize, capacity) NUL
// message text.
#include "fuzz.h"
#include "common/decimal.h"
#include "common/flags.h"
#include "driver/cmdline.h"
#include "driver/settings.h"
#include "ui/language_list.h"
#include "ui/message_format.h"

namespace {

// The dialog reads entries into buffers of 520 bytes; the settings file
// gives values of up to 255 characters.
const size_t EntrySize = 520;
const size_t ModulePathSize = 256;
// A message text as read, and the question it makes.
const size_t MessageTextSize = 256;
const size_t QuestionSize = 1024;

bool IsSeparator(char c)
{
    return c == ',' || c == ';';
}

void CheckValue(const std::string &text)
{
    fuzz::Buffer value(text, SettingsTextSize);
    int number = ParseDecimal(value.get());
    // Blanks and tabs before the number never change it.
    fuzz::Buffer padded(" \t" + std::string(value.get()), SettingsTextSize + 2);
    FUZZ_CHECK(ParseDecimal(padded.get()) == number);

    unsigned ms = 0xDEAD, ls = 0xBEEF;
    ParseVersionText(value.get(), &ms, &ls);
    if (!std::strchr(value.get(), '.')) {
        FUZZ_CHECK(ms == unsigned(number) << 16 && ls == 0);
    }
    InstallerSettingsRecord s{};
    s.RuntimeVersionMS = ms;
    s.DelayReboot = 1;
    ApplyDelayRebootRule(&s);
    FUZZ_CHECK(s.DelayReboot == 0 || s.DelayReboot == 1);

    QuietMode = 0;
    ScanQuietSwitch(value.get());
    FUZZ_CHECK(QuietMode == HasQuietSwitch(value.get()));
}

void CheckLanguageEntry(const std::string &text, unsigned charSize)
{
    fuzz::Buffer entry(text, EntrySize);
    std::string original = entry.get();
    size_t cut = 0;
    while (cut < original.size() && !IsSeparator(original[cut]))
        ++cut;
    // The user's language is the entry's first identifier, so that matches
    // are found as often as misses.
    unsigned user = cut < original.size() ? unsigned(ParseDecimal(original.c_str() + cut + 1)) : 0;
    const int index = 7;
    int match = NoLanguageMatch;
    SplitLanguageEntry(entry.get(), index, user, charSize, &match);
    FUZZ_CHECK(entry.Terminated());
    FUZZ_CHECK(std::string(entry.get()) == original.substr(0, cut));
    if (charSize & CharSizeAlwaysPrompt)
        FUZZ_CHECK(match == NoLanguageMatch);
    else if (user)
        FUZZ_CHECK(match == index);
    else
        FUZZ_CHECK(match == NoLanguageMatch || match == index);
}

void CheckSettingsPath(const std::string &text, unsigned capacity)
{
    // The callers take a module path only when ".ini" fits after it.
    fuzz::Buffer module(text, ModulePathSize - 4);
    fuzz::Buffer path(capacity);
    MakeSettingsPath(path.get(), capacity, module.get());
    FUZZ_CHECK(path.Terminated());
    std::string made = path.get();
    if (capacity == ModulePathSize) {
        std::string m = module.get();
        size_t slash = m.rfind('\\');
        size_t dot = m.rfind('.');
        std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                               ? m.substr(0, dot)
                               : m;
        FUZZ_CHECK(made == stem + ".ini");
    }
}

void CheckMessage(const std::string &formatText, const std::string &argumentText,
                  unsigned capacity)
{
    fuzz::Buffer format(formatText, MessageTextSize);
    fuzz::Buffer argument(argumentText, SettingsTextSize);
    const char *arguments[5] = {argument.get(), "2.0", argument.get(), "3.0", argument.get()};
    for (unsigned size : {unsigned(QuestionSize), capacity}) {
        fuzz::Buffer out(size);
        FormatMessageText(out.get(), size, format.get(), arguments, 5);
        FUZZ_CHECK(out.Terminated());
        // Each "%s" brings at most one argument; nothing else grows.
        FUZZ_CHECK(std::strlen(out.get()) <=
                   std::strlen(format.get()) + 5 * std::strlen(argument.get()));
        if (!std::strchr(format.get(), '%') && std::strlen(format.get()) < size)
            FUZZ_CHECK(std::strcmp(out.get(), format.get()) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Fields fields(data, size);
    std::string options = fields[3];
    unsigned charSize = options.size() > 0 ? (unsigned char)options[0] : 8;
    unsigned capacity = options.size() > 1 ? 1 + (unsigned char)options[1] : ModulePathSize;
    CheckValue(fields[0]);
    CheckLanguageEntry(fields[1], charSize);
    CheckSettingsPath(fields[2], capacity);
    CheckMessage(fields[4], fields[0], capacity);
    return 0;
}
