// File helpers of kestpack: bounded whole reads, and outputs that appear
// only when they are complete.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Reads path whole; throws PackError when it cannot be read or holds more
// than limit bytes. Reads at most limit + 1 bytes, so that a device such as
// /dev/zero or an endless pipe is refused instead of read for ever.
std::vector<unsigned char> ReadWholeFile(const std::filesystem::path &path, uint64_t limit);

// An output written to a fresh temporary file beside its destination and
// renamed onto it by Commit; destroyed without Commit, it removes the
// temporary. The temporary gets a name of its own and is created
// exclusively, so that nothing planted under that name (a symbolic link
// above all) is ever opened; the rename replaces a link at the destination
// instead of writing through it.
class AtomicOutput {
public:
    explicit AtomicOutput(const std::filesystem::path &destination);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput &) = delete;
    AtomicOutput &operator=(const AtomicOutput &) = delete;

    void Write(const unsigned char *data, size_t count);
    // Overwrites bytes already written at offset.
    void Patch(uint64_t offset, const unsigned char *data, size_t count);
    // Reads back count bytes written at offset; returns how many there were.
    size_t ReadAt(uint64_t offset, unsigned char *data, size_t count) const;
    uint64_t Size() const { return size_; }
    void Commit();

    // What every temporary's name ends with, for clean-up checks.
    static const char TemporarySuffix[];

private:
    std::filesystem::path destination_, temporary_;
    int fd_ = -1;
    uint64_t size_ = 0;
    bool committed_ = false;
};

// Called with the bytes done and the bytes in all while large inputs are
// copied; may be empty.
using ProgressSink = std::function<void(uint64_t done, uint64_t total)>;
