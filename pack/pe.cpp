#include "pack/pe.h"
#include "pack/error.h"
#include <algorithm>

uint64_t AlignUp(uint64_t value, uint64_t alignment)
{
    return (value + alignment - 1) & ~(alignment - 1);
}

StubImage ReadStubImage(const std::vector<unsigned char> &image, const std::string &file)
{
    auto fail = [&](const std::string &what) { throw PackError(file + ": " + what); };
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z')
        fail("not a Windows program (no MZ header)");
    StubImage stub;
    stub.NtHeaders = LoadLe32(image.data() + 0x3C);
    unsigned nt = stub.NtHeaders;
    const unsigned optional = nt + OptionalHeaderOffset;
    if (nt > image.size() || image.size() - nt < OptionalHeaderOffset + 2 ||
        LoadLe32(image.data() + nt) != 0x00004550)
        fail("not a PE image");
    unsigned magic = LoadLe16(image.data() + optional);
    unsigned countOffset = 0;
    if (magic == Pe32Magic) {
        stub.Architecture = StubImage::X86;
        countOffset = Pe32DirectoryCount;
    } else if (magic == Pe32PlusMagic) {
        stub.Architecture = StubImage::X64;
        countOffset = Pe32PlusDirectoryCount;
    } else {
        fail("neither a PE32 nor a PE32+ image");
    }
    if (image.size() - optional < countOffset + 4 + 16 * 8)
        fail("not a PE image");
    unsigned machine = LoadLe16(image.data() + nt + 4);
    if (machine != (stub.Architecture == StubImage::X86 ? 0x14Cu : 0x8664u))
        fail("the machine type does not match the optional header");
    stub.FileAlignment = LoadLe32(image.data() + optional + 36);
    unsigned a = stub.FileAlignment;
    if (a < 512 || a > 65536 || (a & (a - 1)))
        fail("file alignment " + std::to_string(a) + " is not a power of two from 512 to 64K");
    // CheckSum and SizeOfInitializedData lie at the same offsets in both
    // layouts; only the fields after the image base move.
    stub.ChecksumOffset = optional + 64;
    stub.InitializedDataOffset = optional + 8;
    if (!FindPayloadSection(image.data(), unsigned(std::min<size_t>(image.size(), LocatorWindowSize)),
                            &stub.Kest))
        fail("no .KEST section header within the first 1,536 bytes, where the stub looks");
    if (stub.Kest.RawSize != SettingsModeRawSize)
        fail("the .KEST section holds " + std::to_string(stub.Kest.RawSize) +
             " bytes of raw data, not 512 (is this installer packed already?)");
    if (uint64_t(stub.Kest.RawPointer) + SettingsModeRawSize > image.size() ||
        LoadLe32(image.data() + stub.Kest.RawPointer) != SectionMarker)
        fail("the .KEST section does not hold the stub's marker");
    unsigned directories = LoadLe32(image.data() + optional + countOffset);
    const unsigned securityDirectory = optional + countOffset + 4 + 4 * 8;
    if (directories > 4 && LoadLe32(image.data() + securityDirectory + 4) != 0)
        fail("the stub is code-signed; pack an unsigned stub and sign the result");
    return stub;
}

const char *ArchitectureName(StubImage::Machine machine)
{
    return machine == StubImage::X64 ? "x64" : "x86";
}

void PeChecksum::Add(const unsigned char *data, size_t count)
{
    for (size_t i = 0; i < count; ++i, ++length_)
        sum_ += (length_ & 1) ? uint64_t(data[i]) << 8 : data[i];
}

uint32_t PeChecksum::Value() const
{
    uint64_t sum = sum_;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + length_);
}
