// The search for the .KEST section in the head of an arbitrary file: the
// stub runs it on its own file, kestpack on whatever it is asked to inspect.
#include "fuzz.h"
#include "payload/layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Both callers read at most the locator's window; a larger input says
    // nothing more, but the search must still cut it itself.
    unsigned given = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : unsigned(size);
    PayloadSection section;
    std::memset(&section, 0xA5, sizeof section);
    if (!FindPayloadSection(data, given, &section))
        return 0;
    unsigned window = given < LocatorWindowSize ? given : unsigned(LocatorWindowSize);
    // The header found lies whole inside the window and is the one asked for.
    FUZZ_CHECK(section.HeaderOffset <= window && window - section.HeaderOffset >= 40);
    FUZZ_CHECK(std::memcmp(data + section.HeaderOffset, ".KEST\0", 6) == 0);
    FUZZ_CHECK(section.RawSize == LoadLe32(data + section.HeaderOffset + 16));
    FUZZ_CHECK(section.RawPointer == LoadLe32(data + section.HeaderOffset + 20));
    // kestpack reads the optional header's magic after a success.
    unsigned nt = LoadLe32(data + 0x3C);
    FUZZ_CHECK(nt <= window && window - nt >= OptionalHeaderOffset + 2);
    unsigned magic = LoadLe16(data + nt + OptionalHeaderOffset);
    FUZZ_CHECK(magic == Pe32Magic || magic == Pe32PlusMagic);
    return 0;
}
