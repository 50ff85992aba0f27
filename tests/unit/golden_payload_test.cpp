// One payload written out byte by byte, without the layout code that the
// writer, the stub's decoder and the inspector share, so that a mistake in
// that code cannot cancel itself out. The scrambled bytes and the CRCs were
// worked out apart from this code base: the keystream from its seed
// 4718062 (multiplier 48271, modulus 2^31 - 1), the CRCs with an ordinary
// CRC-32 (zlib's).
#include "pack/examine.h"
#include "pack_fixture.h"

namespace {

using namespace packtest;

const unsigned PayloadAt = 0x800; // right after the 0x800 bytes of MakeStub()

class GoldenPayload : public PackFolder {
protected:
    void U8(std::initializer_list<unsigned char> bytes) { p.insert(p.end(), bytes); }
    void U16(unsigned v) { U8({(unsigned char)v, (unsigned char)(v >> 8)}); }
    void U32(unsigned v)
    {
        U8({(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16),
            (unsigned char)(v >> 24)});
    }
    // The text's bytes and its terminating zero.
    void Z(const char *text)
    {
        p.insert(p.end(), text, text + std::strlen(text));
        p.push_back(0);
    }

    void LayOut()
    {
        // Items 1-9, the fixed block.
        U32(0);                // 1 reserved
        U32(0);                // 2 StreamSizeNT: the NT runtime is downloaded
        U32(0xC00);            // 3 TotalFileSize: stub 0x800 + payload 0x400
        U32(0x00030001);       // 4 RuntimeVersionMS: 3.1
        U32(0x0FA00983);       // 5 RuntimeVersionLS: 4000.2435
        U32(10);               // 6 StreamSize9X: 6 data bytes + CRC
        U32(11);               // 7 StreamSizeMSI: 7 data bytes + CRC
        U32(0);                // 8 reserved
        U32(0);                // 9 reserved
        U8({1});               // 10 DelayReboot
        U8({9, 7, 4, 1});      // 11 head lengths
        Z("Demo.msi");         // 12 PackageFileName        (offset 41)
        Z("{C0DE}");           // 13 ProductCode            (50)
        Z("2.5");              // 14 ProductVersion         (57)
        Z("");                 // 15 TransformMSI: empty    (61)
        U8({0xEE,              // 16 B0 CharSet             (62)
            0x8A,              //    B1 CharSize: 10 points, always ask
            13,                //    B2 caption block
            5,                 //    B3 password
            4,                 //    B4 CmdLine
            0, 0, 0,           //    B5-B7 AdminError, ExistError, SpaceError
            4,                 //    B8 CRCError
            0, 0,              //    B9-B10 Reboot, Internet
            0,                 //    B11 ExternalPackagePath
            0,                 //    B12 Runtime9X URL: carried instead
            21,                //    B13 RuntimeNT URL
            0,                 //    B14 RuntimeDotNet URL
            6,                 //    B15 language prompt
            13,                //    B16 first language entry
            0,                 //    B17 RuntimeDotNetUpdate URL
            2});               //    B18 further language entries
        Z("Tahoma");           // 17 caption block          (81)
        Z("Demo");
        Z("");
        U8({0x17, 0xE5, 0xE2, 0x52, // 18 "KEST" XOR 112304220 (94)
            0x00});            //    the byte that is not compared
        Z("/qn");              // 19 CmdLine                (99)
        Z("Bad");              //    CRCError               (103)
                               // 20 ExternalPackagePath: none (107)
                               // 21 Runtime9X URL: none    (107)
        U32(0);                // 22 DownloadSize9X
        Z("http://x.test/nt.exe"); // 23 RuntimeNT URL       (111)
        U32(1822520);          // 24 DownloadSizeNT
                               // 25 RuntimeDotNet URL: none (136)
        U32(0);                // 26 DownloadSizeDotNet
                               // 27 RuntimeDotNetUpdate URL: none (140)
        U32(0);                // 28 DownloadSizeDotNetUpdate
        Z("Pick:");            // 29 language prompt        (144)
        Z("English,1033");     // 30 first language entry   (150)
        U16(13);               // 31 further entries        (163)
        Z("Deutsch,1031");
        U16(12);               //                           (178)
        Z("Magyar,1038");
        U8({'R', 'T', '9', 'X', '!', '!'}); // 32 the 9x runtime, plain (192)
        U32(0x126DACCA);       //    its CRC
                               // 33 NT runtime: none
        U8({0x10, 0x6C, 0xBF, 0x65, // 34 "PACKAGE", scrambled after the
            0x4D, 0xEC, 0xED});     //    password: one word, three bytes (202)
        U32(0xE12D998F);       //    CRC of the plain bytes
        U32(9);                // 35 transform 1: size      (213)
        U8({0xD6, 0x9F, 0x16, 0x43, // "TRAN1", scrambled after the package (217)
            0x35});
        U32(0x24C9DC79);
        U32(6);                //    transform 2: size      (226)
        U8({0xE1, 0x36});      //    "T2", byte by byte after the package (230)
        U32(0x57D9DB2F);
        p.resize(0x400, 0);    //    the section's raw size
    }

    // The payload bound behind the stub as kestpack binds it: the .KEST
    // section header points at it with a raw size of 1,024.
    fs::path Installer()
    {
        LayOut();
        Bytes file = MakeStub();
        const unsigned kestHeader = 0x80 + 24 + 0xE0 + 40;
        StoreLe32(&file[kestHeader + 16], 0x400);
        StoreLe32(&file[kestHeader + 20], PayloadAt);
        file.insert(file.end(), p.begin(), p.end());
        return Put("golden.exe", file);
    }

    Bytes p;
};

void ExpectHeader(const InstallerSettingsRecord &s, const PayloadHeaderRecord &h, int dotNet)
{
    EXPECT_EQ(s.StreamSizeNT, 0);
    EXPECT_EQ(s.TotalFileSize, 0xC00u);
    EXPECT_EQ(s.RuntimeVersionMS, 0x00030001u);
    EXPECT_EQ(s.RuntimeVersionLS, 0x0FA00983u);
    EXPECT_EQ(s.StreamSize9X, 10);
    EXPECT_EQ(s.StreamSizeMSI, 11u);
    EXPECT_EQ(s.DelayReboot, 1);
    EXPECT_STREQ(s.PackageFileName, "Demo.msi");
    EXPECT_STREQ(s.ProductCode, "{C0DE}");
    EXPECT_STREQ(s.ProductVersion, "2.5");
    EXPECT_STREQ(s.TransformMSI, "");
    EXPECT_EQ(s.CharSet, 0xEE);
    EXPECT_EQ(s.CharSize, 0x8A);
    EXPECT_STREQ(s.CharFont, "Tahoma");
    EXPECT_STREQ(s.ProductName, "Demo");
    EXPECT_EQ(s.PasswordLength, 5);
    const unsigned char stored[5] = {0x17, 0xE5, 0xE2, 0x52, 0x00};
    EXPECT_EQ(std::memcmp(s.StoredPassword, stored, 5), 0);
    EXPECT_EQ(s.RuntimeSize9X, 0);
    EXPECT_EQ(s.RuntimeSizeNT, 21);
    EXPECT_EQ(s.RuntimeSizeDotNet, 0);
    EXPECT_EQ(s.RuntimeSizeDotNetUpdate, 0);
    EXPECT_EQ(s.DownloadSize9X, 0u);
    EXPECT_EQ(s.DownloadSizeNT, 1822520u);
    EXPECT_EQ(s.DownloadSizeDotNet, 0u);
    EXPECT_EQ(s.DownloadSizeDotNetUpdate, 0u);
    EXPECT_EQ(dotNet, 0);
    const unsigned char lengths[HeaderLengthCount] = {0xEE, 0x8A, 13, 5, 4, 0, 0, 0, 4, 0,
                                                      0,    0,    0,  21, 0, 6, 13, 0, 2};
    EXPECT_EQ(std::memcmp(h.Lengths, lengths, sizeof lengths), 0);
    EXPECT_EQ(h.TextRegionOffset, long(PayloadAt + 99));
    EXPECT_EQ(h.ExternalPackagePathOffset, long(PayloadAt + 107));
    const long urls[4] = {PayloadAt + 107, PayloadAt + 111, PayloadAt + 136, PayloadAt + 140};
    for (int e = 0; e < 4; ++e)
        EXPECT_EQ(h.RuntimeUrlOffset[e], urls[e]) << e;
}

TEST_F(GoldenPayload, TheStubsDecoderReadsEveryField)
{
    LayOut();
    InstallerSettingsRecord s{};
    PayloadHeaderRecord h{};
    int dotNet = 0;
    EXPECT_EQ(DecodePayloadHeader(p.data(), unsigned(p.size()), long(PayloadAt), &s, &h, &dotNet),
              144u);
    ExpectHeader(s, h, dotNet);
    EXPECT_EQ(s.RemovePrevious, 1);
    // One byte short of the language prompt is not enough.
    EXPECT_EQ(DecodePayloadHeader(p.data(), 143, long(PayloadAt), &s, &h, &dotNet), 0u);
}

TEST_F(GoldenPayload, TheInspectorReadsAndDescramblesEverything)
{
    fs::path file = Installer();
    fs::path out = dir / "out";
    PayloadReport r = InspectInstaller(file, std::string("kest"), &out);
    EXPECT_TRUE(r.Problems.empty()) << r.Problems.front();
    EXPECT_TRUE(r.PasswordChecked);
    EXPECT_EQ(r.FileLength, 0xC00u);
    EXPECT_EQ(r.Architecture, "x86");
    EXPECT_EQ(r.Section.RawPointer, PayloadAt);
    EXPECT_EQ(r.Section.RawSize, 0x400u);
    ExpectHeader(r.Settings, r.Header, r.DotNetMode);
    const char *texts[7] = {"/qn", "", "", "", "Bad", "", ""};
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(r.Texts[k], texts[k]) << k;
    EXPECT_EQ(r.ExternalPackagePath, "");
    EXPECT_EQ(r.Urls[RuntimeEntryNT], "http://x.test/nt.exe");
    EXPECT_EQ(r.Urls[RuntimeEntry9X], "");
    EXPECT_EQ(r.LanguagePrompt, "Pick:");
    EXPECT_EQ(r.FirstLanguage, "English,1033");
    EXPECT_EQ(r.Languages, (std::vector<std::string>{"Deutsch,1031", "Magyar,1038"}));
    EXPECT_EQ(r.StreamsOffset, PayloadAt + 192u);

    struct Expected {
        const char *name, *file, *plain;
        uint64_t offset;
        uint32_t size, crc;
        bool scrambled;
    } streams[] = {{"runtime-9x", "runtime-9x.exe", "RT9X!!", 192, 10, 0x126DACCA, false},
                   {"package", "Demo.msi", "PACKAGE", 202, 11, 0xE12D998F, true},
                   {"transform 1", "language-1.mst", "TRAN1", 217, 9, 0x24C9DC79, true},
                   {"transform 2", "language-2.mst", "T2", 230, 6, 0x57D9DB2F, true}};
    ASSERT_EQ(r.Streams.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const Expected &e = streams[i];
        const StreamReport &st = r.Streams[i];
        EXPECT_EQ(st.Name, e.name);
        EXPECT_EQ(st.FileName, e.file);
        EXPECT_EQ(st.Offset, PayloadAt + e.offset) << e.name;
        EXPECT_EQ(st.Size, e.size) << e.name;
        EXPECT_EQ(st.Scrambled, e.scrambled) << e.name;
        EXPECT_EQ(st.State, StreamReport::Ok) << e.name;
        EXPECT_EQ(st.StoredCrc, e.crc) << e.name;
        EXPECT_EQ(st.ComputedCrc, e.crc) << e.name;
        EXPECT_EQ(ReadBytes(out / e.file), Bytes(e.plain, e.plain + std::strlen(e.plain)))
            << e.name;
    }
}

} // namespace
