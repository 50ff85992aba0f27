// The command line as GetCommandLineA gives it, of any length: the split
// that leaves the user's arguments, and the scan for the quiet switch.
#include "fuzz.h"
#include "common/flags.h"
#include "driver/cmdline.h"

namespace {

bool WritesSlashQ(const char *text)
{
    for (const char *p = text; *p; ++p)
        if (p[0] == '/' && (p[1] == 'q' || p[1] == 'Q'))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Windows keeps a command line in one NUL-terminated block.
    std::string text(reinterpret_cast<const char *>(data), size);
    fuzz::Buffer line(text.c_str(), std::strlen(text.c_str()) + 1);
    const char *start = line.get();
    size_t length = std::strlen(start);

    const char *arguments = SplitCommandLine(start);
    // Never null, always inside the block and at a suffix of it.
    FUZZ_CHECK(arguments != nullptr);
    FUZZ_CHECK(arguments >= start && arguments <= start + length);
    // What is kept begins with '/' or holds an '='; anything else is
    // dropped whole.
    if (*arguments)
        FUZZ_CHECK(*arguments == '/' || std::strchr(arguments, '='));
    else
        FUZZ_CHECK(arguments == start + length);

    QuietMode = 0;
    ScanQuietSwitch(arguments);
    int quiet = HasQuietSwitch(arguments);
    FUZZ_CHECK(QuietMode == quiet);
    // A switch is only ever found where "/q" is written.
    if (quiet)
        FUZZ_CHECK(WritesSlashQ(arguments));
    // The whole line, program name and all, is scanned without harm too.
    int whole = HasQuietSwitch(start);
    FUZZ_CHECK(whole == 0 || whole == 1);
    FUZZ_CHECK(HasQuietSwitch(nullptr) == 0);
    return 0;
}
