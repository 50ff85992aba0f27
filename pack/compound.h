// What kind of Windows Installer file a compound file is. Windows Installer
// marks the root storage of every database with a class: one for packages,
// one for transforms, one for patches; that class, not the file name, is
// what tells a transform from a package.
#pragma once
#include <filesystem>

enum class CompoundKind {
    NotCompound, // no compound-file signature, or a damaged header
    Package,     // {000C1084-0000-0000-C000-000000000046}
    Transform,   // {000C1082-0000-0000-C000-000000000046}
    Patch,       // {000C1086-0000-0000-C000-000000000046}
    Other        // a compound file of another class
};

// Reads the header and the first directory sector of file. Throws PackError
// when the file cannot be read.
CompoundKind ClassifyCompoundFile(const std::filesystem::path &file);

// The same for bytes already in memory (the first sectors of a file).
CompoundKind ClassifyCompoundBytes(const unsigned char *data, size_t size);

const char *CompoundKindName(CompoundKind kind);
