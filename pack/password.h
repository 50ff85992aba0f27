// Where inspect and extract take the installation password from: the
// command line shows in the process list, so a file or the environment
// may give it instead.
#pragma once
#include <optional>
#include <string>

// The name of the environment variable that gives the password.
extern const char PasswordVariable[];

// The password given by --password (option), else by the first line of
// --password-file (file; its line end is dropped), else by the environment
// variable's value (environment, null or empty when unset). Throws
// PackError when both options are given, or the file cannot be read,
// holds more than one line or is empty.
std::optional<std::string> ChoosePassword(const std::optional<std::string> &option,
                                          const std::optional<std::string> &file,
                                          const char *environment);
