#include "pack/database.h"
#include "payload/layout.h"
#include <cstring>

namespace {

// A database's own streams are small next to its cabinets: far above what
// any package holds, and a bound on what a crafted one makes kestpack read.
const uint64_t TableLimit = 64u << 20;
const uint64_t SummaryLimit = 1u << 20;

const char16_t SummaryStream[] = u"\x0005SummaryInformation";

enum { TypeText = 30, PidTemplate = 7, PidRevisionNumber = 9 };

[[noreturn]] void Damaged(const std::string &what)
{
    throw CompoundError("damaged Windows Installer database: " + what);
}

int MimeIndex(char c)
{
    static const char Alphabet[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
    const char *found = c ? std::strchr(Alphabet, c) : nullptr;
    return found ? int(found - Alphabet) : -1;
}

bool IsBracedGuid(const std::string &text)
{
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        char c = text[i];
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex)
            return false;
    }
    return true;
}

} // namespace

std::u16string DatabaseStreamName(const std::string &table)
{
    std::u16string name(1, char16_t(0x4840));
    for (size_t i = 0; i < table.size();) {
        int a = MimeIndex(table[i]);
        int b = i + 1 < table.size() ? MimeIndex(table[i + 1]) : -1;
        if (a >= 0 && b >= 0) {
            name += char16_t(0x3800 + a + (b << 6));
            i += 2;
        } else {
            name += a >= 0 ? char16_t(0x4800 + a) : char16_t(static_cast<unsigned char>(table[i]));
            i += 1;
        }
    }
    return name;
}

const std::string &StringPool::At(uint32_t reference) const
{
    if (reference >= Strings.size())
        Damaged("a table refers to string " + std::to_string(reference) + " of " +
                std::to_string(Strings.size() - 1));
    return Strings[reference];
}

StringPool ReadStringPool(CompoundFile &database)
{
    StringPool pool;
    pool.Strings.emplace_back();
    auto entries = database.ReadStream(DatabaseStreamName("_StringPool"), TableLimit);
    if (!entries || entries->size() < 4)
        return pool;
    auto data = database.ReadStream(DatabaseStreamName("_StringData"), TableLimit);
    if (!data)
        data.emplace();
    const unsigned char *p = entries->data();
    // The first entry holds the code page, and in its top bit whether
    // references take three bytes.
    unsigned high = LoadLe16(p + 2);
    pool.CodePage = LoadLe16(p) | (high & 0x7FFF) << 16;
    pool.ReferenceSize = (high & 0x8000) ? 3 : 2;
    const size_t count = entries->size() / 4;
    size_t offset = 0;
    for (size_t i = 1; i < count;) {
        uint32_t length = LoadLe16(p + 4 * i);
        uint32_t references = LoadLe16(p + 4 * i + 2);
        if (length == 0 && references == 0) {
            // An unused number: the null string.
            pool.Strings.emplace_back();
            ++i;
            continue;
        }
        if (length == 0) {
            // A string of 64 KiB or more: the next entry holds its length.
            if (i + 1 >= count)
                Damaged("the string pool ends inside an entry");
            length = LoadLe16(p + 4 * (i + 1)) | uint32_t(LoadLe16(p + 4 * (i + 1) + 2)) << 16;
            i += 2;
        } else {
            i += 1;
        }
        if (length > data->size() - offset)
            Damaged("the string pool runs past its data");
        pool.Strings.emplace_back(reinterpret_cast<const char *>(data->data()) + offset, length);
        offset += length;
    }
    return pool;
}

std::vector<std::pair<std::string, std::string>> ReadPropertyTable(CompoundFile &database,
                                                                   const StringPool &pool)
{
    std::vector<std::pair<std::string, std::string>> rows;
    auto table = database.ReadStream(DatabaseStreamName("Property"), TableLimit);
    if (!table)
        return rows;
    // Tables store column after column: every key, then every value.
    const size_t width = pool.ReferenceSize, rowSize = 2 * width;
    if (table->size() % rowSize != 0)
        Damaged("the Property table does not hold whole rows");
    const size_t count = table->size() / rowSize;
    auto reference = [&](size_t at) {
        const unsigned char *b = table->data() + at;
        return uint32_t(b[0] | b[1] << 8 | (width == 3 ? b[2] << 16 : 0));
    };
    for (size_t r = 0; r < count; ++r) {
        const std::string &key = pool.At(reference(r * width));
        if (key.empty())
            continue;
        rows.emplace_back(key, pool.At(reference((count + r) * width)));
    }
    return rows;
}

SummaryInformation ReadSummaryInformation(CompoundFile &database)
{
    SummaryInformation summary;
    auto stream = database.ReadStream(SummaryStream, SummaryLimit);
    if (!stream)
        return summary;
    const std::vector<unsigned char> &s = *stream;
    // A property set: its header, the first section's format and offset,
    // then the section: its size, the count of properties, (id, offset)
    // pairs, and each value as its type and its bytes.
    if (s.size() < 48 || LoadLe16(s.data()) != 0xFFFE || LoadLe32(&s[24]) < 1)
        Damaged("the summary information is no property set");
    uint64_t section = LoadLe32(&s[44]);
    if (section > s.size() || s.size() - section < 8)
        Damaged("the summary information's section lies outside it");
    uint64_t count = LoadLe32(&s[section + 4]);
    if (count > (s.size() - section - 8) / 8)
        Damaged("the summary information lists more properties than it holds");
    for (uint64_t k = 0; k < count; ++k) {
        const unsigned char *pair = &s[section + 8 + 8 * k];
        uint32_t id = LoadLe32(pair);
        uint64_t at = section + LoadLe32(pair + 4);
        if (id != PidTemplate && id != PidRevisionNumber)
            continue;
        if (at > s.size() || s.size() - at < 8)
            Damaged("a summary property lies outside the summary information");
        if (LoadLe32(&s[at]) != TypeText)
            continue;
        uint64_t length = LoadLe32(&s[at + 4]);
        if (length > s.size() - at - 8)
            Damaged("a summary text runs past the summary information");
        std::string text(reinterpret_cast<const char *>(&s[at + 8]), size_t(length));
        text = text.substr(0, text.find('\0'));
        (id == PidTemplate ? summary.Template : summary.RevisionNumber) = text;
    }
    return summary;
}

std::string TransformProductCode(const SummaryInformation &summary)
{
    std::string code = summary.RevisionNumber.substr(0, 38);
    return IsBracedGuid(code) ? code : std::string();
}
