#include "pack/compound.h"
#include "pack/error.h"
#include "payload/layout.h"
#include <cstring>
#include <fstream>

namespace {

const unsigned char Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// The installer classes differ only in their first byte as stored.
const unsigned char InstallerClassTail[15] = {0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
enum { RootEntryType = 5, DirectoryEntrySize = 128, ClassOffset = 0x50, TypeOffset = 0x42 };

} // namespace

namespace {

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
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw PackError(file.string() + ": cannot read the file");
    unsigned char header[512];
    in.read(reinterpret_cast<char *>(header), sizeof header);
    unsigned long long at = RootEntryOffset(header, size_t(in.gcount()));
    if (!at)
        return CompoundKind::NotCompound;
    unsigned char root[DirectoryEntrySize];
    in.seekg(std::streamoff(at));
    in.read(reinterpret_cast<char *>(root), DirectoryEntrySize);
    if (!in || in.gcount() != DirectoryEntrySize)
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
