// kestpack's reader of Windows Installer databases on arbitrary bytes: the
// compound file's directory and chains, the string pool, the Property
// table and the summary information, as build reads a package and its
// transforms.
#include "fuzz.h"
#include "pack/database.h"
#include "pack/identity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemorySource source(data, size);
    try {
        CompoundFile database(source);
        SummaryInformation summary = ReadSummaryInformation(database);
        std::string code = TransformProductCode(summary);
        FUZZ_CHECK(code.empty() || (code.size() == 38 && code.front() == '{' &&
                                    code.back() == '}' &&
                                    summary.RevisionNumber.compare(0, 38, code) == 0));
        FUZZ_CHECK(summary.Template.find('\0') == std::string::npos);
        StringPool pool = ReadStringPool(database);
        FUZZ_CHECK(!pool.Strings.empty() && pool.Strings[0].empty());
        FUZZ_CHECK(pool.ReferenceSize == 2 || pool.ReferenceSize == 3);
        // Every string is a part of the pool's data, itself a part of the
        // file.
        size_t total = 0;
        for (const std::string &s : pool.Strings)
            total += s.size();
        FUZZ_CHECK(total <= size);
        for (const auto &row : ReadPropertyTable(database, pool))
            FUZZ_CHECK(!row.first.empty() && row.first.size() <= total &&
                       row.second.size() <= total);
    } catch (const PackError &) {
    }
    try {
        PackageIdentity identity = ReadPackageIdentity(source);
        for (const std::string &value : identity.Values)
            FUZZ_CHECK(value.size() <= size);
    } catch (const PackError &) {
    }
    return 0;
}
