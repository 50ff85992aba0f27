#include "pack/files.h"
#include "pack/error.h"

namespace fs = std::filesystem;

std::vector<unsigned char> ReadWholeFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PackError(path.string() + ": cannot read the file");
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad())
        throw PackError(path.string() + ": read error");
    return data;
}

AtomicOutput::AtomicOutput(const fs::path &destination) : destination_(destination)
{
    temporary_ = destination;
    temporary_ += ".kestpack-tmp";
    out_.open(temporary_, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
    if (!out_)
        throw PackError(destination.string() + ": cannot create the output file");
}

AtomicOutput::~AtomicOutput()
{
    if (!committed_) {
        out_.close();
        std::error_code ec;
        fs::remove(temporary_, ec);
    }
}

void AtomicOutput::Write(const unsigned char *data, size_t count)
{
    out_.write(reinterpret_cast<const char *>(data), std::streamsize(count));
    if (!out_)
        throw PackError(destination_.string() + ": write error (disk full?)");
    size_ += count;
}

void AtomicOutput::Patch(uint64_t offset, const unsigned char *data, size_t count)
{
    out_.seekp(std::streamoff(offset));
    out_.write(reinterpret_cast<const char *>(data), std::streamsize(count));
    out_.seekp(0, std::ios::end);
    if (!out_)
        throw PackError(destination_.string() + ": write error");
}

void AtomicOutput::Commit()
{
    out_.close();
    if (!out_)
        throw PackError(destination_.string() + ": write error while closing");
    std::error_code ec;
    fs::rename(temporary_, destination_, ec);
    if (ec)
        throw PackError(destination_.string() + ": cannot replace the file: " + ec.message());
    committed_ = true;
}
