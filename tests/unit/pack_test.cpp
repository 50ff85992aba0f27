// kestpack end to end in memory and on disk: the writer's output read back
// by the stub's header decoder, the refusals, determinism.
#include "pack/builder.h"
#include "pack/config.h"
#include "pack/database.h"
#include "pack/error.h"
#include "pack/examine.h"
#include "pack/init.h"
#include "pack/password.h"
#include "pack_fixture.h"
#include "payload/crc32.h"
#include "payload/keystream.h"
#include <cstdio>
#include <iconv.h>
#include "payload/sha256.h"
#include <sstream>

namespace {

using namespace packtest;

const std::string Code = "{11111111-2222-3333-4444-555555555555}";
const std::string Zeros64(64, '0'), Ones64(64, '1');

// The SHA-256 of data as 64 lower-case hexadecimal digits.
std::string DigestOf(const Bytes &data)
{
    Sha256Context c;
    Sha256Start(&c);
    Sha256Add(&c, data.data(), unsigned(data.size()));
    Sha256Finish(&c);
    char text[Sha256TextSize + 1];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 8 * i, 9, "%08x", c.Hash[i]);
    return text;
}

std::string Upper(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class Pack : public PackFolder {
protected:
    // The usual inputs: a package, three transforms and two runtimes.
    void Inputs()
    {
        package = MakeCompound(0x84, 200000 + 3, 1);
        for (int k = 0; k < 3; ++k)
            transforms.push_back(MakeCompound(0x82, 1000 * (k + 1) + k, 10 + k));
        Put("product.msi", package);
        for (int k = 0; k < 3; ++k)
            Put("lang" + std::to_string(k + 1) + ".mst", transforms[size_t(k)]);
        rt9x = Noise(70001, 2);
        rtnt = Noise(5, 3);
        Put("instmsia.exe", rt9x);
        Put("instmsiw.exe", rtnt);
    }

    std::vector<std::string> FullIni(const std::string &password = "Se\xe4" "cret")
    {
        return {"; a comment",
                "[KestInstaller]",
                "ProductName=Kest Demo",
                "ProductCode=" + Code,
                "ProductVersion=2.5.1",
                "ProductFile=product.msi",
                "RuntimeUpdateVersion=3.1.4000.2435",
                "RuntimeVersion=1.0",
                "CharFont=Tahoma",
                "CharSet=238",
                "CharSize=10",
                "KestInitLangAlwaysPrompt=1",
                "DelayReboot=1",
                "CmdLine=/qb REBOOT=R",
                "AdminError=Admin please",
                "ExistError=%s %s is there; install %s %s? Remove %s?",
                "CRCError=\"Broken download\"",
                "Runtime9X=instmsia.exe",
                "RuntimeNT=instmsiw.exe",
                "KestInitLangPrompt=Choose:",
                "KestInitLangDefault=English,1033",
                "Language1=Deutsch,1031;2055",
                "Language2=Fran\xe7" "ais;1036",
                "Language3=Magyar,1038",
                "LanguageFile1=lang1.mst",
                "LanguageFile2=lang2.mst",
                "LanguageFile3=lang3.mst",
                "[KestPack]",
                "Password=" + password,
                "PackageFileName=Demo.msi"};
    }

    PackPlan Plan(const std::vector<std::string> &lines)
    {
        std::vector<std::string> warnings;
        return ReadPackPlan(Ini(lines), &warnings);
    }

    fs::path Build(const std::vector<std::string> &lines, const std::string &out = "setup.exe")
    {
        BuildInstaller(Plan(lines), dir / "kestsetup.exe", dir / out, nullptr);
        return dir / out;
    }

    PayloadReport Extract(const fs::path &file, const std::optional<std::string> &password,
                          const std::string &to = "out")
    {
        fs::path target = dir / to;
        return InspectInstaller(file, password, &target);
    }

    Bytes package, rt9x, rtnt;
    std::vector<Bytes> transforms;
};

// The image checksum as the classic routine computes it: 16-bit words with
// the carry folded back at every step, the checksum field skipped.
uint32_t ClassicChecksum(const Bytes &file, unsigned checksumOffset)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < file.size() + 1; i += 2) {
        if (i == checksumOffset || i == checksumOffset + 2)
            continue;
        uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + uint32_t(file.size());
}

TEST_F(Pack, RoundTripWithPasswordTransformsAndRuntimes)
{
    Inputs();
    fs::path out = Build(FullIni());
    Bytes file = ReadBytes(out);

    PayloadSection section;
    ASSERT_TRUE(FindPayloadSection(file.data(), unsigned(file.size()), &section));
    EXPECT_EQ(section.RawPointer % 0x200, 0u);
    EXPECT_GE(section.RawPointer, 0x600u); // after the stub's own bytes
    EXPECT_GE(section.RawSize, 1024u);
    EXPECT_EQ(section.RawSize % 0x200, 0u);
    EXPECT_EQ(uint64_t(section.RawPointer) + section.RawSize, file.size());
    EXPECT_EQ(LoadLe32(&file[0x80 + 24 + 64]), ClassicChecksum(file, 0x80 + 24 + 64));
    // The stub's own sections are untouched.
    Bytes stub = MakeStub();
    EXPECT_TRUE(std::equal(stub.begin() + 0x200, stub.begin() + 0x400, file.begin() + 0x200));

    PayloadReport r = Extract(out, std::string("SE\xe4" "CRET"));
    EXPECT_TRUE(r.Problems.empty()) << r.Problems.front();
    EXPECT_TRUE(r.PasswordChecked);
    const InstallerSettingsRecord &s = r.Settings;
    EXPECT_EQ(s.TotalFileSize, file.size());
    EXPECT_EQ(s.RuntimeVersionMS, 0x00030001u);
    EXPECT_EQ(s.RuntimeVersionLS, 0x0FA00983u);
    EXPECT_EQ(r.DotNetMode, 0);
    EXPECT_EQ(s.StreamSize9X, int(rt9x.size() + 4));
    EXPECT_EQ(s.StreamSizeNT, int(rtnt.size() + 4));
    EXPECT_EQ(s.StreamSizeMSI, package.size() + 4);
    EXPECT_EQ(s.DelayReboot, 1);
    EXPECT_STREQ(s.PackageFileName, "Demo.msi");
    EXPECT_EQ(s.ProductCode, Code);
    EXPECT_STREQ(s.ProductVersion, "2.5.1");
    EXPECT_STREQ(s.TransformMSI, "");
    EXPECT_STREQ(s.CharFont, "Tahoma");
    EXPECT_STREQ(s.ProductName, "Kest Demo");
    EXPECT_EQ(s.CharSet, 238);
    EXPECT_EQ(s.CharSize, 0x8A);
    EXPECT_EQ(s.PasswordLength, 8); // seven bytes and the NUL
    EXPECT_EQ(s.RemovePrevious, 1);
    EXPECT_EQ(r.Texts[0], "/qb REBOOT=R");
    EXPECT_EQ(r.Texts[LengthAdminError - LengthCmdLine], "Admin please");
    EXPECT_EQ(r.Texts[LengthExistError - LengthCmdLine],
              "%s %s is there; install %s %s? Remove %s?");
    EXPECT_EQ(r.Texts[LengthCRCError - LengthCmdLine], "Broken download");
    EXPECT_EQ(r.Header.Lengths[LengthSpaceError], 0); // empty: the built-in text
    EXPECT_EQ(r.Header.Lengths[LengthReboot], 0);
    EXPECT_EQ(r.Header.Lengths[LengthCRCError], 16);
    EXPECT_EQ(r.Header.Lengths[LengthExternalPackagePath], 0);
    EXPECT_EQ(r.LanguagePrompt, "Choose:");
    EXPECT_EQ(r.FirstLanguage, "English,1033");
    EXPECT_EQ(r.Languages, (std::vector<std::string>{"Deutsch,1031;2055", "Fran\xe7" "ais;1036",
                                                     "Magyar,1038"}));
    ASSERT_EQ(r.Streams.size(), 6u);
    EXPECT_EQ(r.Streams[0].Name, "runtime-9x");
    EXPECT_EQ(r.Streams[0].Offset, r.StreamsOffset);
    EXPECT_FALSE(r.Streams[0].Scrambled);
    EXPECT_TRUE(r.Streams[2].Scrambled);
    EXPECT_EQ(ReadBytes(dir / "out" / "runtime-9x.exe"), rt9x);
    EXPECT_EQ(ReadBytes(dir / "out" / "runtime-nt.exe"), rtnt);
    EXPECT_EQ(ReadBytes(dir / "out" / "Demo.msi"), package);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(ReadBytes(dir / "out" / ("language-" + std::to_string(k + 1) + ".mst")),
                  transforms[size_t(k)]);
}

TEST_F(Pack, KeystreamContinuesFromPasswordToPackageToEachTransform)
{
    Inputs();
    fs::path out = Build(FullIni("abc"));
    Bytes file = ReadBytes(out);
    PayloadReport r = InspectInstaller(out, std::string("ABC"), nullptr);
    ASSERT_TRUE(r.Problems.empty());

    // What the stub does: the password check seeds and scrambles three
    // bytes; the package continues; each transform continues after it.
    unsigned char typed[3] = {'a', 'b', 'c'};
    ScramblePassword(typed, 3);
    EXPECT_EQ(std::memcmp(typed, r.Settings.StoredPassword, 3), 0);
    Bytes plain = package;
    KeystreamXor(plain.data(), int(plain.size()));
    const int afterPackage = KeystreamState;
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), file.begin() + long(r.Streams[2].Offset)));
    for (int k = 0; k < 3; ++k) {
        KeystreamState = afterPackage;
        Bytes t = transforms[size_t(k)];
        KeystreamXor(t.data(), int(t.size()));
        const StreamReport &st = r.Streams[size_t(3 + k)];
        EXPECT_EQ(LoadLe32(&file[st.Offset - 4]), t.size() + 4);
        EXPECT_TRUE(std::equal(t.begin(), t.end(), file.begin() + long(st.Offset))) << k;
        // The trailer is the CRC of the plain bytes, never scrambled.
        unsigned table[CrcTableEntries];
        FillCrcTable(table);
        EXPECT_EQ(LoadLe32(&file[st.Offset + t.size()]),
                  ~FoldCrc(CrcRegisterReset, table, transforms[size_t(k)].data(),
                           unsigned(t.size())));
    }
    // A runtime stream is stored plain.
    EXPECT_TRUE(std::equal(rt9x.begin(), rt9x.end(), file.begin() + long(r.Streams[0].Offset)));
}

TEST_F(Pack, WithoutPasswordNothingIsScrambled)
{
    Inputs();
    std::vector<std::string> ini = FullIni();
    ini.erase(std::find(ini.begin(), ini.end(), "Password=Se\xe4" "cret"));
    fs::path out = Build(ini);
    Bytes file = ReadBytes(out);
    PayloadReport r = Extract(out, std::nullopt);
    ASSERT_TRUE(r.Problems.empty());
    EXPECT_EQ(r.Settings.PasswordLength, 0);
    for (const StreamReport &st : r.Streams)
        EXPECT_FALSE(st.Scrambled);
    EXPECT_TRUE(std::equal(package.begin(), package.end(), file.begin() + long(r.Streams[2].Offset)));
    EXPECT_EQ(ReadBytes(dir / "out" / "language-2.mst"), transforms[1]);
}

TEST_F(Pack, DotNetRuntimesAndUrls)
{
    Inputs();
    Put("dotnetfx.exe", rt9x);
    Put("update.exe", rtnt);
    std::vector<std::string> base = {"[KestInstaller]", "ProductCode=" + Code,
                                     "ProductVersion=1", "ProductFile=product.msi",
                                     "RuntimeVersion=2.0.50727"};
    {
        // Both .NET installers carried: the .NET runtime is the first
        // stream, its size stored negative.
        std::vector<std::string> ini = base;
        ini.push_back("RuntimeDotNet=dotnetfx.exe");
        ini.push_back("RuntimeDotNetUpdate=update.exe");
        fs::path out = Build(ini);
        Bytes file = ReadBytes(out);
        PayloadReport r = Extract(out, std::nullopt, "dn");
        ASSERT_TRUE(r.Problems.empty());
        EXPECT_EQ(int32_t(LoadLe32(&file[r.Section.RawPointer + 4 * FixedStreamSizeNT])),
                  -int(rt9x.size() + 4));
        EXPECT_EQ(r.DotNetMode, 1);
        EXPECT_EQ(r.Settings.StreamSizeNT, int(rt9x.size() + 4));
        EXPECT_EQ(r.Settings.StreamSize9X, int(rtnt.size() + 4));
        EXPECT_EQ(ReadBytes(dir / "dn" / "runtime-dotnet.exe"), rt9x);
        EXPECT_EQ(ReadBytes(dir / "dn" / "runtime-dotnet-update.exe"), rtnt);
    }
    {
        // Pinned by the [KestPack] key, and by the URL and the key alike
        // in another case: the pin is written after the URL, whose stored
        // length grows by it.
        std::vector<std::string> ini = base;
        const std::string a = DigestOf(rt9x), b = DigestOf(rtnt);
        ini.push_back("RuntimeDotNet=http://example.test/dotnetfx.exe");
        ini.push_back("RuntimeSizeDotNet=23000000");
        ini.push_back("RuntimeDotNetUpdate=http://example.test/NDP20-KB.exe#SHA256=" + Upper(b));
        ini.push_back("RuntimeSizeDotNetUpdate=1200000");
        ini.push_back("[KestPack]");
        ini.push_back("RuntimeDotNetSHA256=" + Upper(a));
        ini.push_back("RuntimeDotNetUpdateSHA256=" + b);
        std::vector<std::string> warnings;
        BuildInstaller(ReadPackPlan(Ini(ini), &warnings), dir / "kestsetup.exe", dir / "p.exe",
                       nullptr);
        EXPECT_TRUE(warnings.empty()) << warnings.front();
        PayloadReport r = InspectInstaller(dir / "p.exe", std::nullopt, nullptr);
        ASSERT_TRUE(r.Problems.empty());
        EXPECT_EQ(r.DotNetMode, 1); // from the URL lengths alone
        EXPECT_EQ(r.Settings.StreamSizeNT, 0);
        EXPECT_EQ(r.Urls[RuntimeEntryDotNet], "http://example.test/dotnetfx.exe#sha256=" + a);
        EXPECT_EQ(r.Pins[RuntimeEntryDotNet], a);
        EXPECT_EQ(r.Settings.RuntimeSizeDotNet, 33 + 72);
        EXPECT_EQ(r.Settings.DownloadSizeDotNet, 23000000u);
        EXPECT_EQ(r.Urls[RuntimeEntryDotNetUpdate], "http://example.test/NDP20-KB.exe#sha256=" + b);
        EXPECT_EQ(r.Pins[RuntimeEntryDotNetUpdate], b);
        EXPECT_EQ(r.Settings.DownloadSizeDotNetUpdate, 1200000u);
        EXPECT_EQ(r.Streams.size(), 1u);
        std::ostringstream text, json;
        PrintReport(text, r);
        PrintReportJson(json, r);
        EXPECT_NE(text.str().find("  RuntimeDotNetSHA256  " + a + "\n"), std::string::npos)
            << text.str();
        EXPECT_NE(json.str().find("\"downloadSize\": 23000000, \"sha256\": \"" + a + "\"}"),
                  std::string::npos) << json.str();
    }
    {
        // Windows Installer runtimes: one carried, its pin checked here
        // and stored nowhere, one downloaded.
        std::vector<std::string> ini = base;
        ini.push_back("Runtime9X=instmsia.exe#sha256=" + DigestOf(rt9x));
        ini.push_back("RuntimeNT=HTTP://example.test/InstMsiW.exe");
        ini.push_back("RuntimeSizeNT=1822520");
        PayloadReport r = Extract(Build(ini), std::nullopt, "mix");
        ASSERT_TRUE(r.Problems.empty());
        EXPECT_EQ(r.DotNetMode, 0);
        EXPECT_EQ(r.Urls[RuntimeEntryNT], "HTTP://example.test/InstMsiW.exe");
        EXPECT_EQ(r.Pins[RuntimeEntryNT], "");
        std::ostringstream json;
        PrintReportJson(json, r);
        EXPECT_NE(json.str().find("\"downloadSize\": 1822520, \"sha256\": null}"),
                  std::string::npos) << json.str();
        EXPECT_EQ(r.Settings.RuntimeSizeNT, 33);
        EXPECT_EQ(r.Settings.DownloadSizeNT, 1822520u);
        EXPECT_EQ(r.Settings.RuntimeSize9X, 0);
        EXPECT_EQ(r.Settings.StreamSize9X, int(rt9x.size() + 4));
        EXPECT_EQ(r.Settings.StreamSizeNT, 0);
        EXPECT_EQ(ReadBytes(dir / "mix" / "runtime-9x.exe"), rt9x);
        EXPECT_FALSE(fs::exists(dir / "mix" / "runtime-nt.exe"));
    }
    {
        std::vector<std::string> ini = base;
        ini.push_back("Runtime9X=http://example.test/InstMsiA.exe");
        ini.push_back("RuntimeSize9X=1707856");
        PayloadReport r = InspectInstaller(Build(ini), std::nullopt, nullptr);
        EXPECT_EQ(r.Urls[RuntimeEntry9X], "http://example.test/InstMsiA.exe");
        EXPECT_EQ(r.Settings.DownloadSize9X, 1707856u);
        EXPECT_EQ(r.Settings.RuntimeSize9X, 33);
    }
}

TEST_F(Pack, ExternalPackageAndCarriedTransformPackage)
{
    Inputs();
    {
        fs::path out = Build({"[KestInstaller]", "ProductCode=" + Code, "ProductVersion=1",
                              "Language1=Deutsch,1031", "LanguageFile1=lang1.mst",
                              "[KestPack]", "ExternalPackagePath=\\\\server\\share\\demo.msi",
                              "Password=pw"});
        PayloadReport r = Extract(out, std::string("pw"));
        ASSERT_TRUE(r.Problems.empty());
        EXPECT_EQ(r.ExternalPackagePath, "\\\\server\\share\\demo.msi");
        EXPECT_EQ(r.Settings.StreamSizeMSI, 0u);
        ASSERT_EQ(r.Streams.size(), 1u);
        // The transforms follow the runtime streams (none here) directly.
        EXPECT_EQ(r.Streams[0].Offset, r.StreamsOffset + 4);
        EXPECT_EQ(ReadBytes(dir / "out" / "language-1.mst"), transforms[0]);
    }
    {
        fs::path out = Build({"[KestInstaller]", "ProductCode=" + Code, "ProductVersion=1",
                              "ProductFile=lang2.mst", "TransformMSI=C:\\pkg\\base.msi"});
        PayloadReport r = Extract(out, std::nullopt, "t");
        ASSERT_TRUE(r.Problems.empty());
        EXPECT_STREQ(r.Settings.TransformMSI, "C:\\pkg\\base.msi");
        EXPECT_STREQ(r.Settings.PackageFileName, "lang2.mst");
        EXPECT_EQ(ReadBytes(dir / "t" / "lang2.mst"), transforms[1]);
    }
}

TEST_F(Pack, OutputIsDeterministicAndSizeCheckZeroStoresNoLength)
{
    Inputs();
    Bytes first = ReadBytes(Build(FullIni(), "a.exe"));
    Bytes second = ReadBytes(Build(FullIni(), "b.exe"));
    EXPECT_EQ(first, second);

    std::vector<std::string> ini = FullIni();
    ini.push_back("SizeCheck=0");
    PayloadReport r = InspectInstaller(Build(ini, "c.exe"), std::nullopt, nullptr);
    EXPECT_EQ(r.Settings.TotalFileSize, 0u);
    EXPECT_TRUE(r.Problems.empty());
    EXPECT_EQ(Listing(), (std::vector<std::string>{"a.exe", "b.exe", "c.exe", "instmsia.exe",
                                                   "instmsiw.exe", "kestsetup.exe", "lang1.mst",
                                                   "lang2.mst", "lang3.mst", "pack.ini",
                                                   "product.msi"}));
}

TEST_F(Pack, OutputsNeverWriteThroughPlantedLinks)
{
    Inputs();
    const Bytes victim = Noise(100, 5);
    Put("victim", victim);
    // Links where a predictable temporary would go, and at extract's
    // destination: each must be left alone or replaced, never written
    // through.
    fs::create_symlink(dir / "victim", dir / "setup.exe.kestpack-tmp");
    fs::path out = Build(FullIni());
    EXPECT_EQ(ReadBytes(dir / "victim"), victim);
    EXPECT_EQ(Temporaries(dir), std::vector<std::string>{"setup.exe.kestpack-tmp"});

    fs::create_directories(dir / "out");
    fs::create_symlink(dir / "victim", dir / "out" / "Demo.msi");
    fs::create_symlink(dir / "victim", dir / "out" / "Demo.msi.kestpack-tmp");
    PayloadReport r = Extract(out, std::string("SE\xe4" "CRET"));
    EXPECT_TRUE(r.Problems.empty());
    EXPECT_EQ(ReadBytes(dir / "victim"), victim);
    EXPECT_FALSE(fs::is_symlink(dir / "out" / "Demo.msi"));
    EXPECT_EQ(ReadBytes(dir / "out" / "Demo.msi"), package);
    EXPECT_EQ(Temporaries(dir / "out"), std::vector<std::string>{"Demo.msi.kestpack-tmp"});
}

TEST_F(Pack, ExtractGivesEveryStreamADistinctName)
{
    Inputs();
    struct Case {
        const char *packageName, *renamed;
        size_t transform; // whose name the package took
    } cases[] = {{"language-1.mst", "language-1~2.mst", 0},
                 {"LANGUAGE-3.MST", "language-3~2.mst", 2}};
    for (const Case &c : cases) {
        std::vector<std::string> ini = FullIni();
        ini.back() = std::string("PackageFileName=") + c.packageName;
        fs::path out = Build(ini);
        PayloadReport r = Extract(out, std::string("Se\xe4" "cret"), c.renamed);
        ASSERT_TRUE(r.Problems.empty());
        fs::path to = dir / c.renamed;
        EXPECT_EQ(ReadBytes(to / c.packageName), package);
        EXPECT_EQ(ReadBytes(to / c.renamed), transforms[c.transform]);
        EXPECT_EQ(r.Streams[3 + c.transform].FileName, c.renamed);
        ASSERT_EQ(r.Notes.size(), 1u);
        EXPECT_NE(r.Notes[0].find(std::string("saved as ") + c.renamed), std::string::npos)
            << r.Notes[0];
        for (size_t k = 0; k < transforms.size(); ++k)
            if (k != c.transform)
                EXPECT_EQ(ReadBytes(to / ("language-" + std::to_string(k + 1) + ".mst")),
                          transforms[k]);
    }
}

TEST_F(Pack, ExtractSavesANameTooLongForTheFileSystemUnderItsFallback)
{
    // kestpack stores names of up to 254 bytes; with the temporary's suffix
    // such a name outgrows the 255 bytes a Linux file name holds, so that
    // extract refused an installer that build had made.
    Inputs();
    for (size_t length : {200u, 250u}) {
        std::vector<std::string> ini = FullIni();
        std::string name = std::string(length - 4, 'p') + ".msi";
        ini.back() = "PackageFileName=" + name;
        std::string to = "out" + std::to_string(length);
        PayloadReport r = Extract(Build(ini), std::string("Se\xe4" "cret"), to);
        ASSERT_TRUE(r.Problems.empty());
        std::string saved = length == 200 ? name : "package.msi";
        EXPECT_EQ(r.Streams[2].FileName, saved);
        EXPECT_EQ(ReadBytes(dir / to / saved), package);
        EXPECT_EQ(r.Notes.size(), length == 200 ? 0u : 1u);
    }
}

TEST_F(Pack, SmallPayloadFillsAtLeast1024Bytes)
{
    fs::path out = Build({"[KestInstaller]", "ProductCode=" + Code, "ProductVersion=1",
                          "[KestPack]", "ExternalPackagePath=\\\\server\\demo.msi"});
    PayloadReport r = InspectInstaller(out, std::nullopt, nullptr);
    EXPECT_EQ(r.Section.RawSize, 1024u); // a header of ~120 bytes, and no stream
}

struct Refusal {
    const char *name;
    std::vector<std::string> replace; // "Key=value" lines replacing or adding;
                                      // "+Key=value" adds to [KestPack]
    std::string key;                  // must be named
    std::string what;                 // and this must be said
};

void PrintTo(const Refusal &r, std::ostream *os)
{
    *os << r.name;
}

class Refusals : public Pack, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, NameTheFileAndKeyAndWriteNothing)
{
    Inputs();
    Put("plain.bin", Noise(3000, 9));
    const Refusal &c = GetParam();
    std::vector<std::string> ini = FullIni();
    for (std::string line : c.replace) {
        if (line[0] == '+') {
            ini.push_back(line.substr(1));
            continue;
        }
        std::string key = line.substr(0, line.find('=') + 1);
        bool replaced = false;
        for (std::string &l : ini)
            if (l.compare(0, key.size(), key) == 0 && !replaced) {
                l = line;
                replaced = true;
            }
        if (!replaced)
            ini.insert(ini.begin() + 2, line);
    }
    std::vector<std::string> before = Listing();
    before.push_back("pack.ini");
    std::sort(before.begin(), before.end());
    before.erase(std::unique(before.begin(), before.end()), before.end());
    try {
        Build(ini);
        FAIL() << "accepted";
    } catch (const PackError &e) {
        std::string message = e.what();
        EXPECT_NE(message.find((dir / "pack.ini").string()), std::string::npos) << message;
        EXPECT_NE(message.find(c.key), std::string::npos) << message;
        EXPECT_NE(message.find(c.what), std::string::npos) << message;
    }
    EXPECT_EQ(Listing(), before);
}

const std::string Long255(255, 'x');

INSTANTIATE_TEST_SUITE_P(
    Pack, Refusals,
    ::testing::Values(
        Refusal{"MissingPackage", {"ProductFile=nothere.msi"}, "ProductFile", "file not found"},
        Refusal{"MissingTransform", {"LanguageFile2=gone.mst"}, "LanguageFile2", "file not found"},
        Refusal{"MissingRuntime", {"RuntimeNT=gone.exe"}, "RuntimeNT", "file not found"},
        Refusal{"LongText", {"AdminError=" + Long255}, "AdminError", "too long"},
        Refusal{"LongCaption", {"ProductName=" + std::string(250, 'n')}, "ProductName", "too long"},
        Refusal{"LongLanguage", {"Language2=" + std::string(520, 'l')}, "Language2", "too long"},
        Refusal{"LongPassword", {"Password=" + Long255}, "Password", "too long"},
        Refusal{"PathInPackageName", {"PackageFileName=sub\\Demo.msi"}, "PackageFileName", "path"},
        Refusal{"SlashInPackageName", {"PackageFileName=sub/Demo.msi"}, "PackageFileName", "path"},
        Refusal{"DotsInPackageName", {"PackageFileName=..msi.msi"}, "PackageFileName", ".."},
        Refusal{"NoExtension", {"PackageFileName=Demo"}, "PackageFileName", "extension"},
        Refusal{"PackageAsTransform", {"LanguageFile1=product.msi"}, "LanguageFile1",
                "not a transform"},
        Refusal{"PlainFileAsTransform", {"LanguageFile3=plain.bin"}, "LanguageFile3",
                "not a transform"},
        Refusal{"PlainFileAsPackage", {"ProductFile=plain.bin"}, "ProductFile", "compound"},
        Refusal{"PackageForTransformMSI", {"TransformMSI=base.msi"}, "ProductFile",
                "TransformMSI"},
        Refusal{"MoreLanguagesThanTransforms", {"Language4=Suomi,1035"}, "LanguageFile4",
                "more languages"},
        Refusal{"MoreTransformsThanLanguages", {"LanguageFile4=lang1.mst"}, "Language4",
                "no language entry"},
        Refusal{"GapInLanguages", {"Language5=Suomi,1035"}, "Language5", "Language4"},
        Refusal{"SizeWithoutUrl", {"RuntimeSizeNT=1000"}, "RuntimeSizeNT", "without a URL"},
        Refusal{"UrlWithoutSize", {"Runtime9X=http://example.test/a.exe"}, "RuntimeSize9X",
                "download size"},
        Refusal{"OtherScheme", {"RuntimeNT=ftp://example.test/a.exe"}, "RuntimeNT",
                "only http://"},
        Refusal{"MixedRuntimes", {"RuntimeDotNet=instmsia.exe"}, "RuntimeDotNet",
                "cannot be combined"},
        Refusal{"UnknownPackKey", {"+Pasword=x"}, "Pasword", "unknown key"},
        Refusal{"BadExistError", {"ExistError=%s is %d"}, "ExistError", "five %s"},
        Refusal{"FourPlaceholders", {"ExistError=%s %s %s %s"}, "ExistError", "five %s"},
        Refusal{"NotANumber", {"CharSize=big"}, "CharSize", "not a decimal number"},
        Refusal{"TrailingText", {"CharSize=10pt"}, "CharSize", "not a decimal number"},
        Refusal{"PlusSign", {"CharSet=+5"}, "CharSet", "'+' sign"},
        Refusal{"NotHex", {"CharSet=0x1G"}, "CharSet", "not a hexadecimal number"},
        Refusal{"DeviceName", {"PackageFileName=NUL.msi"}, "PackageFileName", "device name"},
        Refusal{"DeviceNameInAnyCase", {"PackageFileName=com7.Msi"}, "PackageFileName",
                "device name"},
        Refusal{"DeviceNameWithBlank", {"PackageFileName=Con .msi"}, "PackageFileName",
                "device name"},
        Refusal{"DeviceNameTwoDots", {"PackageFileName=lpt1.tar.msi"}, "PackageFileName",
                "device name"},
        Refusal{"SizeCheckTwo", {"+SizeCheck=2"}, "SizeCheck", "must be 1"},
        Refusal{"PinNotHex", {"+RuntimeNTSHA256=" + Zeros64.substr(1) + "g"}, "RuntimeNTSHA256",
                "is no SHA-256"},
        Refusal{"PinOfAnotherFile", {"+RuntimeNTSHA256=" + Zeros64}, "RuntimeNTSHA256",
                "not the pinned " + Zeros64},
        Refusal{"PinWithoutRuntime", {"+RuntimeDotNetSHA256=" + Zeros64}, "RuntimeDotNetSHA256",
                "pins no runtime"},
        Refusal{"MalformedPinInUrl",
                {"RuntimeNT=http://example.test/a.exe#sha256=1234", "RuntimeSizeNT=1000000"},
                "RuntimeNT", "'#sha256=1234' is no pin"},
        Refusal{"FragmentThatIsNoPin",
                {"RuntimeNT=http://example.test/a.exe#sha-256=" + Zeros64, "RuntimeSizeNT=1000000"},
                "RuntimeNT", "never sent"},
        Refusal{"PinsDisagree",
                {"RuntimeNT=http://example.test/a.exe#sha256=" + Zeros64, "RuntimeSizeNT=1000000",
                 "+RuntimeNTSHA256=" + Ones64},
                "RuntimeNTSHA256", "disagrees"},
        Refusal{"LongUrlWithItsPin",
                {"RuntimeNT=http://example.test/" + std::string(170, 'a'), "RuntimeSizeNT=1000000",
                 "+RuntimeNTSHA256=" + Zeros64},
                "RuntimeNT", "with its pin is too long"}),
    [](const ::testing::TestParamInfo<Refusal> &info) { return std::string(info.param.name); });

TEST_F(Pack, LongestTextsFit)
{
    Inputs();
    std::vector<std::string> ini = FullIni();
    ini.insert(ini.begin() + 2, "Reboot=" + std::string(254, 'r'));
    ini.insert(ini.begin() + 2, "Language4=" + std::string(519, 'l'));
    ini.insert(ini.begin() + 2, "LanguageFile4=lang3.mst");
    fs::path out = Build(ini);
    PayloadReport r = InspectInstaller(out, std::nullopt, nullptr);
    EXPECT_EQ(r.Header.Lengths[LengthReboot], 255);
    EXPECT_EQ(r.Texts[LengthReboot - LengthCmdLine], std::string(254, 'r'));
    EXPECT_EQ(r.Languages.back(), std::string(519, 'l'));
    EXPECT_TRUE(r.Problems.empty());
}

TEST_F(Pack, StubsThatCannotCarryAPayload)
{
    Inputs();
    PackPlan plan = Plan(FullIni());
    struct Case {
        Bytes stub;
        const char *what;
    } cases[] = {
        {MakeStub(1024), "not 512"},
        {MakeStub(512, ".kest"), "no .KEST section"},
        {Bytes(100, 'x'), "no MZ header"},
    };
    Bytes signedStub = MakeStub();
    StoreLe32(&signedStub[CertificateSizeOffset(StubPe32)], 0x400); // a certificate table
    Bytes noMarker = MakeStub();
    noMarker[0x400] = 0;
    for (Case &c : cases) {
        Put("bad.exe", c.stub);
        try {
            BuildInstaller(plan, dir / "bad.exe", dir / "setup.exe", nullptr);
            FAIL() << c.what;
        } catch (const PackError &e) {
            EXPECT_NE(std::string(e.what()).find("bad.exe"), std::string::npos);
            EXPECT_NE(std::string(e.what()).find(c.what), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(dir / "setup.exe"));
    }
    Put("bad.exe", signedStub);
    EXPECT_THROW(BuildInstaller(plan, dir / "bad.exe", dir / "setup.exe", nullptr), PackError);
    Put("bad.exe", noMarker);
    EXPECT_THROW(BuildInstaller(plan, dir / "bad.exe", dir / "setup.exe", nullptr), PackError);
    // A packed installer cannot be packed again.
    fs::path packed = Build(FullIni(), "packed.exe");
    EXPECT_THROW(BuildInstaller(plan, packed, dir / "setup.exe", nullptr), PackError);
    EXPECT_FALSE(fs::exists(dir / "setup.exe"));
}

TEST_F(Pack, StubIsReadWithABound)
{
    Inputs();
    PackPlan plan = Plan(FullIni());
    {
        std::ofstream big(dir / "big.exe", std::ios::binary);
    }
    fs::resize_file(dir / "big.exe", (16u << 20) + 1); // sparse: costs no disk
    for (fs::path stub : {dir / "big.exe", fs::path("/dev/zero")}) {
        try {
            BuildInstaller(plan, stub, dir / "setup.exe", nullptr);
            FAIL() << stub;
        } catch (const PackError &e) {
            EXPECT_NE(std::string(e.what()).find("too large"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(dir / "setup.exe"));
    }
}

TEST_F(Pack, BindsA64BitStubTheSameWay)
{
    Inputs();
    Put("kestsetup.exe", MakeStub(512, ".KEST", StubPe32Plus));
    fs::path out = Build(FullIni(), "setup64.exe");
    Bytes file = ReadBytes(out);
    // CheckSum lies at the same offset in both layouts; the section table
    // 16 bytes further on.
    EXPECT_EQ(LoadLe32(&file[0x80 + 24 + 64]), ClassicChecksum(file, 0x80 + 24 + 64));
    PayloadReport r = InspectInstaller(out, std::string("Se\xe4" "cret"), nullptr);
    EXPECT_EQ(r.Architecture, "x64");
    EXPECT_EQ(r.Section.HeaderOffset, 0x80u + 24 + 0xF0 + 40);
    EXPECT_TRUE(r.Problems.empty());
    EXPECT_EQ(std::string(r.Settings.ProductCode), Code);
    Put("kestsetup.exe", MakeStub());
    EXPECT_EQ(InspectInstaller(Build(FullIni()), std::nullopt, nullptr).Architecture, "x86");

    PackPlan plan = Plan(FullIni());
    Bytes signedStub = MakeStub(512, ".KEST", StubPe32Plus);
    StoreLe32(&signedStub[CertificateSizeOffset(StubPe32Plus)], 0x400);
    Bytes mixed = MakeStub(512, ".KEST", StubPe32Plus);
    StoreLe16(&mixed[0x80 + 4], 0x14C); // an i386 machine with a PE32+ header
    Bytes rom = MakeStub();
    StoreLe16(&rom[0x80 + 24], 0x107);
    for (const Bytes *bad : {&signedStub, &mixed, &rom}) {
        Put("bad.exe", *bad);
        EXPECT_THROW(BuildInstaller(plan, dir / "bad.exe", dir / "out.exe", nullptr), PackError);
        EXPECT_FALSE(fs::exists(dir / "out.exe"));
    }
}

TEST_F(Pack, InspectFindsCorruption)
{
    Inputs();
    fs::path out = Build(FullIni("secret"));
    Bytes good = ReadBytes(out);
    PayloadReport r = InspectInstaller(out, std::string("secret"), nullptr);
    ASSERT_TRUE(r.Problems.empty());
    {
        Bytes bad = good;
        bad[r.Streams[3].Offset + 100] ^= 1; // inside transform 1
        Put("bad.exe", bad);
        PayloadReport b = InspectInstaller(dir / "bad.exe", std::string("secret"), nullptr);
        ASSERT_EQ(b.Problems.size(), 1u);
        EXPECT_NE(b.Problems[0].find("transform 1"), std::string::npos);
        EXPECT_EQ(b.Streams[3].State, StreamReport::Corrupt);
        EXPECT_EQ(b.Streams[4].State, StreamReport::Ok); // still descrambled right
        // Extract writes the good streams and not the corrupt one.
        PayloadReport e = Extract(dir / "bad.exe", std::string("secret"), "x");
        EXPECT_FALSE(fs::exists(dir / "x" / "language-1.mst"));
        EXPECT_TRUE(fs::exists(dir / "x" / "language-2.mst"));
        EXPECT_TRUE(Temporaries(dir / "x").empty());
    }
    {
        Bytes cut(good.begin(), good.begin() + long(r.Streams[4].Offset + 10));
        Put("cut.exe", cut);
        PayloadReport b = InspectInstaller(dir / "cut.exe", std::string("secret"), nullptr);
        EXPECT_EQ(b.Streams[4].State, StreamReport::Truncated);
        ASSERT_GE(b.Problems.size(), 2u); // the stream and the file length
    }
    {
        Bytes longer = good;
        longer.push_back(0);
        Put("long.exe", longer);
        PayloadReport b = InspectInstaller(dir / "long.exe", std::string("secret"), nullptr);
        ASSERT_EQ(b.Problems.size(), 1u);
        EXPECT_NE(b.Problems[0].find("TotalFileSize"), std::string::npos);
    }
    // A wrong password, and a protected payload without one.
    EXPECT_THROW(InspectInstaller(out, std::string("secreT!"), nullptr), PackError);
    EXPECT_THROW(InspectInstaller(out, std::string("other1"), nullptr), PackError);
    PayloadReport open = InspectInstaller(out, std::nullopt, nullptr);
    EXPECT_EQ(open.Streams[2].State, StreamReport::NotVerified);
    EXPECT_EQ(open.Streams[0].State, StreamReport::Ok);
    EXPECT_THROW(Extract(out, std::nullopt, "y"), PackError);
    EXPECT_TRUE(fs::is_empty(dir / "y"));
    // The plain stub has no payload to inspect.
    EXPECT_THROW(InspectInstaller(dir / "kestsetup.exe", std::nullopt, nullptr), PackError);
}

TEST_F(Pack, RecordedSizePastTheEndIsTruncatedWithoutReading)
{
    Inputs();
    fs::path out = Build(FullIni("secret"));
    Bytes file = ReadBytes(out);
    PayloadReport good = InspectInstaller(out, std::string("secret"), nullptr);
    // A package stream that claims nearly 4 GiB: the report must say how
    // little of it is there, and stop there instead of walking (and
    // descrambling) the gigabytes the size claims.
    StoreLe32(&file[good.Section.RawPointer + 4 * FixedStreamSizeMSI], 0xFFFFFFF0u);
    Put("crafted.exe", file);
    fs::path target = dir / "x";
    for (bool extract : {false, true}) {
        PayloadReport r = InspectInstaller(dir / "crafted.exe", std::string("secret"),
                                           extract ? &target : nullptr);
        ASSERT_GE(r.Streams.size(), 3u);
        EXPECT_EQ(r.Streams[2].State, StreamReport::Truncated);
        EXPECT_EQ(r.Streams[2].ComputedCrc, 0u); // nothing was read
        uint64_t there = file.size() - good.Streams[2].Offset;
        ASSERT_FALSE(r.Problems.empty());
        EXPECT_NE(r.Problems[0].find("4294967280 bytes recorded, " + std::to_string(there) +
                                     " there"),
                  std::string::npos)
            << r.Problems[0];
    }
    EXPECT_FALSE(fs::exists(target / "Demo.msi"));
    EXPECT_TRUE(Temporaries(target).empty());
}

TEST_F(Pack, PasswordFromOptionFileOrEnvironment)
{
    const std::optional<std::string> none;
    EXPECT_EQ(ChoosePassword(std::string("opt"), none, "env"), "opt");
    EXPECT_EQ(ChoosePassword(none, none, "env"), "env");
    EXPECT_EQ(ChoosePassword(none, none, ""), none);
    EXPECT_EQ(ChoosePassword(none, none, nullptr), none);
    struct Case {
        const char *text, *password;
    } files[] = {{"s3cret", "s3cret"}, {"s3cret\n", "s3cret"}, {"s3cret\r\n", "s3cret"},
                 {" two words \n", " two words "}};
    for (const Case &c : files) {
        fs::path f = Put("pw", Bytes(c.text, c.text + std::strlen(c.text)));
        EXPECT_EQ(ChoosePassword(none, f.string(), "env"), c.password) << c.text;
    }
    for (const char *bad : {"", "\n", "one\ntwo\n"}) {
        fs::path f = Put("pw", Bytes(bad, bad + std::strlen(bad)));
        EXPECT_THROW(ChoosePassword(none, f.string(), nullptr), PackError) << bad;
    }
    EXPECT_THROW(ChoosePassword(std::string("a"), (dir / "pw").string(), nullptr), PackError);
    EXPECT_THROW(ChoosePassword(none, (dir / "missing").string(), nullptr), PackError);
    EXPECT_THROW(ChoosePassword(none, std::string("/dev/zero"), nullptr), PackError);
}

TEST(IniFile, ReadsLikeTheProfileFunctions)
{
    IniFile ini("x.ini", "[kestinstaller]\r\n"
                         "  ProductName =  \"Quoted Name\"  \r\n"
                         "productname=second\r\n"
                         "; Comment=1\r\n"
                         "Empty=\r\n"
                         "Single='x'\r\n"
                         "Half=\"x\r\n"
                         "Remove Previous=1\r\n"
                         "[Other]\r\nProductName=other\r\n"
                         "[KESTINSTALLER]\r\nLate=1\r\nEmpty=late\r\n");
    ASSERT_NE(ini.Find("KestInstaller", "PRODUCTNAME"), nullptr);
    EXPECT_EQ(ini.Find("KestInstaller", "PRODUCTNAME")->Value, "Quoted Name");
    EXPECT_EQ(ini.Find("KestInstaller", "Empty")->Value, "");
    EXPECT_EQ(ini.Find("KestInstaller", "Single")->Value, "x");
    EXPECT_EQ(ini.Find("KestInstaller", "Half")->Value, "\"x");
    EXPECT_EQ(ini.Find("KestInstaller", "Remove Previous")->Value, "1");
    EXPECT_EQ(ini.Find("KestInstaller", "Comment"), nullptr);
    EXPECT_EQ(ini.Find("Other", "ProductName")->Value, "other");
    EXPECT_EQ(ini.Find("Missing", "ProductName"), nullptr);
    // Windows stops at the first section of a name: a later one is unseen.
    EXPECT_EQ(ini.Find("KestInstaller", "Late"), nullptr);
    ASSERT_EQ(ini.IgnoredSections().size(), 1u);
    EXPECT_EQ(ini.IgnoredSections()[0].Key, "KESTINSTALLER");
    EXPECT_EQ(ini.IgnoredSections()[0].Line, 11);
}

TEST(IniFile, RefusesAByteOrderMark)
{
    try {
        IniFile ini("x.ini", "\xEF\xBB\xBF[KestInstaller]\r\nProductName=x\r\n");
        FAIL() << "accepted";
    } catch (const PackError &e) {
        EXPECT_NE(std::string(e.what()).find("x.ini: begins with a UTF-8 byte order mark"),
                  std::string::npos)
            << e.what();
    }
}

TEST_F(Pack, SameIniAsTheSettingsFileMode)
{
    Inputs();
    fs::create_directories(dir / "sub");
    Put("sub/product.msi", package);
    Put("sub/lang1.mst", transforms[0]);
    std::vector<std::string> ini = {"[KestInstaller]", "ProductCode=" + Code,
                                    "ProductVersion=1", "ProductFile=sub\\product.msi",
                                    "Language1=Deutsch,1031", "LanguageFile1=.\\sub\\lang1.mst",
                                    "CharSet=0xEE", "CharSize=-1", "[KestPack]",
                                    "PackageFileName=Demo.msi", "[KestInstaller]",
                                    "ProductName=Unseen", "CharFont=Unseen",
                                    "[kestpack]", "Password=unseen"};
    std::vector<std::string> warnings;
    PackPlan plan = ReadPackPlan(Ini(ini), &warnings);
    EXPECT_EQ(plan.ProductFile, dir / "sub/product.msi");
    ASSERT_EQ(plan.LanguageFiles.size(), 1u);
    EXPECT_EQ(plan.LanguageFiles[0], dir / "./sub/lang1.mst");
    EXPECT_EQ(plan.CharSet, 0xEE);
    EXPECT_EQ(plan.CharSize, 0xFF);
    EXPECT_EQ(plan.ProductName, "");
    EXPECT_EQ(plan.CharFont, "MS Sans Serif");
    EXPECT_EQ(plan.Password, "");
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("line 11: [KestInstaller] appears again"), std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[1].find("line 14: [kestpack] appears again"), std::string::npos)
        << warnings[1];
}

TEST_F(Pack, WarnsAboutKeysWithoutEffect)
{
    Inputs();
    std::vector<std::string> ini = FullIni();
    ini.insert(ini.begin() + 2, "Remove Previous=0");
    ini.insert(ini.begin() + 2, "InstMsi CmdLine=/q");
    ini.insert(ini.begin() + 2, "Colour=blue");
    ini.insert(ini.begin() + 2, "HashError=Not this file");
    ini.insert(ini.begin() + 2, "RuntimeSizeNT=1000000");
    std::replace(ini.begin(), ini.end(), std::string("RuntimeNT=instmsiw.exe"),
                 std::string("RuntimeNT=http://example.test/instmsiw.exe"));
    std::vector<std::string> warnings;
    ReadPackPlan(Ini(ini), &warnings);
    ASSERT_EQ(warnings.size(), 6u);
    EXPECT_NE(warnings[0].find("HashError: a packed installer has no place"), std::string::npos);
    EXPECT_NE(warnings[1].find("Colour: unknown key"), std::string::npos);
    EXPECT_NE(warnings[2].find("InstMsi CmdLine"), std::string::npos);
    EXPECT_NE(warnings[3].find("Remove Previous"), std::string::npos);
    // A download anyone on the way may replace, with the key that pins it.
    EXPECT_NE(warnings[4].find("[KestInstaller] RuntimeNT: downloads over plain HTTP without a "
                               "SHA-256 pin"), std::string::npos) << warnings[4];
    EXPECT_NE(warnings[4].find("[KestPack] RuntimeNTSHA256"), std::string::npos);
    // The stub upper-cases a typed "\xe4" to "\xc4" in most code pages.
    EXPECT_NE(warnings[5].find("Password: holds non-ASCII"), std::string::npos);
    warnings.clear();
    ReadPackPlan(Ini(FullIni("Secret")), &warnings);
    EXPECT_TRUE(warnings.empty());
}

// The identity that a package states in its Property table ----------------

const std::vector<std::pair<std::string, std::string>> Identity = {
    {"ALLUSERS", "1"},
    {"ProductCode", Code},
    {"ProductVersion", "2.5.1"},
    {"ProductName", "Kest Demo"},
    {"UpgradeCode", "{99999999-2222-3333-4444-555555555555}"},
    {"ProductLanguage", "1033"}};

std::vector<std::string> Without(std::vector<std::string> lines,
                                  std::initializer_list<const char *> keys)
{
    for (const char *key : keys)
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [&](const std::string &l) {
                                       return l.compare(0, std::strlen(key), key) == 0;
                                   }),
                    lines.end());
    return lines;
}

TEST_F(Pack, IdentityLeftOutIsFilledFromThePackageAndInspectSaysSo)
{
    Inputs();
    Put("product.msi", MakePackage(Identity));
    std::vector<std::string> warnings;
    PackPlan plan = ReadPackPlan(
        Ini(Without(FullIni("Secret"), {"ProductName=", "ProductCode=", "ProductVersion="})),
        &warnings);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_EQ(plan.ProductCode, Code);
    EXPECT_EQ(plan.ProductVersion, "2.5.1");
    EXPECT_EQ(plan.ProductName, "Kest Demo");
    EXPECT_EQ(plan.ProductLanguage, "1033");
    for (IdentityOrigin origin : plan.Origins)
        EXPECT_EQ(origin, IdentityOrigin::Package);
    BuildInstaller(plan, dir / "kestsetup.exe", dir / "setup.exe", nullptr);
    // The protected package is read with the password, and only so.
    PayloadReport r = InspectInstaller(dir / "setup.exe", std::string("SECRET"), nullptr);
    EXPECT_STREQ(r.Settings.ProductVersion, "2.5.1");
    EXPECT_EQ(r.IdentityNote, "");
    for (int f = 0; f < IdentityFieldCount; ++f)
        EXPECT_EQ(r.IdentitySource[f], "package") << IdentityKeys[f];
    EXPECT_EQ(r.PackageValues[IdentityUpgradeCode], Identity[4].second);
    PayloadReport locked = InspectInstaller(dir / "setup.exe", std::nullopt, nullptr);
    EXPECT_EQ(locked.IdentitySource[IdentityProductCode], "unknown");
    EXPECT_NE(locked.IdentityNote.find("give --password"), std::string::npos);
}

TEST_F(Pack, IdentityThatDiffersIsRefusedNamingBothValuesUnlessKept)
{
    Inputs();
    Put("product.msi", MakePackage(Identity));
    struct Case {
        std::string line, ours, theirs;
    } cases[] = {{"ProductVersion=2.5.0", "'2.5.0'", "'2.5.1'"},
                 {"ProductName=Kest Demo 2", "'Kest Demo 2'", "'Kest Demo'"},
                 {"ProductCode={11111111-2222-3333-4444-555555555556}", "5556}'", "5555}'"},
                 {"UpgradeCode={99999999-2222-3333-4444-555555555554}", "5554}'", "5555}'"},
                 {"ProductLanguage=1031", "'1031'", "'1033'"}};
    for (const Case &c : cases) {
        std::string key = c.line.substr(0, c.line.find('='));
        std::vector<std::string> ini = Without(FullIni(), {(key + "=").c_str()});
        ini.insert(ini.begin() + 2, c.line);
        try {
            Build(ini);
            FAIL() << c.line;
        } catch (const PackError &e) {
            std::string m = e.what();
            EXPECT_NE(m.find("[KestInstaller] " + key + ": '"), std::string::npos) << m;
            EXPECT_NE(m.find(c.ours), std::string::npos) << m;
            EXPECT_NE(m.find(c.theirs), std::string::npos) << m;
            EXPECT_NE(m.find("--keep-ini-identity"), std::string::npos) << m;
        }
        EXPECT_FALSE(fs::exists(dir / "setup.exe"));
    }
    // Codes are the same whatever the case of their letters.
    std::vector<std::string> lower = Without(FullIni(), {"ProductCode=", "Language"});
    lower.insert(lower.begin() + 2, "ProductCode={abcdef01-2222-3333-4444-555555555555}");
    Put("product.msi", MakePackage({{"ProductCode", "{ABCDEF01-2222-3333-4444-555555555555}"}}));
    EXPECT_EQ(Plan(lower).Origins[IdentityProductCode], IdentityOrigin::Ini);

    // Kept: warned about, stored, and inspect tells the package's value.
    Put("product.msi", MakePackage(Identity));
    std::vector<std::string> stale = Without(FullIni("Secret"), {"ProductVersion="});
    stale.insert(stale.begin() + 2, "ProductVersion=2.5.0");
    std::vector<std::string> warnings;
    PackPlan plan = ReadPackPlan(Ini(stale), &warnings, true);
    EXPECT_EQ(plan.ProductVersion, "2.5.0");
    EXPECT_EQ(plan.Origins[IdentityProductVersion], IdentityOrigin::IniKept);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("'2.5.0' kept (--keep-ini-identity); the package says '2.5.1'"),
              std::string::npos) << warnings[0];
    BuildInstaller(plan, dir / "kestsetup.exe", dir / "setup.exe", nullptr);
    PayloadReport r = InspectInstaller(dir / "setup.exe", std::string("SECRET"), nullptr);
    EXPECT_EQ(r.IdentitySource[IdentityProductVersion], "ini");
    EXPECT_EQ(r.PackageValues[IdentityProductVersion], "2.5.1");
    EXPECT_EQ(r.IdentitySource[IdentityProductCode], "package");
}

TEST_F(Pack, TransformOfAnotherProductIsRefused)
{
    Inputs();
    const std::string other = "{22222222-2222-3333-4444-555555555555}";
    Put("lang2.mst", MakeTransform(other));
    try {
        Build(FullIni());
        FAIL() << "accepted";
    } catch (const PackError &e) {
        EXPECT_NE(std::string(e.what()).find("LanguageFile2: " + (dir / "lang2.mst").string() +
                                             " is a transform of product " + other +
                                             ", not of the package's " + Code),
                  std::string::npos) << e.what();
    }
    // One that names no product is taken, with a warning.
    Put("lang2.mst", MakeCompoundFile(0x82, {}));
    std::vector<std::string> warnings;
    ReadPackPlan(Ini(FullIni("Secret")), &warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("LanguageFile2: "), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("names no product code"), std::string::npos) << warnings[0];
    // Nor is an external package's transform checked: there is no package.
    Put("lang1.mst", MakeTransform(other));
    EXPECT_NO_THROW(Build({"[KestInstaller]", "ProductCode=" + Code, "ProductVersion=1",
                           "Language1=Deutsch,1031", "LanguageFile1=lang1.mst", "[KestPack]",
                           "ExternalPackagePath=\\\\server\\share\\demo.msi"}));
}

TEST_F(Pack, InitWritesAnIniThatPacksAsItStands)
{
    fs::create_directories(dir / "sub");
    std::vector<std::pair<std::string, std::string>> identity = Identity;
    identity[3].second = " Kest Demo "; // blanks that only quotes keep
    Put("sub/product.msi", MakePackage(identity, 1252));
    WriteStartingIni(dir / "sub" / "product.msi", dir / "pack.ini");
    Bytes written = ReadBytes(dir / "pack.ini");
    std::string text(written.begin(), written.end());
    for (const std::string &line : std::vector<std::string>{
             "\r\n[KestInstaller]\r\n", "\r\nProductCode=" + Code + "\r\n",
             "\r\nProductName=\" Kest Demo \"\r\n",
             "\r\nProductFile=sub\\product.msi\r\n", "\r\nCmdLine=\r\n", "code page 1252",
             "\r\n;Password=", "\r\n;LanguageFile1=", "\r\n;RuntimeNT="})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    std::vector<std::string> warnings;
    PackPlan plan = ReadPackPlan(dir / "pack.ini", &warnings);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    for (IdentityOrigin origin : plan.Origins)
        EXPECT_EQ(origin, IdentityOrigin::Ini);
    EXPECT_EQ(plan.ProductName, " Kest Demo ");
    BuildInstaller(plan, dir / "kestsetup.exe", dir / "setup.exe", nullptr);
    EXPECT_TRUE(InspectInstaller(dir / "setup.exe", std::nullopt, nullptr).Problems.empty());

    // Never over a file, and never from what is not a package.
    EXPECT_THROW(WriteStartingIni(dir / "sub" / "product.msi", dir / "pack.ini"), PackError);
    EXPECT_EQ(ReadBytes(dir / "pack.ini"), written);
    Put("plain.msi", Noise(3000, 4));
    Put("de.mst", MakeTransform(Code));
    for (const char *input : {"plain.msi", "de.mst"})
        EXPECT_THROW(WriteStartingIni(dir / input, dir / "other.ini"), PackError) << input;
    EXPECT_FALSE(fs::exists(dir / "other.ini"));
    EXPECT_TRUE(Temporaries(dir).empty());
}

// The reader of the database ------------------------------------------------

TEST(MsiReader, LongStringsThreeByteReferencesAndACodePage)
{
    EXPECT_EQ(DatabaseStreamName("_StringPool"), TableStream("_StringPool"));
    EXPECT_EQ(DatabaseStreamName("Property"), TableStream("Property"));
    std::string longText(70000, 'L');
    longText.back() = 'Z';
    Bytes db = MakePackage({{"ProductName", "\xc4\xec\xe8\xf2\xf0\xe8\xe9"},
                            {"Long", longText},
                            {"Empty", ""},
                            {"ProductCode", Code}},
                           1251, true);
    MemorySource source(db.data(), db.size());
    CompoundFile file(source);
    EXPECT_EQ(file.Kind(), CompoundKind::Package);
    StringPool pool = ReadStringPool(file);
    EXPECT_EQ(pool.CodePage, 1251u);
    EXPECT_EQ(pool.ReferenceSize, 3u);
    auto rows = ReadPropertyTable(file, pool);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], std::make_pair(std::string("Long"), longText));
    EXPECT_EQ(rows[2], std::make_pair(std::string("Empty"), std::string()));
    PackageIdentity identity = ReadPackageIdentity(source);
    EXPECT_EQ(identity.Values[IdentityProductName], "\xc4\xec\xe8\xf2\xf0\xe8\xe9");
    EXPECT_EQ(identity.Values[IdentityProductCode], Code);
    EXPECT_EQ(identity.Values[IdentityProductVersion], "");
    EXPECT_EQ(identity.CodePage, 1251u);
}

TEST(MsiReader, RefusesWhatADamagedDatabaseClaims)
{
    const Bytes good = MakePackage({{"ProductCode", Code}, {"Long", std::string(5000, 'x')}});
    auto pool = [](std::vector<uint16_t> words) {
        Bytes b;
        for (uint16_t w : words)
            b.push_back((unsigned char)w), b.push_back((unsigned char)(w >> 8));
        return b;
    };
    auto database = [](const Bytes &pool, const Bytes &data, const Bytes &property) {
        return MakeCompoundFile(0x84, {{TableStream("_StringPool"), pool},
                                       {TableStream("_StringData"), data},
                                       {TableStream("Property"), property}});
    };
    const Bytes abc = {'a', 'b', 'c'};
    struct Case {
        const char *what;
        Bytes file;
    } cases[] = {
        {"cut short", Bytes(good.begin(), good.begin() + 2048)},
        {"string past its data", database(pool({0, 0, 4, 1}), abc, {1, 0, 1, 0})},
        {"long string cut", database(pool({0, 0, 0, 1}), abc, {1, 0, 1, 0})},
        {"half a row", database(pool({0, 0, 3, 1}), abc, {1, 0, 1})},
        {"unknown string", database(pool({0, 0, 3, 1}), abc, {1, 0, 9, 0})},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    auto mutated = [&](const char *what, size_t at, uint32_t value) {
        Bytes b = good;
        StoreLe32(&b[at], value);
        all.push_back({what, b});
    };
    mutated("allocation table larger than the file", 0x2C, 100000);
    mutated("directory past the end", 0x30, 5000);
    mutated("a chain that loops", 512 + 4 * 1, 1); // the directory's sector points to itself
    mutated("the root's children loop", 512 * 2 + 128 + 0x48, 1);
    for (const Case &c : all) {
        MemorySource source(c.file.data(), c.file.size());
        EXPECT_THROW(ReadPackageIdentity(source), CompoundError) << c.what;
    }
    Bytes summary = SummaryStream("Intel;1033", Code);
    StoreLe32(&summary[44], 5000); // the section lies outside the stream
    Bytes transform = MakeCompoundFile(0x82, {{u"\x0005SummaryInformation", summary}});
    MemorySource source(transform.data(), transform.size());
    EXPECT_THROW(ReadTransformProductCode(source), CompoundError);
}

// msitools' libmsi, which shares its history with Windows Installer's own
// code, reads the same packages: its export is the reference. wixl writes
// them, msibuild sets a code page; they are kept in the build tree, as the
// largest take seconds to make.
class MsitoolsOracle : public ::testing::Test {
protected:
    static std::string Run(const std::string &command)
    {
        std::string out;
        FILE *pipe = popen(command.c_str(), "r");
        if (!pipe)
            return out;
        char chunk[65536];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
            out.append(chunk, n);
        int status = pclose(pipe);
        return status == 0 ? out : "(failed) " + out;
    }

    // The package name.msi, made once: the sample product with `extra`
    // inside its <Product>, a payload of `payload` random bytes, and then
    // the msibuild queries given.
    static fs::path Package(const std::string &name, const std::string &extra, size_t payload,
                            const std::vector<std::string> &queries = {})
    {
        fs::path folder = fs::path(KEST_SOURCE_DIR) / "build" / "msi-oracle";
        fs::path msi = folder / (name + ".msi");
        if (fs::exists(msi))
            return msi;
        fs::create_directories(folder);
        std::ifstream in(fs::path(KEST_SOURCE_DIR) / "tests" / "e2e" / "fixtures" / "product.wxs");
        std::string wxs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        wxs.insert(wxs.find("<Media Id="), extra);
        WriteBytes(folder / (name + ".wxs"), Bytes(wxs.begin(), wxs.end()));
        WriteBytes(folder / (name + ".txt"), Noise(payload, 7));
        std::string made = Run(
            "cd '" + folder.string() + "' && wixl -o '" + name + ".tmp' -D ProductName=Oracle " +
            "-D ProductCode=" + Code + " -D Version=3.2.1 -D UpgradeCode={" +
            "99999999-2222-3333-4444-555555555555} -D ComponentGuid={" +
            "88888888-2222-3333-4444-555555555555} -D Payload='" + name + ".txt' '" + name +
            ".wxs' 2>&1");
        EXPECT_EQ(made.find("(failed)"), std::string::npos) << made;
        for (const std::string &q : queries)
            Run("cd '" + folder.string() + "' && msibuild '" + name + ".tmp' " + q);
        fs::remove(folder / (name + ".txt"));
        fs::rename(folder / (name + ".tmp"), msi);
        return msi;
    }

    static std::string Utf8(const std::string &text, unsigned codePage)
    {
        if (codePage == 0)
            return text;
        iconv_t cd = iconv_open("UTF-8", ("CP" + std::to_string(codePage)).c_str());
        std::string out(text.size() * 4, '\0');
        char *in = const_cast<char *>(text.data()), *to = out.data();
        size_t left = text.size(), room = out.size();
        iconv(cd, &in, &left, &to, &room);
        iconv_close(cd);
        out.resize(out.size() - room);
        return out;
    }
};

TEST_F(MsitoolsOracle, PropertyTablesAgree)
{
    if (Run("command -v wixl msibuild msiinfo >/dev/null && echo yes") != "yes\n")
        GTEST_SKIP() << "msitools is not installed";
    std::string many;
    for (int i = 0; i < 33000; ++i)
        many += "<Property Id=\"P" + std::to_string(i) + "\" Value=\"v" + std::to_string(i) +
                "\" />\n";
    many += "<Property Id=\"LONGTEXT\" Value=\"" + std::string(70000, 'w') + "\" />\n";
    fs::path folder = fs::path(KEST_SOURCE_DIR) / "build" / "msi-oracle";
    fs::create_directories(folder);
    WriteBytes(folder / "_ForceCodepage.idt",
               {'\r', '\n', '\r', '\n', '1', '2', '5', '1', '\t', '_', 'F', 'o', 'r', 'c', 'e',
                'C', 'o', 'd', 'e', 'p', 'a', 'g', 'e', '\r', '\n'});
    struct Case {
        fs::path msi;
        unsigned referenceSize, codePage;
        uint64_t atLeast;
        std::string name;
    } cases[] = {
        {Package("short-v1", "", 100), 2, 0, 0, "Oracle"},
        {Package("many-v1", many, 100), 3, 0, 0, "Oracle"},
        {Package("cp1251-v1", "", 100,
                 {"-i _ForceCodepage.idt",
                  "-q \"UPDATE \\`Property\\` SET \\`Value\\`='Дмитрий' WHERE "
                  "\\`Property\\`='ProductName'\""}),
         2, 1251, 0, "\xc4\xec\xe8\xf2\xf0\xe8\xe9"},
        {Package("large-v1", "", 9u << 20), 2, 0, 8u << 20, "Oracle"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.msi.string());
        EXPECT_GE(fs::file_size(c.msi), c.atLeast);
        FileSource source(c.msi);
        CompoundFile file(source);
        StringPool pool = ReadStringPool(file);
        EXPECT_EQ(pool.ReferenceSize, c.referenceSize);
        EXPECT_EQ(pool.CodePage, c.codePage);
        std::vector<std::string> ours;
        for (const auto &row : ReadPropertyTable(file, pool))
            ours.push_back(row.first + "\t" + Utf8(row.second, pool.CodePage));
        // The export: a header of three lines, then a row a line.
        std::string exported = Run("msiinfo export '" + c.msi.string() + "' Property");
        std::vector<std::string> theirs;
        size_t at = 0;
        for (int line = 0; at < exported.size(); ++line) {
            size_t end = exported.find("\r\n", at);
            if (end == std::string::npos)
                end = exported.size();
            if (line >= 3)
                theirs.push_back(exported.substr(at, end - at));
            at = end + 2;
        }
        std::sort(ours.begin(), ours.end());
        std::sort(theirs.begin(), theirs.end());
        EXPECT_GT(ours.size(), 6u);
        EXPECT_TRUE(ours == theirs) << ours.size() << " rows read, " << theirs.size()
                                    << " exported";
        PackageIdentity identity = ReadPackageIdentity(source);
        EXPECT_EQ(identity.Values[IdentityProductCode], Code);
        EXPECT_EQ(identity.Values[IdentityProductVersion], "3.2.1");
        EXPECT_EQ(identity.Values[IdentityProductName], c.name);
    }
}

} // namespace
