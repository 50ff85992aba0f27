// File helpers of kestpack: whole reads, and outputs that appear only when
// they are complete.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

std::vector<unsigned char> ReadWholeFile(const std::filesystem::path &path);

// An output written to a temporary file beside its destination and renamed
// onto it by Commit; destroyed without Commit, it removes the temporary.
class AtomicOutput {
public:
    explicit AtomicOutput(const std::filesystem::path &destination);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput &) = delete;
    AtomicOutput &operator=(const AtomicOutput &) = delete;

    void Write(const unsigned char *data, size_t count);
    // Overwrites bytes already written at offset.
    void Patch(uint64_t offset, const unsigned char *data, size_t count);
    uint64_t Size() const { return size_; }
    void Commit();

private:
    std::filesystem::path destination_, temporary_;
    std::fstream out_;
    uint64_t size_ = 0;
    bool committed_ = false;
};

// Called with the bytes done and the bytes in all while large inputs are
// copied; may be empty.
using ProgressSink = std::function<void(uint64_t done, uint64_t total)>;
