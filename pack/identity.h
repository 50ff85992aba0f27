// A product's identity as its package states it in the Property table:
// what kestpack fills a missing settings key from, checks a given one
// against, and what inspect compares an installer with.
#pragma once
#include "pack/compound.h"
#include <string>

enum IdentityField {
    IdentityProductCode,
    IdentityProductVersion,
    IdentityProductName,
    IdentityUpgradeCode,     // not stored: the stub does not use it
    IdentityProductLanguage, // nor this
    IdentityFieldCount
};

// The property names, which are the settings keys as well.
extern const char *const IdentityKeys[IdentityFieldCount];

struct PackageIdentity {
    std::string Values[IdentityFieldCount]; // empty where the package has none
    unsigned CodePage = 0;                  // of the texts; 0 is the neutral one
};

// Reads the Property table of the package in source. Throws CompoundError
// when the package is damaged or is not a Windows Installer package.
PackageIdentity ReadPackageIdentity(ByteSource &source);

// The product code that the transform in source applies to, from its
// summary information; empty when it names none. Throws CompoundError.
std::string ReadTransformProductCode(ByteSource &source);

// Whether two values of a field are the same: codes are GUIDs, whose
// letters may be written in either case.
bool SameIdentityValue(IdentityField field, const std::string &a, const std::string &b);
