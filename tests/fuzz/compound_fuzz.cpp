// kestpack's test of a package or transform file: the compound-file header
// and the class of its root storage, from memory and from the file, which
// must agree.
#include "fuzz.h"
#include "pack/compound.h"
#include "pack/error.h"
#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The whole input in memory: the classification from the first bytes
    // reads the root entry wherever the header puts it.
    CompoundKind fromBytes = ClassifyCompoundBytes(data, size);
    if (fromBytes != CompoundKind::NotCompound)
        FUZZ_CHECK(size >= 512 + 128);

    std::filesystem::path file = fuzz::ScratchFolder() / "package.msi";
    {
        std::ofstream f(file, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(data), std::streamsize(size));
    }
    CompoundKind fromFile = ClassifyCompoundFile(file);
    FUZZ_CHECK(fromFile == fromBytes);
    return 0;
}
