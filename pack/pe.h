// The few facts of a PE image that binding a payload needs, and the image
// checksum that the loader of a driver or a signing tool may check.
#pragma once
#include "payload/layout.h"
#include <cstdint>
#include <string>
#include <vector>

struct StubImage {
    enum Machine { X86, X64 };
    Machine Architecture = X86;    // PE32 for i386, PE32+ for x86-64
    unsigned NtHeaders = 0;        // offset of "PE\0\0"
    unsigned FileAlignment = 0;
    PayloadSection Kest{};         // the .KEST section header
    unsigned ChecksumOffset = 0;   // of the optional header's CheckSum
    unsigned InitializedDataOffset = 0; // of SizeOfInitializedData
};

// Checks that image is a PE32 (i386) or PE32+ (x86-64) stub as built: a .KEST section header within
// the locator's 1,536 bytes whose raw data is 512 bytes starting with the
// section marker, and no signature yet. Throws PackError that names file.
StubImage ReadStubImage(const std::vector<unsigned char> &image, const std::string &file);

// "x86" or "x64", as kestpack's --arch and inspect name them.
const char *ArchitectureName(StubImage::Machine machine);

// The image checksum, fed in order with every byte of the file (the
// checksum field itself read as zero).
class PeChecksum {
public:
    void Add(const unsigned char *data, size_t count);
    // The value to store: the folded 16-bit sum plus the file's length.
    uint32_t Value() const;

private:
    uint64_t sum_ = 0;
    uint64_t length_ = 0;
};

// Rounds value up to a multiple of alignment (a power of two).
uint64_t AlignUp(uint64_t value, uint64_t alignment);
