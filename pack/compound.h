// Windows Installer files are compound files: a file system of streams and
// storages inside one file, in sectors chained by an allocation table.
// What kind of installer file one is, and the streams of its root storage.
// Windows Installer marks the root storage of every database with a class:
// one for packages, one for transforms, one for patches; that class, not
// the file name, is what tells a transform from a package.
#pragma once
#include "pack/error.h"
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

enum class CompoundKind {
    NotCompound, // no compound-file signature, or a damaged header
    Package,     // {000C1084-0000-0000-C000-000000000046}
    Transform,   // {000C1082-0000-0000-C000-000000000046}
    Patch,       // {000C1086-0000-0000-C000-000000000046}
    Other        // a compound file of another class
};

// Reads the header and the first directory sector of file. Throws PackError
// when the file cannot be read.
CompoundKind ClassifyCompoundFile(const std::filesystem::path &file);

// The same for bytes already in memory (the first sectors of a file).
CompoundKind ClassifyCompoundBytes(const unsigned char *data, size_t size);

const char *CompoundKindName(CompoundKind kind);

// Random access to bytes: a file, a buffer, or a stream inside an installer.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Length() const = 0;
    // Reads count bytes at offset; false when they are not all there.
    virtual bool ReadAt(uint64_t offset, unsigned char *out, size_t count) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const unsigned char *data, size_t size) : data_(data), size_(size) {}
    uint64_t Length() const override { return size_; }
    bool ReadAt(uint64_t offset, unsigned char *out, size_t count) override;

private:
    const unsigned char *data_;
    size_t size_;
};

// Throws PackError naming file when it cannot be opened.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::filesystem::path &file);
    uint64_t Length() const override { return length_; }
    bool ReadAt(uint64_t offset, unsigned char *out, size_t count) override;

private:
    std::ifstream in_;
    uint64_t length_ = 0;
};

// A compound file that does not hold what its header and directory claim:
// the message says what, without the file's name.
class CompoundError : public PackError {
public:
    explicit CompoundError(const std::string &message) : PackError(message) {}
};

// The streams directly below the root storage of a compound file. Every
// sector number, chain and size is checked against the file before it is
// used: a damaged or hostile file gives a CompoundError, never a read out
// of bounds, an endless walk or an allocation larger than the file. The
// source must outlive the reader.
class CompoundFile {
public:
    // Reads the header, the allocation table's index and the directory.
    explicit CompoundFile(ByteSource &source);

    CompoundKind Kind() const { return kind_; }
    // The stream of that name (UTF-16 code units) in the root storage,
    // whole, or nothing when there is none. Throws CompoundError when its
    // chain is broken or it is larger than limit bytes.
    std::optional<std::vector<unsigned char>> ReadStream(const std::u16string &name,
                                                         uint64_t limit);

private:
    struct Entry {
        uint32_t Start;
        uint64_t Size;
    };
    uint64_t SectorOffset(uint32_t sector) const;
    uint32_t NextSector(uint32_t sector);
    uint32_t NextMiniSector(uint32_t sector);
    // Reads the chain from start until its end, at most limit bytes.
    std::vector<unsigned char> ReadWholeChain(uint32_t start, uint64_t limit, const char *what);
    std::vector<unsigned char> ReadChain(uint32_t start, uint64_t size);
    std::vector<unsigned char> ReadMiniChain(uint32_t start, uint64_t size);
    void LoadMiniStream();

    ByteSource &source_;
    CompoundKind kind_ = CompoundKind::NotCompound;
    unsigned sectorShift_ = 9;
    uint32_t sectorCount_ = 0;    // whole or partial sectors after the header
    uint32_t firstMiniFat_ = 0;
    std::vector<uint32_t> fatSectors_; // where each sector of the allocation table lies
    std::vector<unsigned char> fatCache_;
    uint32_t fatCached_ = 0xFFFFFFFF;
    std::map<std::u16string, Entry> streams_; // the root storage's streams
    Entry root_{};
    bool miniLoaded_ = false;
    std::vector<uint32_t> miniFat_;
    std::vector<uint32_t> miniStreamSectors_; // the root's chain: the mini stream
};
