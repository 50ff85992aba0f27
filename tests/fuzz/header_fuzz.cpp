// The decoder of payload header items 1-28 over the bytes read from the
// payload's start: the stub's IoBuffer, kestpack's first chunk.
#include "fuzz.h"
#include "payload/layout.h"

namespace {

// Where the stub's own payload starts, as the linker lays it out.
const long Base = 0x2000;

bool SettingsTextsTerminated(const InstallerSettingsRecord &s)
{
    return fuzz::Terminated(s.PackageFileName) && fuzz::Terminated(s.ProductCode) &&
           fuzz::Terminated(s.ProductVersion) && fuzz::Terminated(s.TransformMSI) &&
           fuzz::Terminated(s.ProductName) && fuzz::Terminated(s.CharFont);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Both readers give at most 64 KiB: the stub's IoBuffer, kestpack's chunk.
    if (size > 65536)
        return 0;
    static InstallerSettingsRecord settings;
    static PayloadHeaderRecord header;
    std::memset(&settings, 0, sizeof settings);
    std::memset(&header, 0, sizeof header);
    int dotNetMode = 0;
    unsigned used = DecodePayloadHeader(data, unsigned(size), Base, &settings, &header,
                                        &dotNetMode);
    FUZZ_CHECK(dotNetMode == 0 || dotNetMode == 1);
    if (!used)
        return 0;
    FUZZ_CHECK(used <= size);
    FUZZ_CHECK(SettingsTextsTerminated(settings));
    FUZZ_CHECK(settings.RemovePrevious == 1);

    // Every item that later readers fetch out of order lies inside items
    // 1-28, which the decoder has just found inside the bytes given.
    const unsigned char *lengths = header.Lengths;
    FUZZ_CHECK(settings.PasswordLength == lengths[LengthPassword]);
    long end = Base + long(used);
    long text = header.TextRegionOffset;
    FUZZ_CHECK(text >= Base);
    FUZZ_CHECK(text + long(TextOffsetInRegion(lengths, LengthRuntime9X)) <= end);
    FUZZ_CHECK(header.ExternalPackagePathOffset >= text &&
               header.ExternalPackagePathOffset + lengths[LengthExternalPackagePath] <= end);
    for (int e = 0; e < RuntimeEntryCount; ++e) {
        long url = header.RuntimeUrlOffset[e];
        FUZZ_CHECK(url >= header.ExternalPackagePathOffset);
        // The URL, then its four-byte download size.
        FUZZ_CHECK(url + lengths[RuntimeUrlLength(RuntimeEntry(e))] + 4 <= end);
    }
    // The layout that the packer writes by agrees on where items 1-28 end.
    unsigned char headLengths[HeadStringCount];
    std::memcpy(headLengths, data + FixedBlockSize + 1, HeadStringCount);
    PayloadLayout layout;
    LayoutPayloadHeader(headLengths, lengths, &layout);
    FUZZ_CHECK(layout.LanguagePrompt == used);
    return 0;
}
