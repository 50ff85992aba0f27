#include "pack/compound.h"
#include "pack/error.h"
#include "payload/layout.h"
#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

const unsigned char Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// The installer classes differ only in their first byte as stored.
const unsigned char InstallerClassTail[15] = {0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
enum { RootEntryType = 5, DirectoryEntrySize = 128, ClassOffset = 0x50, TypeOffset = 0x42 };

// The offset of the root entry after checking the header, or 0 when data
// does not start with a usable compound-file header.
unsigned long long RootEntryOffset(const unsigned char *data, size_t size)
{
    if (size < 512 || std::memcmp(data, Signature, sizeof Signature) != 0)
        return 0;
    unsigned shift = LoadLe16(data + 0x1E);
    if (LoadLe16(data + 0x1C) != 0xFFFE || (shift != 9 && shift != 12))
        return 0;
    // The root entry is the first entry of the first directory sector.
    return (static_cast<unsigned long long>(LoadLe32(data + 0x30)) + 1) << shift;
}

CompoundKind ClassifyRootEntry(const unsigned char *root)
{
    if (root[TypeOffset] != RootEntryType)
        return CompoundKind::NotCompound;
    const unsigned char *cls = root + ClassOffset;
    if ((cls[0] != 0x84 && cls[0] != 0x82 && cls[0] != 0x86) ||
        std::memcmp(cls + 1, InstallerClassTail, sizeof InstallerClassTail) != 0)
        return CompoundKind::Other;
    return cls[0] == 0x84 ? CompoundKind::Package
         : cls[0] == 0x82 ? CompoundKind::Transform
                          : CompoundKind::Patch;
}

} // namespace

CompoundKind ClassifyCompoundBytes(const unsigned char *data, size_t size)
{
    unsigned long long at = RootEntryOffset(data, size);
    if (!at || at > size || size - at < DirectoryEntrySize)
        return CompoundKind::NotCompound;
    return ClassifyRootEntry(data + at);
}

CompoundKind ClassifyCompoundFile(const std::filesystem::path &file)
{
    FileSource in(file);
    unsigned char header[512];
    unsigned long long at = in.ReadAt(0, header, sizeof header) ? RootEntryOffset(header, 512) : 0;
    unsigned char root[DirectoryEntrySize];
    if (!at || !in.ReadAt(at, root, DirectoryEntrySize))
        return CompoundKind::NotCompound;
    return ClassifyRootEntry(root);
}

const char *CompoundKindName(CompoundKind kind)
{
    switch (kind) {
    case CompoundKind::NotCompound: return "not a Windows Installer file (no compound-file header)";
    case CompoundKind::Package: return "a Windows Installer package";
    case CompoundKind::Transform: return "a Windows Installer transform";
    case CompoundKind::Patch: return "a Windows Installer patch";
    case CompoundKind::Other: return "a compound file but not a Windows Installer database";
    }
    return "";
}

bool MemorySource::ReadAt(uint64_t offset, unsigned char *out, size_t count)
{
    if (offset > size_ || count > size_ - offset)
        return false;
    std::memcpy(out, data_ + offset, count);
    return true;
}

FileSource::FileSource(const std::filesystem::path &file) : in_(file, std::ios::binary)
{
    if (!in_)
        throw PackError(file.string() + ": cannot read the file");
    in_.seekg(0, std::ios::end);
    length_ = uint64_t(in_.tellg());
}

bool FileSource::ReadAt(uint64_t offset, unsigned char *out, size_t count)
{
    if (offset > length_ || count > length_ - offset)
        return false;
    in_.clear();
    in_.seekg(std::streamoff(offset));
    in_.read(reinterpret_cast<char *>(out), std::streamsize(count));
    return size_t(in_.gcount()) == count;
}

namespace {

enum : uint32_t {
    EndOfChain = 0xFFFFFFFE,
    NoStream = 0xFFFFFFFF,
    LargestSector = 0xFFFFFFFA, // the numbers above it mark chains' ends and the like
    MiniSectorSize = 64,
    MiniStreamCutoff = 4096,
    HeaderDifatEntries = 109,
    StreamEntryType = 2,
};

// Far more than the directory of any package (128 bytes a stream), and the
// allocation table of the mini stream; a claim beyond it is refused
// rather than read.
const uint64_t DirectoryLimit = 32u << 20;
const uint64_t MiniFatLimit = 64u << 20;

[[noreturn]] void Damaged(const std::string &what)
{
    throw CompoundError("damaged compound file: " + what);
}

} // namespace

CompoundFile::CompoundFile(ByteSource &source) : source_(source)
{
    unsigned char header[512];
    if (!source.ReadAt(0, header, sizeof header) ||
        std::memcmp(header, Signature, sizeof Signature) != 0)
        throw CompoundError("not a compound file (no compound-file header)");
    sectorShift_ = LoadLe16(header + 0x1E);
    if (LoadLe16(header + 0x1C) != 0xFFFE || (sectorShift_ != 9 && sectorShift_ != 12) ||
        LoadLe16(header + 0x20) != 6 || LoadLe32(header + 0x38) != MiniStreamCutoff)
        Damaged("its header names a layout that no compound file has");
    const uint64_t sectorSize = 1u << sectorShift_, length = source.Length();
    uint64_t sectors = length > sectorSize ? (length - 1) / sectorSize : 0; // a partial last one too
    sectorCount_ = uint32_t(std::min<uint64_t>(sectors, LargestSector + 1ull));
    firstMiniFat_ = LoadLe32(header + 0x3C);

    // The allocation table's sectors: the first 109 listed in the header,
    // the rest in a chain of index sectors.
    const uint32_t fatCount = LoadLe32(header + 0x2C), perSector = uint32_t(sectorSize / 4);
    if (fatCount > sectorCount_)
        Damaged("its allocation table would be larger than the file");
    auto add = [&](uint32_t sector) {
        if (sector >= sectorCount_)
            Damaged("a sector of the allocation table lies past the end of the file");
        fatSectors_.push_back(sector);
    };
    for (uint32_t i = 0; i < fatCount && i < HeaderDifatEntries; ++i)
        add(LoadLe32(header + 0x4C + 4 * i));
    std::vector<unsigned char> index(sectorSize);
    uint32_t next = LoadLe32(header + 0x44), steps = 0;
    while (fatSectors_.size() < fatCount) {
        if (next >= sectorCount_ || ++steps > sectorCount_)
            Damaged("the index of the allocation table ends early or loops");
        if (!source.ReadAt(SectorOffset(next), index.data(), index.size()))
            Damaged("an index sector lies past the end of the file");
        for (uint32_t i = 0; i + 1 < perSector && fatSectors_.size() < fatCount; ++i)
            add(LoadLe32(&index[4 * i]));
        next = LoadLe32(&index[4 * (perSector - 1)]);
    }

    std::vector<unsigned char> directory =
        ReadWholeChain(LoadLe32(header + 0x30), DirectoryLimit, "the directory");
    const uint32_t entries = uint32_t(directory.size() / DirectoryEntrySize);
    if (entries == 0)
        Damaged("the directory is empty");
    kind_ = ClassifyRootEntry(directory.data());
    if (kind_ == CompoundKind::NotCompound)
        Damaged("the directory does not begin with the root storage");
    // Version 3 files keep only 32 bits of a size; the upper ones may hold
    // anything.
    auto entrySize = [&](const unsigned char *e) {
        uint64_t low = LoadLe32(e + 0x78), high = LoadLe32(e + 0x7C);
        return sectorShift_ == 9 ? low : low | high << 32;
    };
    root_ = {LoadLe32(directory.data() + 0x74), entrySize(directory.data())};

    // The root's children form a tree through their left and right links.
    std::vector<bool> seen(entries);
    std::vector<uint32_t> pending = {LoadLe32(directory.data() + 0x4C)};
    while (!pending.empty()) {
        uint32_t id = pending.back();
        pending.pop_back();
        if (id == NoStream)
            continue;
        if (id >= entries || seen[id])
            Damaged("the directory's tree points outside itself or loops");
        seen[id] = true;
        const unsigned char *e = directory.data() + size_t(id) * DirectoryEntrySize;
        unsigned nameBytes = LoadLe16(e + 0x40);
        if (e[0x42] == StreamEntryType && nameBytes >= 2 && nameBytes <= 64 && nameBytes % 2 == 0) {
            std::u16string name;
            for (unsigned i = 0; i + 2 < nameBytes; i += 2)
                name += char16_t(LoadLe16(e + i));
            streams_.emplace(name, Entry{LoadLe32(e + 0x74), entrySize(e)});
        }
        pending.push_back(LoadLe32(e + 0x44));
        pending.push_back(LoadLe32(e + 0x48));
    }
}

uint64_t CompoundFile::SectorOffset(uint32_t sector) const
{
    return (uint64_t(sector) + 1) << sectorShift_;
}

uint32_t CompoundFile::NextSector(uint32_t sector)
{
    const uint32_t perSector = uint32_t(1u << sectorShift_) / 4;
    uint32_t index = sector / perSector;
    if (index >= fatSectors_.size())
        Damaged("a chain leaves the allocation table");
    if (fatCached_ != fatSectors_[index]) {
        fatCache_.resize(size_t(1) << sectorShift_);
        if (!source_.ReadAt(SectorOffset(fatSectors_[index]), fatCache_.data(), fatCache_.size()))
            Damaged("a sector of the allocation table lies past the end of the file");
        fatCached_ = fatSectors_[index];
    }
    return LoadLe32(&fatCache_[4 * (sector % perSector)]);
}

uint32_t CompoundFile::NextMiniSector(uint32_t sector)
{
    if (sector >= miniFat_.size())
        Damaged("a chain leaves the mini stream's allocation table");
    return miniFat_[sector];
}

std::vector<unsigned char> CompoundFile::ReadWholeChain(uint32_t start, uint64_t limit,
                                                        const char *what)
{
    const size_t sectorSize = size_t(1) << sectorShift_;
    std::vector<unsigned char> out;
    uint32_t steps = 0;
    for (uint32_t s = start; s != EndOfChain; s = NextSector(s)) {
        if (s >= sectorCount_ || ++steps > sectorCount_)
            Damaged(std::string(what) + " leaves the file or loops");
        if (out.size() + sectorSize > limit)
            Damaged(std::string(what) + " is larger than any Windows Installer file's");
        out.resize(out.size() + sectorSize);
        if (!source_.ReadAt(SectorOffset(s), &out[out.size() - sectorSize], sectorSize))
            Damaged(std::string(what) + " runs past the end of the file");
    }
    return out;
}

std::vector<unsigned char> CompoundFile::ReadChain(uint32_t start, uint64_t size)
{
    const uint64_t sectorSize = 1u << sectorShift_;
    if (size > uint64_t(sectorCount_) * sectorSize)
        Damaged("a stream is larger than the file");
    std::vector<unsigned char> out(size);
    uint64_t done = 0;
    uint32_t steps = 0;
    for (uint32_t s = start; done < size;) {
        if (s >= sectorCount_ || ++steps > sectorCount_)
            Damaged("a stream's chain ends early, leaves the file or loops");
        size_t n = size_t(std::min(sectorSize, size - done));
        if (!source_.ReadAt(SectorOffset(s), &out[done], n))
            Damaged("a stream runs past the end of the file");
        done += n;
        if (done < size)
            s = NextSector(s);
    }
    return out;
}

void CompoundFile::LoadMiniStream()
{
    if (miniLoaded_)
        return;
    miniLoaded_ = true;
    if (firstMiniFat_ != EndOfChain) {
        std::vector<unsigned char> table =
            ReadWholeChain(firstMiniFat_, MiniFatLimit, "the mini stream's allocation table");
        for (size_t i = 0; i + 4 <= table.size(); i += 4)
            miniFat_.push_back(LoadLe32(&table[i]));
    }
    const uint64_t sectorSize = 1u << sectorShift_;
    if (root_.Size > uint64_t(sectorCount_) * sectorSize)
        Damaged("the mini stream is larger than the file");
    uint64_t count = (root_.Size + sectorSize - 1) / sectorSize;
    uint32_t s = root_.Start;
    for (uint64_t k = 0; k < count; ++k) {
        if (s >= sectorCount_)
            Damaged("the mini stream's chain ends early or leaves the file");
        miniStreamSectors_.push_back(s);
        if (k + 1 < count)
            s = NextSector(s);
    }
}

std::vector<unsigned char> CompoundFile::ReadMiniChain(uint32_t start, uint64_t size)
{
    LoadMiniStream();
    const uint64_t miniCount = (root_.Size + MiniSectorSize - 1) / MiniSectorSize;
    if (size > miniCount * MiniSectorSize)
        Damaged("a stream is larger than the mini stream");
    std::vector<unsigned char> out(size);
    uint64_t done = 0, steps = 0;
    for (uint32_t m = start; done < size;) {
        if (m >= miniCount || ++steps > miniCount)
            Damaged("a small stream's chain ends early, leaves the mini stream or loops");
        uint64_t at = uint64_t(m) * MiniSectorSize;
        uint64_t k = at >> sectorShift_;
        if (k >= miniStreamSectors_.size())
            Damaged("a small stream lies past the end of the mini stream");
        size_t n = size_t(std::min<uint64_t>(MiniSectorSize, size - done));
        uint64_t within = at & ((1u << sectorShift_) - 1);
        if (!source_.ReadAt(SectorOffset(miniStreamSectors_[k]) + within, &out[done], n))
            Damaged("a small stream runs past the end of the file");
        done += n;
        if (done < size)
            m = NextMiniSector(m);
    }
    return out;
}

std::optional<std::vector<unsigned char>> CompoundFile::ReadStream(const std::u16string &name,
                                                                   uint64_t limit)
{
    auto found = streams_.find(name);
    if (found == streams_.end())
        return std::nullopt;
    const Entry &e = found->second;
    if (e.Size > limit)
        Damaged("a stream of " + std::to_string(e.Size) +
                " bytes, more than any such stream holds");
    if (e.Size == 0)
        return std::vector<unsigned char>();
    return e.Size < MiniStreamCutoff ? ReadMiniChain(e.Start, e.Size) : ReadChain(e.Start, e.Size);
}
