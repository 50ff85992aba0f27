#include "pack/password.h"
#include "pack/error.h"
#include "pack/files.h"

const char PasswordVariable[] = "KESTPACK_PASSWORD";

namespace {

// A stored password holds at most 254 bytes; the bound only keeps a wrong
// file from being read whole.
const uint64_t PasswordFileLimit = 4096;

} // namespace

std::optional<std::string> ChoosePassword(const std::optional<std::string> &option,
                                          const std::optional<std::string> &file,
                                          const char *environment)
{
    if (option && file)
        throw PackError("give --password or --password-file, not both");
    if (option)
        return option;
    if (file) {
        std::vector<unsigned char> bytes =
            ReadWholeFile(PathFromArgument(*file), PasswordFileLimit);
        std::string text(bytes.begin(), bytes.end());
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.find_first_of("\r\n") != std::string::npos)
            throw PackError(*file + ": holds more than one line; give the password alone");
        if (text.empty())
            throw PackError(*file + ": empty; give the password on its first line");
        return text;
    }
    if (environment && *environment)
        return std::string(environment);
    return std::nullopt;
}
