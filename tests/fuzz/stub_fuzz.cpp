// kestpack's reading of the stub it is given with --stub: the PE headers,
// the .KEST section and the places that binding a payload writes to.
#include "fuzz.h"
#include "pack/error.h"
#include "pack/pe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<unsigned char> image(data, data + size);
    StubImage stub;
    try {
        stub = ReadStubImage(image, "stub.exe");
    } catch (const PackError &) {
        return 0;
    }
    // The builder patches these fields and copies the section's raw data:
    // all of them lie inside the image.
    FUZZ_CHECK(uint64_t(stub.ChecksumOffset) + 4 <= size);
    FUZZ_CHECK(uint64_t(stub.InitializedDataOffset) + 4 <= size);
    FUZZ_CHECK(uint64_t(stub.Kest.HeaderOffset) + 40 <= size);
    FUZZ_CHECK(uint64_t(stub.Kest.RawPointer) + SettingsModeRawSize <= size);
    FUZZ_CHECK(stub.FileAlignment >= 512 && (stub.FileAlignment & (stub.FileAlignment - 1)) == 0);
    return 0;
}
