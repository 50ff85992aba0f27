// The small layer of kestpack where POSIX systems and Windows differ: whole
// reads, outputs that appear only when they are complete, the program's
// arguments and folder, the environment, the console, and the conversions
// between the texts of a settings file and file names. files.cpp holds
// what is the same on both; files_posix.cpp and files_windows.cpp answer
// the rest, and the build picks one of them.
//
// Texts inside kestpack are UTF-8 where they come from the command line
// and go to the console, and ANSI (the installer's code page) where they
// come from a settings file or a payload, as the stub reads them. On
// POSIX systems both are the bytes as they stand.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
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
    // The open temporary: a file descriptor, or a HANDLE on Windows; -1
    // (INVALID_HANDLE_VALUE there) once closed.
    intptr_t handle_ = -1;
    uint64_t size_ = 0;
    bool committed_ = false;
};

// Called with the bytes done and the bytes in all while large inputs are
// copied; may be empty.
using ProgressSink = std::function<void(uint64_t done, uint64_t total)>;

// What files.cpp asks of the system for the reads and outputs above; the
// errors come back in the words of the C library of a POSIX system.
namespace SystemFile {

const intptr_t Closed = -1;

// Opens path for reading; Closed, with the error, when it cannot.
intptr_t OpenForReading(const std::filesystem::path &path, std::string *error);
// Reads what comes next, at most count bytes: how many, 0 at the end, -1
// on an error.
long ReadNext(intptr_t file, unsigned char *data, size_t count, std::string *error);
// Creates path for reading and writing, exclusively and never through a
// link; Closed, with the error and whether the name is taken, when it
// cannot.
intptr_t CreateExclusive(const std::filesystem::path &path, bool *taken, std::string *error);
// Writes all of data at offset; false on an error or a full disk.
bool WriteAt(intptr_t file, uint64_t offset, const unsigned char *data, size_t count);
// Reads up to count bytes at offset; how many there were.
size_t ReadAt(intptr_t file, uint64_t offset, unsigned char *data, size_t count);
bool Close(intptr_t file);
// Renames from onto to, replacing a file or a link there, never writing
// through it.
bool Replace(const std::filesystem::path &from, const std::filesystem::path &to,
             std::string *error);
void Remove(const std::filesystem::path &path);
// A number that a planted file cannot foresee, for temporary names.
unsigned RandomNumber();

} // namespace SystemFile

// Sets the console up for the program's output: the bytes written to
// std::cout and std::cerr go out unchanged (no line ends added), and a
// console window shows the UTF-8 texts as such.
void PrepareConsole();

// The program's arguments after its name, in UTF-8 (Windows hands them
// over as UTF-16, whatever the code page).
std::vector<std::string> ProgramArguments(int argc, char **argv);

// The folder of the running program, where the stubs lie beside it.
std::filesystem::path ProgramFolder(const char *argv0);

// Whether standard error is a terminal, on which progress may be drawn.
bool ErrorIsTerminal();

// The value of an environment variable in the ANSI code page, or nothing
// when it is unset.
std::optional<std::string> EnvironmentText(const char *name);

// A command-line text (UTF-8) as the ANSI bytes that a user typing it into
// the stub would give; throws PackError when the code page cannot hold it.
std::string AnsiFromArgument(const std::string &text, const char *what);

// A file name given on the command line.
std::filesystem::path PathFromArgument(const std::string &text);

// A file name from a settings file or a payload, as Windows reads it:
// ANSI, '\\' separating folders ('/' too).
std::filesystem::path PathFromAnsi(const std::string &text);

// A relative or absolute file name as a settings file holds it: ANSI,
// '\\' separating folders. Throws PackError when the code page cannot
// hold it.
std::string AnsiFromPath(const std::filesystem::path &path);
