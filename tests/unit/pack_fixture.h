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

// A compound file whose root storage has the installer class ending in
// `cls` (0x84 package, 0x82 transform), followed by `extra` bytes of noise.
inline Bytes MakeCompound(unsigned char cls, size_t extra, unsigned seed)
{
    Bytes b(1024, 0);
    const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(b.data(), signature, 8);
    StoreLe16(&b[0x18], 0x3E);
    StoreLe16(&b[0x1A], 3);
    StoreLe16(&b[0x1C], 0xFFFE);
    StoreLe16(&b[0x1E], 9);
    StoreLe32(&b[0x30], 0); // the directory starts at sector 0, offset 512
    const char root[] = "Root Entry";
    for (size_t i = 0; i < sizeof root - 1; ++i)
        b[512 + 2 * i] = (unsigned char)root[i];
    b[512 + 0x42] = 5;
    const unsigned char tail[15] = {0x10, 0x0C, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    b[512 + 0x50] = cls;
    std::memcpy(&b[512 + 0x51], tail, sizeof tail);
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
