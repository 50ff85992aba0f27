// The payload format's pure pieces: CRC-32, keystream, SHA-256 and the
// runtime pin, the PE section search, the layout and the header decoder.
#include "payload/crc32.h"
#include "payload/layout.h"
#include "payload/keystream.h"
#include "payload/sha256.h"
#include "payload/vector.h"
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const unsigned Modulus = 2147483647u;

unsigned Crc(const void *data, unsigned count)
{
    unsigned table[CrcTableEntries];
    FillCrcTable(table);
    return ~FoldCrc(CrcRegisterReset, table, static_cast<const unsigned char *>(data), count);
}

TEST(Crc32, KnownAnswersAtOnceAndInPieces)
{
    unsigned table[CrcTableEntries];
    FillCrcTable(table);
    EXPECT_EQ(table[0], 0u);
    EXPECT_EQ(table[1], 0x77073096u);
    EXPECT_EQ(table[255], 0x2D02EF8Du);

    const char digits[] = "123456789";
    EXPECT_EQ(Crc(digits, 9), 0xCBF43926u);
    EXPECT_EQ(Crc(digits, 0), 0u);
    for (unsigned split = 0; split <= 9; ++split) {
        for (unsigned split2 = split; split2 <= 9; ++split2) {
            unsigned crc = FoldCrc(CrcRegisterReset, table,
                                   reinterpret_cast<const unsigned char *>(digits), split);
            crc = FoldCrc(crc, table, reinterpret_cast<const unsigned char *>(digits) + split,
                          split2 - split);
            crc = FoldCrc(crc, table, reinterpret_cast<const unsigned char *>(digits) + split2,
                          9 - split2);
            EXPECT_EQ(~crc, 0xCBF43926u) << split << "," << split2;
        }
    }
    // At an odd offset inside a larger buffer.
    char buffer[32] = "xyz123456789";
    EXPECT_EQ(Crc(buffer + 3, 9), 0xCBF43926u);
}

// The byte-at-a-time CRC the sliced one must equal, bit for bit.
unsigned ByteCrc(unsigned crc, const unsigned char *data, size_t count)
{
    while (count--) {
        crc ^= *data++;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

// size bytes of a fixed noise.
std::vector<unsigned char> NoisyBytes(size_t size, unsigned seed)
{
    std::vector<unsigned char> data(size);
    for (auto &b : data)
        b = (unsigned char)((seed = seed * 1103515245u + 12345u) >> 16);
    return data;
}

TEST(Crc32, SlicedEqualsByteByByteAtEveryLengthOffsetAndSplit)
{
    unsigned table[CrcTableEntries];
    FillCrcTable(table);
    const std::vector<unsigned char> data = NoisyBytes(4099, 12345);
    // Every alignment and length around the slice width.
    for (size_t offset = 0; offset < 9; ++offset)
        for (size_t length = 0; length <= 67; ++length)
            ASSERT_EQ(FoldCrc(CrcRegisterReset, table, data.data() + offset, unsigned(length)),
                      ByteCrc(CrcRegisterReset, data.data() + offset, length))
                << offset << "+" << length;
    // Folding in two pieces, split anywhere, equals folding at once.
    const unsigned whole = ByteCrc(CrcRegisterReset, data.data(), data.size());
    for (size_t split = 0; split <= data.size(); ++split) {
        unsigned crc = FoldCrc(CrcRegisterReset, table, data.data(), unsigned(split));
        crc = FoldCrc(crc, table, data.data() + split, unsigned(data.size() - split));
        ASSERT_EQ(crc, whole) << split;
    }
}

std::string DigestHex(const unsigned char *digest)
{
    char text[Sha256TextSize + 1];
    for (int i = 0; i < Sha256Size; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

// The digest of the pieces fed one after the other, as hexadecimal text.
std::string Sha256Hex(const std::vector<std::pair<const unsigned char *, size_t>> &pieces)
{
    Sha256Context c;
    Sha256Start(&c);
    for (const auto &piece : pieces)
        Sha256Add(&c, piece.first, unsigned(piece.second));
    Sha256Finish(&c);
    unsigned char digest[Sha256Size];
    Sha256Bytes(c.Hash, digest);
    return DigestHex(digest);
}

std::string Sha256Hex(const std::string &text)
{
    return Sha256Hex({{reinterpret_cast<const unsigned char *>(text.data()), text.size()}});
}

std::string ReferenceHex(const unsigned char *data, size_t size)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(data, size, digest);
    return DigestHex(digest);
}

TEST(Sha256, KnownAnswers)
{
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // One million "a", fed in pieces of a prime length that no block
    // boundary lines up with.
    const std::string piece(997, 'a');
    Sha256Context c;
    Sha256Start(&c);
    for (size_t fed = 0; fed < 1000000; fed += 997)
        Sha256Add(&c, reinterpret_cast<const unsigned char *>(piece.data()),
                  unsigned(std::min<size_t>(997, 1000000 - fed)));
    Sha256Finish(&c);
    unsigned expected[8] = {0xcdc76e5c, 0x9914fb92, 0x81a1c7e2, 0x84d73e67,
                            0xf1809a48, 0xa497200e, 0x046d39cc, 0xc7112cd0};
    EXPECT_TRUE(std::equal(c.Hash, c.Hash + 8, expected));
}

TEST(Sha256, EqualsTheReferenceAtEveryLengthAndSplit)
{
    const std::vector<unsigned char> data = NoisyBytes(200, 4242);
    for (size_t length = 0; length <= data.size(); ++length) {
        const std::string expected = ReferenceHex(data.data(), length);
        ASSERT_EQ(Sha256Hex({{data.data(), length}}), expected) << length;
        // In two pieces split anywhere, and in three around the block edges.
        for (size_t split = 0; split <= length; ++split)
            ASSERT_EQ(Sha256Hex({{data.data(), split}, {data.data() + split, length - split}}),
                      expected) << length << "/" << split;
        for (size_t split = 55; split <= 65 && split + 1 <= length; ++split)
            ASSERT_EQ(Sha256Hex({{data.data(), split - 1}, {data.data() + split - 1, 1},
                                 {data.data() + split, length - split}}),
                      expected) << length << "/" << split;
    }
}

TEST(TakeDigestPin, CutsAWellFormedPinInEitherCase)
{
    const std::string hex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = hex;
    for (char &c : upper)
        c = char(std::toupper(c));
    const unsigned abc[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                             0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    struct Case {
        std::string source, left;
        DigestPin pin;
    };
    const Case cases[] = {
        {"http://h/instmsiw.exe#sha256=" + hex, "http://h/instmsiw.exe", PinGiven},
        {"http://h/instmsiw.exe#SHA256=" + upper, "http://h/instmsiw.exe", PinGiven},
        {"\\\\server\\share\\instmsiw.exe#sha256=" + hex, "\\\\server\\share\\instmsiw.exe",
         PinGiven},
        // Only the last '#' can begin the pin; a '#' in a file name stays.
        {"C:\\a#b\\fake.exe#sha256=" + hex, "C:\\a#b\\fake.exe", PinGiven},
        {"C:\\a#b\\fake.exe", "C:\\a#b\\fake.exe", PinAbsent},
        {"http://h/x.exe#top", "http://h/x.exe#top", PinAbsent},
        {"http://h/x.exe", "http://h/x.exe", PinAbsent},
        {"", "", PinAbsent},
        // Not 64 hexadecimal digits: one short, one long, one not a digit,
        // the characters next to the digit ranges, none at all.
        {"x#sha256=" + hex.substr(1), "", PinMalformed},
        {"x#sha256=" + hex + "0", "", PinMalformed},
        {"x#sha256=" + hex.substr(1) + "g", "", PinMalformed},
        {"x#sha256=" + hex.substr(1) + ":", "", PinMalformed},
        {"x#sha256=" + hex.substr(1) + "/", "", PinMalformed},
        {"x#sha256=" + hex.substr(1) + "`", "", PinMalformed},
        {"x#sha256=" + hex.substr(1) + "@", "", PinMalformed},
        {"x#sha256=" + hex.substr(1) + " ", "", PinMalformed},
        {"x#sha256=", "", PinMalformed},
        {"x#sha256=" + hex.substr(0, 32) + " " + hex.substr(32), "", PinMalformed},
    };
    for (const Case &c : cases) {
        std::vector<char> text(c.source.begin(), c.source.end());
        text.push_back(0);
        unsigned digest[8] = {};
        ASSERT_EQ(TakeDigestPin(text.data(), digest), c.pin) << c.source;
        if (c.pin == PinMalformed)
            continue;
        EXPECT_EQ(std::string(text.data()), c.left);
        if (c.pin == PinGiven)
            EXPECT_TRUE(std::equal(digest, digest + 8, abc)) << c.source;
    }
}

TEST(Crc32, WideFoldEqualsByteByByteAtEveryLengthOffsetAndSplit)
{
    if (!VectorPathUsable())
        GTEST_SKIP() << "this processor has no carry-less multiplication";
    unsigned table[CrcTableEntries];
    FillCrcTable(table);
    const std::vector<unsigned char> data = NoisyBytes(70000, 777);
    // Around the 128 bytes the folding starts at and its 64-byte steps, at
    // every alignment, from the reset register and from any other.
    for (size_t offset = 0; offset < 17; ++offset)
        for (size_t length = 0; length <= 330; ++length)
            for (unsigned start : {unsigned(CrcRegisterReset), 0u, 0x12345678u})
                ASSERT_EQ(FoldCrcWide(start, table, data.data() + offset, unsigned(length)),
                          ByteCrc(start, data.data() + offset, length))
                    << offset << "+" << length;
    const unsigned whole = ByteCrc(CrcRegisterReset, data.data(), data.size());
    ASSERT_EQ(FoldCrcWide(CrcRegisterReset, table, data.data(), unsigned(data.size())), whole);
    for (size_t split = 0; split <= 4099; ++split) {
        unsigned crc = FoldCrcWide(CrcRegisterReset, table, data.data(), unsigned(split));
        crc = FoldCrcWide(crc, table, data.data() + split, unsigned(data.size() - split));
        ASSERT_EQ(crc, whole) << split;
    }
    // All ones and all zeros: no carry or lane escapes the fold.
    for (unsigned char fill : {0x00, 0xFF}) {
        std::vector<unsigned char> same(1 << 16, fill);
        ASSERT_EQ(FoldCrcWide(CrcRegisterReset, table, same.data(), unsigned(same.size())),
                  ByteCrc(CrcRegisterReset, same.data(), same.size()));
    }
}

// The keystream as first written, by Schrage's method: the faster
// generator must give every output the same.
int SchrageNext(int state)
{
    int hi = state / 44488, lo = state % 44488;
    int t = 48271 * lo - 3399 * hi;
    return t < 0 ? t + int(Modulus) : t;
}

TEST(Keystream, EqualsSchragesMethodOverMillionsOfOutputs)
{
    KeystreamSeed();
    const int seed = KeystreamState;
    int reference = KeystreamState;
    EXPECT_EQ(KeystreamJump(seed, 0), seed);
    for (int i = 0; i < 5000000; ++i) {
        reference = SchrageNext(reference);
        ASSERT_EQ(KeystreamNext(), reference) << "output " << i;
        // A jump lands where the steps one by one do.
        if (i % 999983 == 0 || i == 4999999)
            ASSERT_EQ(KeystreamJump(seed, unsigned(i) + 1), reference) << "output " << i;
    }
    // And at the edges of the state's range.
    for (int start : {1, 2, 44487, 44488, 44489, 1073741823, 2147483645, 2147483646}) {
        KeystreamState = start;
        ASSERT_EQ(KeystreamNext(), SchrageNext(start)) << start;
    }
}

TEST(Keystream, XorOfEveryLengthEqualsTheGeneratorWordByWord)
{
    // Four words a step from the powers of the multiplier: every word, and
    // the bytes after the last whole one, as the generator gives them.
    std::vector<unsigned char> zeros(1 << 20);
    for (int length : {0, 1, 3, 4, 5, 15, 16, 17, 31, 32, 33, 1 << 20}) {
        std::fill(zeros.begin(), zeros.end(), 0);
        KeystreamSeed();
        KeystreamXor(zeros.data(), length);
        int reference = 4718062;
        int i = 0;
        if (length > 3)
            for (; i + 4 <= length; i += 4) {
                reference = SchrageNext(reference);
                unsigned word = zeros[size_t(i)] | zeros[size_t(i) + 1] << 8 |
                                zeros[size_t(i) + 2] << 16 | unsigned(zeros[size_t(i) + 3]) << 24;
                ASSERT_EQ(word, unsigned(reference)) << length << " at " << i;
            }
        for (; i < length; ++i) {
            reference = SchrageNext(reference);
            ASSERT_EQ(zeros[size_t(i)], reference % 255 + 1) << length << " at " << i;
        }
        EXPECT_EQ(KeystreamState, reference) << length;
    }
}

TEST(Keystream, WideXorEqualsTheWordByWordOneAtEveryLengthAndSplit)
{
    if (!VectorPathUsable())
        GTEST_SKIP() << "this processor has no 128-bit path";
    const std::vector<unsigned char> data = NoisyBytes(1 << 20, 99);
    std::vector<unsigned char> narrow, wide;
    // Every length around the 32-byte step, from the seed and from states
    // at the edges of the range, where the reduction's last step matters.
    for (int start : {4718062, 1, 2147483646, 1073741824})
        for (int length = 0; length <= 300; ++length) {
            narrow.assign(data.begin(), data.begin() + length);
            wide = narrow;
            KeystreamState = start;
            KeystreamXor(narrow.data(), length);
            const int after = KeystreamState;
            KeystreamState = start;
            KeystreamXorWide(wide.data(), length);
            ASSERT_EQ(wide, narrow) << start << " " << length;
            ASSERT_EQ(KeystreamState, after) << start << " " << length;
        }
    // A whole stream in chunks of every multiple of 4 up to 260 bytes (the
    // copy's chunks hold whole words), against one narrow pass: millions of
    // outputs through the lanes.
    narrow = data;
    KeystreamSeed();
    KeystreamXor(narrow.data(), int(narrow.size()));
    const int end = KeystreamState;
    for (size_t chunk = 4; chunk <= 260; chunk += 28) {
        wide = data;
        KeystreamSeed();
        for (size_t at = 0; at < wide.size(); at += chunk)
            KeystreamXorWide(wide.data() + at, int(std::min(chunk, wide.size() - at)));
        ASSERT_EQ(wide, narrow) << chunk;
        ASSERT_EQ(KeystreamState, end) << chunk;
    }
}

TEST(Keystream, GeneratorFromStateOneAndTheSeed)
{
    KeystreamState = 1;
    EXPECT_EQ(KeystreamNext(), 48271);
    EXPECT_EQ(KeystreamNext(), 182605794);
    EXPECT_EQ(KeystreamNext(), 1291394886);

    // The generator equals the plain 64-bit product, also at the edges of
    // the state's range.
    for (int start : {4718062, 1, 2147483646, 44488, 44487, 1073741823}) {
        KeystreamState = start;
        unsigned long long expected = unsigned(start);
        for (int i = 0; i < 1000; ++i) {
            expected = expected * 48271u % Modulus;
            ASSERT_EQ(unsigned(KeystreamNext()), expected) << start << " step " << i;
        }
    }
    KeystreamState = 0;
    KeystreamSeed();
    EXPECT_EQ(KeystreamState, 4718062);
}

// The state whose next value is `value`: value times the inverse of the
// multiplier.
int StateBefore(unsigned value)
{
    unsigned long long inverse = 1, base = 48271, e = Modulus - 2;
    while (e) {
        if (e & 1)
            inverse = inverse * base % Modulus;
        base = base * base % Modulus;
        e >>= 1;
    }
    return int(value * inverse % Modulus);
}

TEST(Keystream, ByteMasksRunFromOneTo255)
{
    unsigned char b[1];
    KeystreamState = StateBefore(254);
    b[0] = 0;
    KeystreamXor(b, 1);
    EXPECT_EQ(b[0], 255);
    KeystreamState = StateBefore(255);
    b[0] = 0;
    KeystreamXor(b, 1);
    EXPECT_EQ(b[0], 1);
    KeystreamState = StateBefore(510); // 510 mod 255 = 0: never a zero mask
    b[0] = 0;
    KeystreamXor(b, 1);
    EXPECT_EQ(b[0], 1);
}

TEST(Keystream, WordsThenBytesAndChunkedEqualsWhole)
{
    // 2 x 65,536 + 3 bytes: 32,768 word values, then 3 byte values.
    const int n = 65536 * 2 + 3;
    std::vector<unsigned char> whole(n, 0), chunked(n, 0);
    KeystreamSeed();
    KeystreamXor(whole.data(), n);
    const int afterWhole = KeystreamState;
    KeystreamSeed();
    for (int i = 0; i < 32768 + 3; ++i)
        KeystreamNext();
    EXPECT_EQ(KeystreamState, afterWhole);

    KeystreamSeed();
    KeystreamXor(chunked.data(), 65536);
    KeystreamXor(chunked.data() + 65536, 65536);
    KeystreamXor(chunked.data() + 131072, 3);
    EXPECT_EQ(whole, chunked);
    EXPECT_EQ(KeystreamState, afterWhole);

    // The first word carries the first value little-endian.
    KeystreamSeed();
    unsigned first = unsigned(KeystreamNext());
    EXPECT_EQ(LoadLe32(whole.data()), first);

    // Three bytes or fewer are masked byte by byte; XOR undoes itself.
    unsigned char small[3] = {1, 2, 3};
    KeystreamSeed();
    KeystreamXor(small, 3);
    KeystreamSeed();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(small[i] ^ (i + 1), KeystreamNext() % 255 + 1);
    KeystreamSeed();
    KeystreamXor(small, 3);
    EXPECT_EQ(small[0], 1);
    EXPECT_EQ(small[2], 3);
}

TEST(Keystream, PasswordIsUpperCasedAsciiOnly)
{
    unsigned char lower[] = "se\xe4" "cret1";
    unsigned char upper[] = "SE\xe4" "CRET1";
    ScramblePassword(lower, 7);
    int afterLower = KeystreamState;
    ScramblePassword(upper, 7);
    EXPECT_EQ(std::memcmp(lower, upper, 7), 0);
    EXPECT_EQ(KeystreamState, afterLower);
    // 7 bytes: one word and three bytes.
    KeystreamSeed();
    for (int i = 0; i < 4; ++i)
        KeystreamNext();
    EXPECT_EQ(KeystreamState, afterLower);
}

// A PE head as the linker lays it out: NT headers at 0x80, 16 directories,
// the section table at 0x178 (PE32) or 0x188 (PE32+).
struct PeHead {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(LocatorWindowSize, 0);
    unsigned nt = 0x80;
    unsigned count; // offset of NumberOfRvaAndSizes from the NT headers

    explicit PeHead(unsigned magic = 0x10B) : count(magic == 0x20B ? 0x84 : 0x74)
    {
        bytes[0] = 'M';
        bytes[1] = 'Z';
        StoreLe32(&bytes[0x3C], nt);
        std::memcpy(&bytes[nt], "PE\0\0", 4);
        StoreLe16(&bytes[nt + 24], magic);
        StoreLe32(&bytes[nt + count], 16);
    }
    unsigned Table() const { return nt + count + 4 + 8 * LoadLe32(&bytes[nt + count]); }
    void Section(int index, const char *name, unsigned raw, unsigned pointer)
    {
        unsigned at = Table() + 40 * unsigned(index);
        std::memset(&bytes[at], 0, 40);
        std::memcpy(&bytes[at], name, std::strlen(name) < 8 ? std::strlen(name) : 8);
        StoreLe32(&bytes[at + 16], raw);
        StoreLe32(&bytes[at + 20], pointer);
        if (LoadLe16(&bytes[nt + 6]) < index + 1)
            StoreLe16(&bytes[nt + 6], unsigned(index + 1));
    }
    int Find(PayloadSection *s, unsigned size = LocatorWindowSize) const
    {
        return FindPayloadSection(bytes.data(), size, s);
    }
};

TEST(FindPayloadSection, FindsTheFirstExactName)
{
    PeHead pe;
    pe.Section(0, ".text", 0x1000, 0x400);
    pe.Section(1, ".kest", 0x400, 0x1400);  // other case: not it
    pe.Section(2, ".KESTX", 0x400, 0x1800); // longer name: not it
    pe.Section(3, ".KEST", 512, 0x2200);
    pe.Section(4, ".KEST", 4096, 0x9000);
    PayloadSection s;
    ASSERT_TRUE(pe.Find(&s));
    EXPECT_EQ(s.RawSize, 512u);
    EXPECT_EQ(s.RawPointer, 0x2200u);
    EXPECT_EQ(s.HeaderOffset, pe.Table() + 3 * 40);
}

TEST(FindPayloadSection, ReadsBothOptionalHeaderLayouts)
{
    PayloadSection s;
    PeHead plus(0x20B);
    plus.Section(0, ".text", 0x1000, 0x400);
    plus.Section(1, ".KEST", 512, 0x2200);
    ASSERT_TRUE(plus.Find(&s));
    EXPECT_EQ(s.HeaderOffset, 0x188u + 40);
    EXPECT_EQ(s.RawPointer, 0x2200u);
    // Read with the PE32 layout, the same bytes would name no section.
    StoreLe16(&plus.bytes[plus.nt + 24], 0x10B);
    EXPECT_FALSE(plus.Find(&s));
    // Neither layout: a ROM image or garbage.
    StoreLe16(&plus.bytes[plus.nt + 24], 0x107);
    EXPECT_FALSE(plus.Find(&s));
    // The PE32+ directory count must itself lie inside the bytes read.
    PeHead cut(0x20B);
    cut.Section(0, ".KEST", 512, 0x2200);
    EXPECT_FALSE(cut.Find(&s, cut.nt + 0x84 + 3));
}

TEST(FindPayloadSection, FailsOutsideTheWindowAndOnDamage)
{
    PayloadSection s;
    {
        PeHead pe;
        pe.Section(0, ".kest", 0x400, 0x1400);
        EXPECT_FALSE(pe.Find(&s));
    }
    {
        // An eight-letter name has no NUL and never equals ".KEST".
        PeHead pe;
        pe.Section(0, ".KEST\0\0x", 0x400, 0x1400);
        std::memcpy(&pe.bytes[pe.Table()], ".KEST\0\0x", 8);
        EXPECT_TRUE(pe.Find(&s)); // ".KEST" then NUL: the text is ".KEST"
        std::memcpy(&pe.bytes[pe.Table()], ".KESTabc", 8);
        EXPECT_FALSE(pe.Find(&s));
    }
    {
        // The matching header must end within 1,536 bytes: NT headers at
        // 0x500 put the table at 0x5F8, and its first entry ends at 0x620.
        PeHead moved;
        moved.nt = 0x500;
        StoreLe32(&moved.bytes[0x3C], 0x500);
        StoreLe16(&moved.bytes[0x500 + 24], 0x10B);
        StoreLe32(&moved.bytes[0x500 + 0x74], 16);
        std::memcpy(&moved.bytes[0x5F8], ".KEST", 6);
        StoreLe16(&moved.bytes[0x500 + 6], 1);
        EXPECT_FALSE(moved.Find(&s));
    }
    {
        PeHead pe;
        pe.Section(0, ".text", 0x1000, 0x400);
        pe.Section(1, ".KEST", 512, 0x2200);
        unsigned end = pe.Table() + 80;
        EXPECT_TRUE(pe.Find(&s, end));
        EXPECT_FALSE(pe.Find(&s, end - 1)); // a short file cuts the table
        // Entries past the window do not count even when the buffer has them.
        std::vector<unsigned char> big(4096, 0);
        std::memcpy(big.data(), pe.bytes.data(), pe.bytes.size());
        StoreLe32(&big[pe.nt + 0x74], (LocatorWindowSize - pe.nt - 0x78) / 8);
        StoreLe16(&big[pe.nt + 6], 1);
        std::memcpy(&big[LocatorWindowSize], ".KEST", 6);
        EXPECT_FALSE(FindPayloadSection(big.data(), unsigned(big.size()), &s));
    }
    {
        PeHead pe;
        pe.Section(0, ".KEST", 512, 0x2200);
        StoreLe32(&pe.bytes[pe.nt + 0x74], 0x20000000); // the table would lie far away
        EXPECT_FALSE(pe.Find(&s));
        StoreLe32(&pe.bytes[pe.nt + 0x74], 16);
        StoreLe32(&pe.bytes[0x3C], 0xFFFFFFF0u); // NT headers beyond everything
        EXPECT_FALSE(pe.Find(&s));
        StoreLe32(&pe.bytes[0x3C], pe.nt);
        pe.bytes[1] = 'Y';
        EXPECT_FALSE(pe.Find(&s));
        pe.bytes[1] = 'Z';
        EXPECT_TRUE(pe.Find(&s));
        std::memset(&pe.bytes[pe.nt], 0, 4); // "PE" is not consulted
        EXPECT_TRUE(pe.Find(&s));
        StoreLe16(&pe.bytes[pe.nt + 6], 0);
        EXPECT_FALSE(pe.Find(&s));
    }
}

TEST(PayloadLayout, TextOffsetsAndItemOrder)
{
    unsigned char lengths[HeaderLengthCount] = {};
    lengths[LengthCmdLine] = 10;
    lengths[LengthAdminError] = 0;
    lengths[LengthExistError] = 20;
    lengths[LengthSpaceError] = 5;
    EXPECT_EQ(TextOffsetInRegion(lengths, LengthCRCError), 35u);
    EXPECT_EQ(TextOffsetInRegion(lengths, LengthSpaceError), 30u);
    EXPECT_EQ(TextOffsetInRegion(lengths, LengthAdminError), 10u);

    unsigned char head[HeadStringCount] = {9, 39, 6, 1};
    for (int i = 0; i < HeaderLengthCount; ++i)
        lengths[i] = (unsigned char)(i + 2);
    PayloadLayout l;
    LayoutPayloadHeader(head, lengths, &l);
    EXPECT_EQ(l.DelayReboot, 36u);
    EXPECT_EQ(l.HeadLengths, 37u);
    EXPECT_EQ(l.HeadStrings, 41u);
    EXPECT_EQ(l.LengthTable, 41u + 55);
    EXPECT_EQ(l.CaptionBlock, l.LengthTable + 19);
    EXPECT_EQ(l.Password, l.CaptionBlock + lengths[LengthCaptionBlock]);
    EXPECT_EQ(l.TextRegion, l.Password + lengths[LengthPassword]);
    EXPECT_EQ(l.ExternalPackagePath, l.TextRegion + 6 + 7 + 8 + 9 + 10 + 11 + 12);
    EXPECT_EQ(l.RuntimeUrl[RuntimeEntry9X], l.ExternalPackagePath + lengths[LengthExternalPackagePath]);
    EXPECT_EQ(l.DownloadSize[RuntimeEntry9X], l.RuntimeUrl[RuntimeEntry9X] + lengths[LengthRuntime9X]);
    EXPECT_EQ(l.RuntimeUrl[RuntimeEntryNT], l.DownloadSize[RuntimeEntry9X] + 4);
    EXPECT_EQ(l.RuntimeUrl[RuntimeEntryDotNet], l.DownloadSize[RuntimeEntryNT] + 4);
    // The .NET update URL uses B17 although it comes before B15 and B16.
    EXPECT_EQ(l.DownloadSize[RuntimeEntryDotNetUpdate],
              l.RuntimeUrl[RuntimeEntryDotNetUpdate] + lengths[LengthRuntimeDotNetUpdate]);
    EXPECT_EQ(l.LanguagePrompt, l.DownloadSize[RuntimeEntryDotNetUpdate] + 4);
    EXPECT_EQ(l.FirstLanguage, l.LanguagePrompt + lengths[LengthLanguagePrompt]);
    EXPECT_EQ(l.FurtherLanguages, l.FirstLanguage + lengths[LengthFirstLanguage]);
}

// A header with every item set to a recognisable value.
std::vector<unsigned char> SampleHeader(PayloadLayout *layout)
{
    unsigned char head[HeadStringCount] = {9, 7, 4, 1};
    unsigned char lengths[HeaderLengthCount] = {};
    lengths[LengthCharSet] = 238;
    lengths[LengthCharSize] = 0x8A;
    lengths[LengthCaptionBlock] = 12; // "Font\0Name\0X\0"
    lengths[LengthPassword] = 4;
    lengths[LengthCRCError] = 3;
    lengths[LengthExternalPackagePath] = 2;
    lengths[LengthRuntimeDotNet] = 6;
    lengths[LengthLanguagePrompt] = 3;
    LayoutPayloadHeader(head, lengths, layout);
    std::vector<unsigned char> h(layout->LanguagePrompt + 3, 0);
    StoreLe32(&h[4 * FixedStreamSizeNT], unsigned(-5000));
    StoreLe32(&h[4 * FixedTotalFileSize], 123456);
    StoreLe32(&h[4 * FixedRuntimeVersionMS], 0x00020000);
    StoreLe32(&h[4 * FixedRuntimeVersionLS], 0x00320007);
    StoreLe32(&h[4 * FixedStreamSize9X], 77);
    StoreLe32(&h[4 * FixedStreamSizeMSI], 9999);
    h[layout->DelayReboot] = 1;
    std::memcpy(&h[layout->HeadLengths], head, 4);
    std::memcpy(&h[layout->HeadStrings], "pack.msi\0{GUID}\0" "1.0\0", 21);
    std::memcpy(&h[layout->LengthTable], lengths, HeaderLengthCount);
    std::memcpy(&h[layout->CaptionBlock], "Font\0Name\0X\0", 12);
    std::memcpy(&h[layout->Password], "\x01\x02\x03\0", 4);
    std::memcpy(&h[layout->TextRegion], "bad", 3); // stored without its NUL
    std::memcpy(&h[layout->ExternalPackagePath], "E\0", 2);
    std::memcpy(&h[layout->RuntimeUrl[RuntimeEntryDotNet]], "http:\0", 6);
    StoreLe32(&h[layout->DownloadSize[RuntimeEntryDotNet]], 4242);
    StoreLe32(&h[layout->DownloadSize[RuntimeEntryDotNetUpdate]], 17);
    return h;
}

TEST(DecodePayloadHeader, FillsTheSettingsAndRemembersOffsets)
{
    PayloadLayout l;
    std::vector<unsigned char> h = SampleHeader(&l);
    InstallerSettingsRecord s = {};
    PayloadHeaderRecord r = {};
    int dotNet = 0;
    ASSERT_EQ(DecodePayloadHeader(h.data(), unsigned(h.size()), 1000, &s, &r, &dotNet),
              l.LanguagePrompt);
    EXPECT_EQ(s.StreamSizeNT, 5000);
    EXPECT_EQ(dotNet, 1);
    EXPECT_EQ(s.TotalFileSize, 123456u);
    EXPECT_EQ(s.RuntimeVersionMS, 0x00020000u);
    EXPECT_EQ(s.RuntimeVersionLS, 0x00320007u);
    EXPECT_EQ(s.StreamSize9X, 77);
    EXPECT_EQ(s.StreamSizeMSI, 9999u);
    EXPECT_EQ(s.DelayReboot, 1);
    EXPECT_STREQ(s.PackageFileName, "pack.msi");
    EXPECT_STREQ(s.ProductCode, "{GUID}");
    EXPECT_STREQ(s.ProductVersion, "1.0");
    EXPECT_STREQ(s.TransformMSI, "");
    EXPECT_EQ(s.CharSet, 238);
    EXPECT_EQ(s.CharSize, 0x8A);
    EXPECT_STREQ(s.CharFont, "Font");
    EXPECT_STREQ(s.ProductName, "Name");
    EXPECT_EQ(s.PasswordLength, 4);
    EXPECT_EQ(std::memcmp(s.StoredPassword, "\x01\x02\x03", 3), 0);
    EXPECT_EQ(s.RuntimeSizeDotNet, 6);
    EXPECT_EQ(s.RuntimeSize9X, 0);
    EXPECT_EQ(s.DownloadSizeDotNet, 4242u);
    EXPECT_EQ(s.DownloadSizeDotNetUpdate, 17u);
    EXPECT_EQ(s.RemovePrevious, 1);
    EXPECT_EQ(r.Lengths[LengthCRCError], 3);
    EXPECT_EQ(r.TextRegionOffset, long(1000 + l.TextRegion));
    EXPECT_EQ(r.ExternalPackagePathOffset, long(1000 + l.ExternalPackagePath));
    for (int e = 0; e < RuntimeEntryCount; ++e)
        EXPECT_EQ(r.RuntimeUrlOffset[e], long(1000 + l.RuntimeUrl[e]));
}

TEST(DecodePayloadHeader, RefusesEveryCutShortOfItem29)
{
    PayloadLayout l;
    std::vector<unsigned char> h = SampleHeader(&l);
    for (unsigned size = 0; size < l.LanguagePrompt; ++size) {
        // Exactly size bytes, so that ASan sees a read past them.
        std::vector<unsigned char> cut(h.begin(), h.begin() + size);
        InstallerSettingsRecord s = {};
        PayloadHeaderRecord r = {};
        int dotNet = 0;
        EXPECT_EQ(DecodePayloadHeader(cut.data(), size, 0, &s, &r, &dotNet), 0u) << size;
    }
}

TEST(DecodePayloadHeader, DotNetModeFromTheUrlsAlone)
{
    PayloadLayout l;
    std::vector<unsigned char> h = SampleHeader(&l);
    StoreLe32(&h[4 * FixedStreamSizeNT], 5000);
    InstallerSettingsRecord s = {};
    PayloadHeaderRecord r = {};
    int dotNet = 0;
    ASSERT_NE(DecodePayloadHeader(h.data(), unsigned(h.size()), 0, &s, &r, &dotNet), 0u);
    EXPECT_EQ(dotNet, 1); // B14 = 6
    EXPECT_EQ(s.StreamSizeNT, 5000);

    h[l.LengthTable + LengthRuntimeDotNet] = 1; // an empty URL is no URL
    // The layout moves by 5 bytes; only the decision matters here.
    dotNet = 0;
    std::vector<unsigned char> shorter(h);
    shorter.erase(shorter.begin() + l.RuntimeUrl[RuntimeEntryDotNet] + 1,
                  shorter.begin() + l.RuntimeUrl[RuntimeEntryDotNet] + 6);
    ASSERT_NE(DecodePayloadHeader(shorter.data(), unsigned(shorter.size()), 0, &s, &r, &dotNet), 0u);
    EXPECT_EQ(dotNet, 0);
    EXPECT_EQ(s.RuntimeSizeDotNet, 1);
}

} // namespace
