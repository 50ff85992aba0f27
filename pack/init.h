// kestpack init: a starting pack INI for a package, which packs as it
// stands into a working installer.
#pragma once
#include "pack/identity.h"
#include <filesystem>
#include <string>

// The INI's text (ANSI, CRLF): the package's identity, ProductFile (as
// the INI names it), an empty CmdLine, and commented examples of the
// language, runtime and password keys. Pure.
std::string StartingIniText(const PackageIdentity &identity, const std::string &productFile,
                            const std::string &packageName);

// Reads the identity of package and writes the INI to ini, naming the
// package relative to the INI's folder. Throws PackError, leaving nothing
// behind, when the package cannot be read or ini exists already.
void WriteStartingIni(const std::filesystem::path &package, const std::filesystem::path &ini);
