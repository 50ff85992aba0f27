// The stub's stream copy and CRC export against real files under Wine.
// Usage: stream_test DIR (a scratch folder). Ends with the summary line
// "streams: N passed, N failed".
#include "payload/crc32.h"
#include "common/flags.h"
#include "payload/keystream.h"
#include "payload/stream.h"
#include "driver/cmdline.h"
#include "common/state.h"
#include "ui/ui.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

#include "tests/win/check.h"

static char Dir[MAX_PATH];

static void PathOf(char *out, const char *name)
{
    snprintf(out, MAX_PATH, "%s\\%s", Dir, name);
}

static void WriteFileBytes(const char *name, const std::vector<unsigned char> &data)
{
    char path[MAX_PATH];
    PathOf(path, name);
    FILE *f = fopen(path, "wb");
    if (!data.empty())
        fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

static std::vector<unsigned char> ReadFileBytes(const char *name)
{
    char path[MAX_PATH];
    PathOf(path, name);
    std::vector<unsigned char> data;
    FILE *f = fopen(path, "rb");
    if (!f)
        return data;
    int c;
    while ((c = fgetc(f)) != EOF)
        data.push_back((unsigned char)c);
    fclose(f);
    return data;
}

static unsigned Crc(const std::vector<unsigned char> &data)
{
    unsigned table[CrcTableEntries];
    FillCrcTable(table);
    return ~FoldCrc(CrcRegisterReset, table, data.data(), unsigned(data.size()));
}

// A stream as a builder writes it: data, scrambled or not, then the CRC of
// the plain data.
static std::vector<unsigned char> Stream(const std::vector<unsigned char> &plain, bool scramble,
                                         unsigned trailer)
{
    std::vector<unsigned char> s = plain;
    if (scramble && !s.empty()) {
        KeystreamSeed();
        KeystreamXor(s.data(), int(s.size()));
    }
    for (int i = 0; i < 4; ++i)
        s.push_back((unsigned char)(trailer >> (8 * i)));
    return s;
}

// Copies the stream file `name` into "out.bin" and returns CopyStream's result.
static int Copy(const char *name, int size, int descramble)
{
    char in[MAX_PATH], out[MAX_PATH];
    PathOf(in, name);
    PathOf(out, "out.bin");
    OwnFile = _lopen(in, OF_READ);
    HFILE output = _lcreat(out, 0);
    int r = CopyStream(output, size, descramble);
    _lclose(output);
    _lclose(OwnFile);
    return r;
}

static void TestUpdateCrc(void)
{
    const BYTE *digits = (const BYTE *)"123456789";
    CHECK(UpdateCRC(0, 77) == 0);
    CHECK(UpdateCRC(digits, 9) == 0xCBF43926);
    CHECK(UpdateCRC(digits, 0) == 0xCBF43926); // length 0 changes nothing
    UpdateCRC(0, 0);
    UpdateCRC(digits, 2);
    UpdateCRC(digits + 2, 5);
    CHECK(UpdateCRC(digits + 7, 2) == 0xCBF43926);
    // Without the start-up's table, as in a module that loads the program.
    FreeCrcTable();
    UpdateCRC(0, 0);
    CHECK(UpdateCRC(digits, 9) == 0xCBF43926);
}

static void TestEmptyAndShortStreams(void)
{
    WriteFileBytes("empty-ok.bin", Stream({}, false, 0));
    CrcFailed = 0;
    CHECK(Copy("empty-ok.bin", 4, 0) == CopyDone && !CrcFailed);
    CHECK(ReadFileBytes("out.bin").empty());

    WriteFileBytes("empty-bad.bin", Stream({}, false, 1));
    CHECK(Copy("empty-bad.bin", 4, 0) == CopyCorrupt && CrcFailed);

    // No room for a trailer: refused as corrupt without reading.
    CrcFailed = 0;
    CHECK(Copy("empty-ok.bin", 3, 0) == CopyCorrupt && CrcFailed);
    CrcFailed = 0;
    CHECK(Copy("empty-ok.bin", -5, 0) == CopyCorrupt && CrcFailed);
}

static void TestScrambledChunks(void)
{
    std::vector<unsigned char> plain(65536 * 2 + 3);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = (unsigned char)(i * 7 + (i >> 9));
    std::vector<unsigned char> s = Stream(plain, true, Crc(plain));
    WriteFileBytes("scrambled.bin", s);

    KeystreamSeed();
    CrcFailed = 0;
    CHECK(Copy("scrambled.bin", int(s.size()), 1) == CopyDone && !CrcFailed);
    CHECK(ReadFileBytes("out.bin") == plain);
    // 32,768 word values, then 3 byte values.
    int after = KeystreamState;
    KeystreamSeed();
    for (int i = 0; i < 32768 + 3; ++i)
        KeystreamNext();
    CHECK(after == KeystreamState);

    // The same stream read without descrambling fails its check.
    CHECK(Copy("scrambled.bin", int(s.size()), 0) == CopyCorrupt && CrcFailed);
}

static void TestCorruptAndTruncated(void)
{
    std::vector<unsigned char> plain(70000, 0x5A);
    std::vector<unsigned char> s = Stream(plain, false, Crc(plain));
    WriteFileBytes("plain.bin", s);
    CrcFailed = 0;
    CHECK(Copy("plain.bin", int(s.size()), 0) == CopyDone && !CrcFailed);
    CHECK(ReadFileBytes("out.bin") == plain);

    std::vector<unsigned char> flipped = s;
    flipped[66000] ^= 1;
    WriteFileBytes("flipped.bin", flipped);
    CHECK(Copy("flipped.bin", int(s.size()), 0) == CopyCorrupt && CrcFailed);

    std::vector<unsigned char> cut(s.begin(), s.begin() + 50000);
    WriteFileBytes("cut.bin", cut);
    CrcFailed = 0;
    CHECK(Copy("cut.bin", int(s.size()), 0) == CopyCorrupt && CrcFailed);
}

// Times one CopyStream of a packed installer's stream, the way the stub
// extracts it: "bench EXE OFFSET SIZE OUT PASSWORD" ("-": not scrambled).
static int Bench(char **argv)
{
    static unsigned char buffer[IoBufferSize];
    IoBuffer = buffer;
    QuietMode = 1;
    BuildCrcTable();
    int scrambled = strcmp(argv[6], "-") != 0;
    if (scrambled) {
        static char password[256];
        snprintf(password, sizeof password, "%s", argv[6]);
        ScramblePassword((unsigned char *)password, int(strlen(password)));
    }
    OwnFile = _lopen(argv[2], OF_READ);
    _llseek(OwnFile, atol(argv[3]), FILE_BEGIN);
    HFILE output = _lcreat(argv[5], 0);
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int r = CopyStream(output, atoi(argv[4]), scrambled);
    QueryPerformanceCounter(&end);
    _lclose(output);
    _lclose(OwnFile);
    printf("result=%d microseconds=%lld\n", r,
           (long long)((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart));
    return r;
}

int main(int argc, char **argv)
{
    if (argc == 7 && !strcmp(argv[1], "bench"))
        return Bench(argv);
    if (argc != 2) {
        fprintf(stderr, "usage: stream_test DIR\n");
        return 2;
    }
    snprintf(Dir, sizeof Dir, "%s", argv[1]);
    static unsigned char buffer[IoBufferSize];
    IoBuffer = buffer;
    QuietMode = 1; // no progress window here
    TestUpdateCrc();
    BuildCrcTable();
    TestEmptyAndShortStreams();
    TestScrambledChunks();
    TestCorruptAndTruncated();
    printf("streams: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
