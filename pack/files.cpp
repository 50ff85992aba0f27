// What kestpack's reads and outputs are on every system (files.h), over the
// calls that files_posix.cpp or files_windows.cpp make.
#include "pack/files.h"
#include "pack/error.h"
#include <cstdio>

namespace fs = std::filesystem;

const char AtomicOutput::TemporarySuffix[] = ".kestpack-tmp";

std::vector<unsigned char> ReadWholeFile(const fs::path &path, uint64_t limit)
{
    std::string error;
    intptr_t file = SystemFile::OpenForReading(path, &error);
    if (file == SystemFile::Closed)
        throw PackError(path.string() + ": cannot read the file: " + error);
    std::vector<unsigned char> data;
    unsigned char chunk[65536];
    for (;;) {
        long got = SystemFile::ReadNext(file, chunk, sizeof chunk, &error);
        if (got < 0) {
            SystemFile::Close(file);
            throw PackError(path.string() + ": read error: " + error);
        }
        if (got == 0)
            break;
        if (data.size() + size_t(got) > limit) {
            SystemFile::Close(file);
            throw PackError(path.string() + ": too large: more than " + std::to_string(limit) +
                            " bytes");
        }
        data.insert(data.end(), chunk, chunk + got);
    }
    SystemFile::Close(file);
    return data;
}

AtomicOutput::AtomicOutput(const fs::path &destination) : destination_(destination)
{
    // A name that a planted file is unlikely to take; when one is there all
    // the same, the exclusive creation refuses it and another is drawn.
    std::string error;
    bool taken = true;
    for (int attempt = 0; attempt < 100 && handle_ == SystemFile::Closed && taken; ++attempt) {
        char unique[24];
        std::snprintf(unique, sizeof unique, ".%08x", SystemFile::RandomNumber());
        temporary_ = destination;
        temporary_ += unique;
        temporary_ += TemporarySuffix;
        handle_ = SystemFile::CreateExclusive(temporary_, &taken, &error);
    }
    if (handle_ == SystemFile::Closed)
        throw PackError(destination.string() + ": cannot create the output file: " + error);
}

AtomicOutput::~AtomicOutput()
{
    if (handle_ != SystemFile::Closed)
        SystemFile::Close(handle_);
    if (!committed_)
        SystemFile::Remove(temporary_);
}

void AtomicOutput::Write(const unsigned char *data, size_t count)
{
    if (!SystemFile::WriteAt(handle_, size_, data, count))
        throw PackError(destination_.string() + ": write error (disk full?)");
    size_ += count;
}

void AtomicOutput::Patch(uint64_t offset, const unsigned char *data, size_t count)
{
    if (!SystemFile::WriteAt(handle_, offset, data, count))
        throw PackError(destination_.string() + ": write error");
}

size_t AtomicOutput::ReadAt(uint64_t offset, unsigned char *data, size_t count) const
{
    return SystemFile::ReadAt(handle_, offset, data, count);
}

void AtomicOutput::Commit()
{
    intptr_t file = handle_;
    handle_ = SystemFile::Closed;
    if (!SystemFile::Close(file))
        throw PackError(destination_.string() + ": write error while closing");
    std::string error;
    if (!SystemFile::Replace(temporary_, destination_, &error))
        throw PackError(destination_.string() + ": cannot replace the file: " + error);
    committed_ = true;
}
