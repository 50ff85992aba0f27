// Inputs for the packer's tests: a scratch folder, a stub image laid out as
// the linker lays out the real one, and compound files of the installer
// classes.
#pragma once
#include "pack/ini.h"
#include "payload/layout.h"
#include <gtest/gtest.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace packtest {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline void WriteBytes(const fs::path &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

inline Bytes ReadBytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline Bytes Noise(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b(size);
    for (unsigned char &c : b)
        c = (unsigned char)random();
    return b;
}

enum StubKind { StubPe32, StubPe32Plus };

// Offset of the certificate table's size in a stub from MakeStub.
inline unsigned CertificateSizeOffset(StubKind kind)
{
    return 0x80 + 24 + (kind == StubPe32Plus ? 112 : 96) + 4 * 8 + 4;
}

// A PE32 (or PE32+) image with .text, .KEST (512 bytes, the marker first)
// and .rsrc.
inline Bytes MakeStub(unsigned kestRaw = 512, const char *kestName = ".KEST",
                      StubKind kind = StubPe32)
{
    Bytes b(0x800, 0);
    b[0] = 'M';
    b[1] = 'Z';
    const bool plus = kind == StubPe32Plus;
    const unsigned nt = 0x80, opt = nt + 24, optSize = plus ? 0xF0 : 0xE0, table = opt + optSize;
    StoreLe32(&b[0x3C], nt);
    std::memcpy(&b[nt], "PE\0\0", 4);
    StoreLe16(&b[nt + 4], plus ? 0x8664 : 0x14C);
    StoreLe16(&b[nt + 6], 3);
    StoreLe16(&b[nt + 20], optSize);
    StoreLe16(&b[opt], plus ? 0x20B : 0x10B);
    StoreLe32(&b[opt + 8], 0x400);  // SizeOfInitializedData
    StoreLe32(&b[opt + 32], 0x1000); // SectionAlignment
    StoreLe32(&b[opt + 36], 0x200);  // FileAlignment
    StoreLe32(&b[opt + (plus ? 108 : 92)], 16);
    const char *names[3] = {".text", kestName, ".rsrc"};
    for (unsigned i = 0; i < 3; ++i) {
        unsigned char *h = &b[table + 40 * i];
        std::memcpy(h, names[i], std::strlen(names[i]));
        StoreLe32(h + 8, 4);
        StoreLe32(h + 12, 0x1000 * (i + 1));
        StoreLe32(h + 16, i == 1 ? kestRaw : 0x200);
        StoreLe32(h + 20, 0x200 * (i + 1));
    }
    StoreLe32(&b[0x400], SectionMarker);
    b.resize(std::max<size_t>(b.size(), 0x400 + kestRaw));
    b[0x200] = 0xC3;
    return b;
}

// The product code of the packages that MakeCompound makes.
const char PackageCode[] = "{11111111-2222-3333-4444-555555555555}";

// A version 3 compound file (512-byte sectors) whose root storage has the
// installer class ending in `cls` (0x84 package, 0x82 transform) and holds
// the streams given, the small ones in the mini stream, as Windows writes
// one. The root's children are chained through their right links.
inline Bytes MakeCompoundFile(unsigned char cls,
                              const std::vector<std::pair<std::u16string, Bytes>> &streams)
{
    const uint32_t End = 0xFFFFFFFE, Free = 0xFFFFFFFF, FatMark = 0xFFFFFFFD, None = 0xFFFFFFFF;
    const size_t Sector = 512;
    auto sectors = [&](size_t n) { return (n + Sector - 1) / Sector; };
    Bytes mini;
    std::vector<uint32_t> miniFat, start(streams.size(), End);
    std::vector<size_t> big;
    for (size_t i = 0; i < streams.size(); ++i) {
        const Bytes &data = streams[i].second;
        if (data.size() >= 4096) {
            big.push_back(i);
            continue;
        }
        size_t count = (data.size() + 63) / 64;
        if (count)
            start[i] = uint32_t(mini.size() / 64);
        for (size_t k = 0; k < count; ++k)
            miniFat.push_back(k + 1 < count ? uint32_t(mini.size() / 64 + k + 1) : End);
        mini.insert(mini.end(), data.begin(), data.end());
        mini.resize((mini.size() + 63) / 64 * 64);
    }
    std::vector<size_t> lengths = {sectors(128 * (streams.size() + 1)), sectors(4 * miniFat.size()),
                                   sectors(mini.size())};
    for (size_t i : big)
        lengths.push_back(sectors(streams[i].second.size()));
    size_t content = 0;
    for (size_t n : lengths)
        content += n;
    size_t fatSectors = 1;
    while (fatSectors * (Sector / 4) < fatSectors + content)
        ++fatSectors;
    std::vector<uint32_t> fat(fatSectors, FatMark), first;
    uint32_t next = uint32_t(fatSectors);
    for (size_t n : lengths) {
        first.push_back(n ? next : End);
        for (size_t k = 0; k < n; ++k)
            fat.push_back(k + 1 < n ? uint32_t(next + k + 1) : End);
        next += uint32_t(n);
    }
    fat.resize(fatSectors * (Sector / 4), Free);
    for (size_t j = 0; j < big.size(); ++j)
        start[big[j]] = first[3 + j];

    Bytes file(Sector, 0);
    const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(file.data(), signature, 8);
    StoreLe16(&file[0x18], 0x3E);
    StoreLe16(&file[0x1A], 3);
    StoreLe16(&file[0x1C], 0xFFFE);
    StoreLe16(&file[0x1E], 9);
    StoreLe16(&file[0x20], 6);
    StoreLe32(&file[0x2C], uint32_t(fatSectors));
    StoreLe32(&file[0x30], first[0]);
    StoreLe32(&file[0x38], 4096);
    StoreLe32(&file[0x3C], first[1]);
    StoreLe32(&file[0x40], uint32_t(lengths[1]));
    StoreLe32(&file[0x44], End);
    for (size_t i = 0; i < 109; ++i)
        StoreLe32(&file[0x4C + 4 * i], i < fatSectors ? uint32_t(i) : Free);
    for (uint32_t entry : fat) {
        file.resize(file.size() + 4);
        StoreLe32(&file[file.size() - 4], entry);
    }
    auto entry = [&](const std::u16string &name, unsigned char type, uint32_t child, uint32_t right,
                     uint32_t at, uint64_t size) {
        Bytes e(128, 0);
        for (size_t i = 0; i < name.size(); ++i)
            StoreLe16(&e[2 * i], name[i]);
        StoreLe16(&e[0x40], unsigned(2 * name.size() + 2));
        e[0x42] = type;
        e[0x43] = 1; // black
        StoreLe32(&e[0x44], None);
        StoreLe32(&e[0x48], right);
        StoreLe32(&e[0x4C], child);
        StoreLe32(&e[0x74], at);
        StoreLe32(&e[0x78], uint32_t(size));
        file.insert(file.end(), e.begin(), e.end());
    };
    size_t directory = file.size();
    entry(u"Root Entry", 5, streams.empty() ? None : 1, None, first[2], mini.size());
    const unsigned char tail[15] = {0x10, 0x0C, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    file[directory + 0x50] = cls;
    std::memcpy(&file[directory + 0x51], tail, sizeof tail);
    for (size_t i = 0; i < streams.size(); ++i)
        entry(streams[i].first, 2, None, i + 1 < streams.size() ? uint32_t(i + 2) : None,
              start[i], streams[i].second.size());
    auto pad = [&] { file.resize((file.size() + Sector - 1) / Sector * Sector); };
    pad();
    for (uint32_t m : miniFat) {
        file.resize(file.size() + 4);
        StoreLe32(&file[file.size() - 4], m);
    }
    size_t padded = file.size() + (Sector - file.size() % Sector) % Sector;
    file.resize(padded, 0xFF); // the rest of the mini stream's table: free
    file.insert(file.end(), mini.begin(), mini.end());
    pad();
    for (size_t i : big) {
        file.insert(file.end(), streams[i].second.begin(), streams[i].second.end());
        pad();
    }
    return file;
}

// The name of a table's stream, as DatabaseStreamName makes it, for tests
// that build databases without the code under test.
inline std::u16string TableStream(const std::string &table)
{
    static const char Alphabet[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
    auto index = [&](size_t i) {
        const char *at = i < table.size() ? std::strchr(Alphabet, table[i]) : nullptr;
        return at ? int(at - Alphabet) : -1;
    };
    std::u16string name(1, u'\x4840');
    for (size_t i = 0; i < table.size();) {
        int a = index(i), b = index(i + 1);
        name += b >= 0 ? char16_t(0x3800 + a + (b << 6)) : char16_t(0x4800 + a);
        i += b >= 0 ? 2 : 1;
    }
    return name;
}

// A summary information stream whose Template and Revision Number are the
// texts given.
inline Bytes SummaryStream(const std::string &templateText, const std::string &revision)
{
    Bytes b(48, 0);
    StoreLe16(&b[0], 0xFFFE);
    StoreLe32(&b[24], 1);
    StoreLe32(&b[44], 48);
    std::vector<std::pair<unsigned, std::string>> values = {{7, templateText}, {9, revision}};
    Bytes section(8 + 8 * values.size(), 0), body;
    StoreLe32(&section[4], unsigned(values.size()));
    for (size_t k = 0; k < values.size(); ++k) {
        StoreLe32(&section[8 + 8 * k], values[k].first);
        StoreLe32(&section[12 + 8 * k], unsigned(section.size() + body.size()));
        Bytes value(8, 0);
        StoreLe32(&value[0], 30); // VT_LPSTR
        StoreLe32(&value[4], unsigned(values[k].second.size() + 1));
        value.insert(value.end(), values[k].second.begin(), values[k].second.end());
        value.resize((value.size() + 1 + 3) / 4 * 4, 0);
        body.insert(body.end(), value.begin(), value.end());
    }
    StoreLe32(&section[0], unsigned(section.size() + body.size()));
    b.insert(b.end(), section.begin(), section.end());
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// A Windows Installer package whose Property table holds the rows given,
// in a string pool of that code page; longRefs stores string references in
// three bytes, as a pool of more than 65,535 strings does.
inline Bytes MakePackage(const std::vector<std::pair<std::string, std::string>> &properties,
                         unsigned codePage = 0, bool longRefs = false)
{
    std::vector<std::string> strings;
    auto reference = [&](const std::string &text) -> uint32_t {
        if (text.empty())
            return 0;
        for (size_t i = 0; i < strings.size(); ++i)
            if (strings[i] == text)
                return uint32_t(i + 1);
        strings.push_back(text);
        return uint32_t(strings.size());
    };
    std::vector<uint32_t> keys, values;
    for (const auto &row : properties) {
        keys.push_back(reference(row.first));
        values.push_back(reference(row.second));
    }
    Bytes pool(4, 0), data, table;
    StoreLe16(&pool[0], codePage & 0xFFFF);
    StoreLe16(&pool[2], (codePage >> 16) | (longRefs ? 0x8000 : 0));
    for (const std::string &text : strings) {
        size_t at = pool.size();
        bool large = text.size() > 0xFFFF;
        pool.resize(at + (large ? 8 : 4), 0);
        StoreLe16(&pool[at], large ? 0 : unsigned(text.size()));
        StoreLe16(&pool[at + 2], 1);
        if (large) {
            StoreLe16(&pool[at + 4], unsigned(text.size() & 0xFFFF));
            StoreLe16(&pool[at + 6], unsigned(text.size() >> 16));
        }
        data.insert(data.end(), text.begin(), text.end());
    }
    for (const std::vector<uint32_t> *column : {&keys, &values})
        for (uint32_t r : *column)
            for (int i = 0; i < (longRefs ? 3 : 2); ++i)
                table.push_back((unsigned char)(r >> (8 * i)));
    // A package's Revision Number is its own package code.
    Bytes summary = SummaryStream("Intel;1033", "{AAAAAAAA-0000-0000-0000-000000000000}");
    return MakeCompoundFile(0x84, {{u"\x0005SummaryInformation", summary},
                                   {TableStream("_StringPool"), pool},
                                   {TableStream("_StringData"), data},
                                   {TableStream("Property"), table}});
}

// A transform whose summary information says it applies to product.
inline Bytes MakeTransform(const std::string &product, const std::string &version = "1.0")
{
    std::string revision = product + version + ";" + product + version + ";";
    return MakeCompoundFile(0x82, {{u"\x0005SummaryInformation",
                                    SummaryStream("Intel;1033", revision)}});
}

// A package naming only its ProductCode (PackageCode) for `cls` 0x84, a
// transform made for it for 0x82, followed by `extra` bytes of noise.
inline Bytes MakeCompound(unsigned char cls, size_t extra, unsigned seed)
{
    Bytes b = cls == 0x84 ? MakePackage({{"ProductCode", PackageCode}})
                          : MakeTransform(PackageCode);
    Bytes noise = Noise(extra, seed);
    b.insert(b.end(), noise.begin(), noise.end());
    return b;
}

class PackFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("kestpack-" + std::string(info->test_suite_name()) + "-" + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        WriteBytes(dir / "kestsetup.exe", MakeStub());
    }
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir);
    }

    fs::path Put(const std::string &name, const Bytes &bytes)
    {
        WriteBytes(dir / name, bytes);
        return dir / name;
    }

    // Writes the INI from lines; returns its path.
    fs::path Ini(const std::vector<std::string> &lines, const std::string &name = "pack.ini")
    {
        std::string text;
        for (const std::string &l : lines)
            text += l + "\r\n";
        return Put(name, Bytes(text.begin(), text.end()));
    }

    // Names of every file in the folder, for "nothing was written" checks.
    std::vector<std::string> Listing() const
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Names of the temporaries that kestpack left in folder.
    static std::vector<std::string> Temporaries(const fs::path &folder)
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(folder)) {
            std::string name = e.path().filename().string();
            if (name.size() > 13 && name.compare(name.size() - 13, 13, ".kestpack-tmp") == 0)
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
};

} // namespace packtest
