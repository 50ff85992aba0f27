#include "pack/identity.h"
#include "pack/database.h"

const char *const IdentityKeys[IdentityFieldCount] = {
    "ProductCode", "ProductVersion", "ProductName", "UpgradeCode", "ProductLanguage"};

PackageIdentity ReadPackageIdentity(ByteSource &source)
{
    CompoundFile database(source);
    if (database.Kind() != CompoundKind::Package)
        throw CompoundError(std::string("not a package: ") + CompoundKindName(database.Kind()));
    StringPool pool = ReadStringPool(database);
    PackageIdentity identity;
    identity.CodePage = pool.CodePage;
    for (const auto &row : ReadPropertyTable(database, pool))
        for (int f = 0; f < IdentityFieldCount; ++f)
            if (row.first == IdentityKeys[f] && identity.Values[f].empty())
                identity.Values[f] = row.second;
    return identity;
}

std::string ReadTransformProductCode(ByteSource &source)
{
    CompoundFile database(source);
    return TransformProductCode(ReadSummaryInformation(database));
}

bool SameIdentityValue(IdentityField field, const std::string &a, const std::string &b)
{
    if (field != IdentityProductCode && field != IdentityUpgradeCode)
        return a == b;
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}
