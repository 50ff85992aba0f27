// The walker of the payload's tail, and the look-ups of language entries
// and transforms after it, over a file in memory. The input is a control
// byte, the payload's file offset (4 bytes, little-endian), then the
// payload itself, whose header is decoded first as the stub does.
#include "fuzz.h"
#include "payload/tail.h"

namespace {

struct File {
    const uint8_t *payload;
    size_t size;
    unsigned long base; // file offset of payload[0]
};

// Reads of the file as a seek and a read give them: all or nothing.
int ReadFile(void *source, unsigned long offset, unsigned char *out, unsigned count)
{
    const File *f = static_cast<const File *>(source);
    if (offset < f->base || offset - f->base > f->size || f->size - (offset - f->base) < count)
        return 0;
    std::memcpy(out, f->payload + (offset - f->base), count);
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5 || size - 5 > 65536)
        return 0;
    File file = {data + 5, size - 5, LoadLe32(data + 1)};
    // The stub's limit, kestpack's none, or the end of the file.
    static const unsigned long Limits[3] = {PayloadOffsetLimit, ~0ul, 0};
    unsigned long limit = Limits[data[0] % 3];
    if (!limit)
        limit = file.base + file.size;

    static InstallerSettingsRecord settings;
    PayloadHeaderRecord header;
    int dotNetMode = data[0] >> 7;
    unsigned used = DecodePayloadHeader(file.payload, unsigned(file.size), long(file.base),
                                        &settings, &header, &dotNetMode);
    if (!used)
        return 0;
    PayloadTailRecord tail;
    if (!WalkPayloadTail(file.base + used, limit, &header, &settings, dotNetMode, ReadFile, &file,
                         &tail))
        return 0;

    // The items follow one another, none before the header's end, none
    // ending past the limit.
    FUZZ_CHECK(tail.Limit == limit);
    FUZZ_CHECK(tail.LanguagePrompt == file.base + used);
    FUZZ_CHECK(tail.FirstLanguage == tail.LanguagePrompt + header.Lengths[LengthLanguagePrompt]);
    FUZZ_CHECK(tail.FurtherLanguages == tail.FirstLanguage + header.Lengths[LengthFirstLanguage]);
    FUZZ_CHECK(tail.LanguageCount == header.Lengths[LanguageCount]);
    FUZZ_CHECK(tail.FurtherLanguages <= tail.Runtime[0]);
    FUZZ_CHECK(tail.Runtime[1] == tail.Runtime[0] + tail.RuntimeSize[0]);
    FUZZ_CHECK(tail.Package == tail.Runtime[1] + tail.RuntimeSize[1]);
    FUZZ_CHECK(tail.Transforms == tail.Package + tail.PackageSize);
    FUZZ_CHECK(tail.Transforms <= limit && tail.Transforms >= tail.Package);

    // Every entry the walk passed is found again, in order, inside the
    // language block; none beyond the count.
    unsigned long offset, previous = tail.FurtherLanguages;
    unsigned length;
    FUZZ_CHECK(!FindLanguageEntry(&tail, 0, ReadFile, &file, &offset, &length));
    for (unsigned k = 1; k <= tail.LanguageCount; ++k) {
        FUZZ_CHECK(FindLanguageEntry(&tail, k, ReadFile, &file, &offset, &length));
        FUZZ_CHECK(offset == previous + LanguageLengthSize);
        FUZZ_CHECK(offset + length <= tail.Runtime[0]);
        previous = offset + length;
    }
    FUZZ_CHECK(previous == tail.Runtime[0]);
    FUZZ_CHECK(!FindLanguageEntry(&tail, tail.LanguageCount + 1, ReadFile, &file, &offset,
                                  &length));

    // Transforms lie one after another past the package, within the limit.
    previous = tail.Transforms;
    FUZZ_CHECK(!FindTransform(&tail, 0, ReadFile, &file, &offset, &length));
    for (unsigned k = 1; k <= tail.LanguageCount + 1 && k <= 8; ++k) {
        if (!FindTransform(&tail, k, ReadFile, &file, &offset, &length))
            break;
        FUZZ_CHECK(offset == previous + TransformSizeSize);
        FUZZ_CHECK(offset <= limit && length <= limit - offset);
        FUZZ_CHECK(offset + length <= file.base + file.size || limit != file.base + file.size);
        previous = offset + length;
    }
    return 0;
}
