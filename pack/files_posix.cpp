// The POSIX side of kestpack's system layer (files.h).
#include "pack/files.h"
#include "pack/error.h"
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;

namespace SystemFile {

intptr_t OpenForReading(const fs::path &path, std::string *error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        *error = std::strerror(errno);
    return fd < 0 ? Closed : fd;
}

long ReadNext(intptr_t file, unsigned char *data, size_t count, std::string *error)
{
    for (;;) {
        ssize_t got = ::read(int(file), data, count);
        if (got >= 0)
            return long(got);
        if (errno != EINTR) {
            *error = std::strerror(errno);
            return -1;
        }
    }
}

intptr_t CreateExclusive(const fs::path &path, bool *taken, std::string *error)
{
    // O_EXCL with O_NOFOLLOW fails on any name that exists, a symbolic
    // link included, instead of creating the file it points to.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    *taken = fd < 0 && errno == EEXIST;
    if (fd < 0)
        *error = std::strerror(errno);
    return fd < 0 ? Closed : fd;
}

bool WriteAt(intptr_t file, uint64_t offset, const unsigned char *data, size_t count)
{
    while (count) {
        ssize_t put = ::pwrite(int(file), data, count, off_t(offset));
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

size_t ReadAt(intptr_t file, uint64_t offset, unsigned char *data, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(int(file), data + done, count - done, off_t(offset + done));
        if (n <= 0)
            break;
        done += size_t(n);
    }
    return done;
}

bool Close(intptr_t file)
{
    return ::close(int(file)) == 0;
}

bool Replace(const fs::path &from, const fs::path &to, std::string *error)
{
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    *error = std::strerror(errno);
    return false;
}

void Remove(const fs::path &path)
{
    ::unlink(path.c_str());
}

unsigned RandomNumber()
{
    return unsigned(std::random_device()());
}

} // namespace SystemFile

void PrepareConsole()
{
}

std::vector<std::string> ProgramArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

fs::path ProgramFolder(const char *argv0)
{
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec || self.empty())
        self = fs::absolute(argv0, ec);
    return self.parent_path();
}

bool ErrorIsTerminal()
{
    return ::isatty(2);
}

std::optional<std::string> EnvironmentText(const char *name)
{
    const char *value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

std::string AnsiFromArgument(const std::string &text, const char *)
{
    return text;
}

fs::path PathFromArgument(const std::string &text)
{
    return fs::path(text);
}

fs::path PathFromAnsi(const std::string &text)
{
    std::string portable = text;
    std::replace(portable.begin(), portable.end(), '\\', '/');
    return fs::path(portable);
}

std::string AnsiFromPath(const fs::path &path)
{
    std::string text = path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}
