#include "pack/files.h"
#include "pack/error.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;

const char AtomicOutput::TemporarySuffix[] = ".kestpack-tmp";

std::vector<unsigned char> ReadWholeFile(const fs::path &path, uint64_t limit)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw PackError(path.string() + ": cannot read the file: " + std::strerror(errno));
    std::vector<unsigned char> data;
    unsigned char chunk[65536];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            int error = errno;
            ::close(fd);
            throw PackError(path.string() + ": read error: " + std::strerror(error));
        }
        if (got == 0)
            break;
        if (data.size() + size_t(got) > limit) {
            ::close(fd);
            throw PackError(path.string() + ": too large: more than " + std::to_string(limit) +
                            " bytes");
        }
        data.insert(data.end(), chunk, chunk + got);
    }
    ::close(fd);
    return data;
}

AtomicOutput::AtomicOutput(const fs::path &destination) : destination_(destination)
{
    // A name that a planted file is unlikely to take; when one is there all
    // the same, O_EXCL refuses it and another name is drawn.
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        char unique[24];
        std::snprintf(unique, sizeof unique, ".%08x", unsigned(entropy()));
        temporary_ = destination;
        temporary_ += unique;
        temporary_ += TemporarySuffix;
        fd_ = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        throw PackError(destination.string() + ": cannot create the output file: " +
                        std::strerror(errno));
}

AtomicOutput::~AtomicOutput()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_)
        ::unlink(temporary_.c_str());
}

namespace {

// Writes all of data at offset; false on an error or a full disk.
bool WriteAllAt(int fd, uint64_t offset, const unsigned char *data, size_t count)
{
    while (count) {
        ssize_t put = ::pwrite(fd, data, count, off_t(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        count -= size_t(put);
        offset += uint64_t(put);
    }
    return true;
}

} // namespace

void AtomicOutput::Write(const unsigned char *data, size_t count)
{
    if (!WriteAllAt(fd_, size_, data, count))
        throw PackError(destination_.string() + ": write error (disk full?)");
    size_ += count;
}

void AtomicOutput::Patch(uint64_t offset, const unsigned char *data, size_t count)
{
    if (!WriteAllAt(fd_, offset, data, count))
        throw PackError(destination_.string() + ": write error");
}

size_t AtomicOutput::ReadAt(uint64_t offset, unsigned char *data, size_t count) const
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd_, data + done, count - done, off_t(offset + done));
        if (n <= 0)
            break;
        done += size_t(n);
    }
    return done;
}

void AtomicOutput::Commit()
{
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw PackError(destination_.string() + ": write error while closing");
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0)
        throw PackError(destination_.string() + ": cannot replace the file: " +
                        std::strerror(errno));
    committed_ = true;
}
