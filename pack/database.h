// The few parts of a Windows Installer database that kestpack reads: the
// string pool that every table refers to, the Property table, and the
// summary information. Each reader takes what a CompoundFile gives and
// checks every length and reference against it: a damaged or hostile
// database gives a CompoundError naming what is wrong.
#pragma once
#include "pack/compound.h"
#include <string>
#include <utility>
#include <vector>

// The name of a table's stream: a database packs two characters of
// [0-9A-Za-z._] into one UTF-16 unit (0x3800 + a + b * 64), a lone one
// into 0x4800 + a, and begins the name of every table with 0x4840.
std::u16string DatabaseStreamName(const std::string &table);

// The strings of a database, numbered from 1; 0 is the null string.
struct StringPool {
    unsigned CodePage = 0;      // of the strings' bytes; 0 is the neutral one
    unsigned ReferenceSize = 2; // bytes of a string reference in the tables: 2, or 3
                                // in a pool of more than 65,535 strings
    std::vector<std::string> Strings; // Strings[0] is empty

    // The string with that number; throws CompoundError when there is none.
    const std::string &At(uint32_t reference) const;
};

// Reads _StringPool and _StringData. A database without them has no
// strings.
StringPool ReadStringPool(CompoundFile &database);

// The rows of the Property table (Property, Value) in their stored order,
// each text in the pool's code page, rows without a name left out; empty
// when the table is absent.
std::vector<std::pair<std::string, std::string>> ReadPropertyTable(CompoundFile &database,
                                                                   const StringPool &pool);

// The texts of the summary information that tell what a database is made
// for: Template (PID 7, "platform;language") and Revision Number (PID 9:
// a package's own code, or for a transform "{old product code}old
// version;{new product code}new version;{upgrade code}"). Empty when
// absent or not a text.
struct SummaryInformation {
    std::string Template, RevisionNumber;
};

SummaryInformation ReadSummaryInformation(CompoundFile &database);

// The product code a transform applies to, from its summary's Revision
// Number: the braced GUID it begins with, or empty when it begins with none.
std::string TransformProductCode(const SummaryInformation &summary);
