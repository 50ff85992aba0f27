// The Windows side of kestpack's system layer (files.h): wide calls for
// every file name, so that a folder such as C:\Users\Дмитрий works
// whatever the code page, and the same messages as on POSIX systems.
#include "pack/files.h"
#include "pack/error.h"
#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <iostream>
#include <streambuf>

namespace fs = std::filesystem;

namespace {

std::wstring Widen(const std::string &text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

// The text in codePage; false when some character has no place in it.
bool Narrow(const std::wstring &wide, UINT codePage, std::string *text)
{
    text->clear();
    if (wide.empty())
        return true;
    BOOL lossy = FALSE;
    BOOL *check = codePage == CP_UTF8 ? nullptr : &lossy;
    DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(codePage, flags, wide.data(), int(wide.size()), nullptr, 0,
                                nullptr, check);
    text->assign(size_t(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), int(wide.size()), text->data(), n, nullptr,
                        check);
    return !lossy;
}

std::string Utf8(const std::wstring &wide)
{
    std::string text;
    Narrow(wide, CP_UTF8, &text);
    return text;
}

// The errors that files run into, in the words the C library of a POSIX
// system uses, so that both builds say the same; Windows' own text for
// the rest.
std::string ErrorText(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return "No such file or directory";
    case ERROR_ACCESS_DENIED:
        return "Permission denied";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "File exists";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "No space left on device";
    case ERROR_FILENAME_EXCED_RANGE:
        return "File name too long";
    }
    wchar_t *message = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, error, 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
    std::wstring text = n ? std::wstring(message, n) : L"error " + std::to_wstring(error);
    LocalFree(message);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
        text.pop_back();
    return Utf8(text);
}

HANDLE Handle(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// Reads or writes count bytes at offset in one call; the bytes moved.
DWORD TransferAt(HANDLE file, uint64_t offset, unsigned char *data, DWORD count, bool write)
{
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD moved = 0;
    BOOL ok = write ? WriteFile(file, data, count, &moved, &at)
                    : ReadFile(file, data, count, &moved, &at);
    return ok ? moved : 0;
}

} // namespace

namespace SystemFile {

intptr_t OpenForReading(const fs::path &path, std::string *error)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        *error = ErrorText(GetLastError());
    return reinterpret_cast<intptr_t>(file);
}

long ReadNext(intptr_t file, unsigned char *data, size_t count, std::string *error)
{
    DWORD got = 0;
    if (ReadFile(Handle(file), data, DWORD(count < (1u << 30) ? count : (1u << 30)), &got,
                 nullptr))
        return long(got);
    DWORD code = GetLastError();
    if (code == ERROR_BROKEN_PIPE) // the writing end of a pipe has closed it
        return 0;
    *error = ErrorText(code);
    return -1;
}

intptr_t CreateExclusive(const fs::path &path, bool *taken, std::string *error)
{
    // CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT fails on any name that
    // exists, a symbolic link or junction included, instead of creating
    // the file that a link points to.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD code = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    *taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    if (code != ERROR_SUCCESS)
        *error = ErrorText(code);
    return reinterpret_cast<intptr_t>(file);
}

bool WriteAt(intptr_t file, uint64_t offset, const unsigned char *data, size_t count)
{
    while (count) {
        DWORD chunk = DWORD(count < (1u << 30) ? count : (1u << 30));
        DWORD put =
            TransferAt(Handle(file), offset, const_cast<unsigned char *>(data), chunk, true);
        if (put == 0)
            return false;
        data += put;
        count -= put;
        offset += put;
    }
    return true;
}

size_t ReadAt(intptr_t file, uint64_t offset, unsigned char *data, size_t count)
{
    size_t done = 0;
    while (done < count) {
        DWORD chunk = DWORD(count - done < (1u << 30) ? count - done : (1u << 30));
        DWORD n = TransferAt(Handle(file), offset + done, data + done, chunk, false);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool Close(intptr_t file)
{
    return CloseHandle(Handle(file));
}

bool Replace(const fs::path &from, const fs::path &to, std::string *error)
{
    // MoveFileEx renames the link at to, if one is there, not its target.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *error = ErrorText(GetLastError());
    return false;
}

void Remove(const fs::path &path)
{
    DeleteFileW(path.c_str());
}

unsigned RandomNumber()
{
    unsigned random = 0;
    if (BCryptGenRandom(nullptr, reinterpret_cast<UCHAR *>(&random), sizeof random,
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        random = GetTickCount() ^ (GetCurrentProcessId() << 16);
    return random;
}

} // namespace SystemFile

namespace {

// std::cout and std::cerr on a console window: UTF-8 shown as such,
// whatever the console's code page, through WriteConsoleW. Whole
// characters only: a sequence cut by a flush waits for its end.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override
    {
        if (c != traits_type::eof()) {
            pending_ += char(c);
            if (c == '\n' || pending_.size() >= 4096)
                Flush();
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char *text, std::streamsize count) override
    {
        pending_.append(text, size_t(count));
        Flush();
        return count;
    }

    int sync() override
    {
        Flush();
        return 0;
    }

private:
    void Flush()
    {
        size_t whole = pending_.size();
        // Back to the first byte of a sequence that may still go on.
        size_t lead = whole;
        while (lead > 0 && whole - lead < 4 &&
               (static_cast<unsigned char>(pending_[lead - 1]) & 0xC0) == 0x80)
            --lead;
        if (lead > 0 && (static_cast<unsigned char>(pending_[lead - 1]) & 0xC0) == 0xC0) {
            unsigned char first = static_cast<unsigned char>(pending_[lead - 1]);
            size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
            if (whole - (lead - 1) < length)
                whole = lead - 1;
        }
        std::wstring wide = Widen(pending_.substr(0, whole), CP_UTF8);
        DWORD written;
        if (!wide.empty())
            WriteConsoleW(console_, wide.data(), DWORD(wide.size()), &written, nullptr);
        pending_.erase(0, whole);
    }

    HANDLE console_;
    std::string pending_;
};

bool IsConsole(HANDLE handle)
{
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

} // namespace

void PrepareConsole()
{
    // Redirected output gets the bytes as they are: "\n" stays "\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // Never destroyed: the streams may still flush while the program ends.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
    if (IsConsole(out))
        std::cout.rdbuf(new ConsoleBuffer(out));
    if (IsConsole(err))
        std::cerr.rdbuf(new ConsoleBuffer(err));
}

std::vector<std::string> ProgramArguments(int, char **)
{
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

fs::path ProgramFolder(const char *)
{
    std::wstring name(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, name.data(), DWORD(name.size()));
    name.resize(n);
    return fs::path(name).parent_path();
}

bool ErrorIsTerminal()
{
    return IsConsole(GetStdHandle(STD_ERROR_HANDLE));
}

std::optional<std::string> EnvironmentText(const char *name)
{
    std::wstring wideName = Widen(name, CP_UTF8);
    DWORD n = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (n == 0)
        return std::nullopt;
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(wideName.c_str(), value.data(), n);
    value.resize(n);
    std::string text;
    if (!Narrow(value, CP_ACP, &text))
        throw PackError(std::string(name) + ": holds characters that the ANSI code page " +
                        "cannot hold, which the stub could never be given");
    return text;
}

std::string AnsiFromArgument(const std::string &text, const char *what)
{
    std::string ansi;
    if (!Narrow(Widen(text, CP_UTF8), CP_ACP, &ansi))
        throw PackError(std::string(what) + ": holds characters that the ANSI code page " +
                        "cannot hold, which the stub could never be given");
    return ansi;
}

fs::path PathFromArgument(const std::string &text)
{
    return fs::path(Widen(text, CP_UTF8));
}

fs::path PathFromAnsi(const std::string &text)
{
    return fs::path(Widen(text, CP_ACP)).make_preferred();
}

std::string AnsiFromPath(const fs::path &path)
{
    std::string ansi;
    if (!Narrow(fs::path(path).make_preferred().native(), CP_ACP, &ansi))
        throw PackError(path.string() + ": holds characters that the ANSI code page cannot " +
                        "hold; a settings file cannot name it");
    return ansi;
}
