// What the fuzzers share: a check that ends the run when a parser breaks a
// promise of its header, and the cutting of one input into the texts and
// buffers that a real caller would pass.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

// A broken promise is a fault as real as a read out of bounds: trapping
// makes libFuzzer keep the input as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            __builtin_trap();                                                                      \
    } while (0)

namespace fuzz {

// The input cut at each NUL: the texts of one call, in order. C strings
// cannot hold a NUL, so no text a caller passes is lost that way; a text
// the input does not reach is empty.
class Fields {
public:
    Fields(const uint8_t *data, size_t size)
    {
        const char *p = reinterpret_cast<const char *>(data), *end = p + size;
        while (p <= end) {
            const char *nul = static_cast<const char *>(std::memchr(p, 0, size_t(end - p)));
            const char *stop = nul ? nul : end;
            parts_.emplace_back(p, size_t(stop - p));
            p = stop + 1;
        }
    }
    std::string operator[](size_t i) const { return i < parts_.size() ? parts_[i] : ""; }

private:
    std::vector<std::string> parts_;
};

// A heap block of exactly capacity bytes that holds text, cut so that it
// ends in NUL: the fixed buffer a caller fills, sized so that the
// sanitizer sees any access past it.
class Buffer {
public:
    Buffer(const std::string &text, size_t capacity) : data_(new char[capacity]), size_(capacity)
    {
        size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
        std::memcpy(data_.get(), text.data(), n);
        data_[n] = 0;
    }
    explicit Buffer(size_t capacity) : data_(new char[capacity]), size_(capacity)
    {
        std::memset(data_.get(), 0x5A, capacity);
    }
    char *get() { return data_.get(); }
    const char *get() const { return data_.get(); }
    size_t capacity() const { return size_; }
    // 1 when the block holds a NUL, and so a text that ends inside it.
    bool Terminated() const { return std::memchr(data_.get(), 0, size_) != nullptr; }

private:
    std::unique_ptr<char[]> data_;
    size_t size_;
};

// 1 when the fixed array holds a NUL.
template <size_t N> bool Terminated(const char (&text)[N])
{
    return std::memchr(text, 0, N) != nullptr;
}

// A folder of this process's own for the fuzzers that need files, removed
// when the process ends normally (the runner points TMPDIR into the build
// tree for the other ends).
inline const std::filesystem::path &ScratchFolder()
{
    struct Scratch {
        std::filesystem::path dir;
        Scratch()
        {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "kest-fuzz-XXXXXX").string();
            if (!mkdtemp(pattern.data()))
                std::abort();
            dir = pattern;
        }
        ~Scratch()
        {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    };
    static Scratch scratch;
    return scratch.dir;
}

} // namespace fuzz
