#include "payload/crc32.h"
#include "payload/vector.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

void FillCrcTable(unsigned *table)
{
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        table[i] = v;
    }
    // Entry i of slice k is the register after byte i and k zero bytes:
    // eight table look-ups then fold eight bytes at once.
    for (unsigned i = 256; i < CrcTableEntries; ++i)
        table[i] = (table[i - 256] >> 8) ^ table[table[i - 256] & 0xFF];
}

unsigned FoldCrc(unsigned crc, const unsigned *table, const unsigned char *data, unsigned count)
{
    for (; count >= CrcSlices; count -= CrcSlices, data += CrcSlices) {
        // Assembled from bytes: the same on any byte order and alignment,
        // and one load each where the machine allows it.
        unsigned low = crc ^ (unsigned(data[0]) | unsigned(data[1]) << 8 |
                              unsigned(data[2]) << 16 | unsigned(data[3]) << 24);
        unsigned high = unsigned(data[4]) | unsigned(data[5]) << 8 | unsigned(data[6]) << 16 |
                        unsigned(data[7]) << 24;
        crc = table[7 * 256 + (low & 0xFF)] ^ table[6 * 256 + ((low >> 8) & 0xFF)] ^
              table[5 * 256 + ((low >> 16) & 0xFF)] ^ table[4 * 256 + (low >> 24)] ^
              table[3 * 256 + (high & 0xFF)] ^ table[2 * 256 + ((high >> 8) & 0xFF)] ^
              table[1 * 256 + ((high >> 16) & 0xFF)] ^ table[high >> 24];
    }
    while (count--)
        crc = (crc >> 8) ^ table[(crc ^ *data++) & 0xFF];
    return crc;
}

#if defined(__i386__) || defined(__x86_64__)

namespace {

// One fold: the 128 bits carried, multiplied by the two constants of a
// distance d (x^(d+32) and x^(d-32) modulo the polynomial, in the
// reflected bit order), come out congruent to themselves d bits further on.
__attribute__((target("sse2,pclmul"))) inline __m128i Fold(__m128i carried, __m128i distance)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(carried, distance, 0x00),
                         _mm_clmulepi64_si128(carried, distance, 0x11));
}

__attribute__((target("sse2"))) inline __m128i Load(const unsigned char *data)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(data));
}

} // namespace

// Folds with carry-less multiplication, four 16-byte lanes 64 bytes a
// step, as the multiplications of one lane wait for each other. The lanes
// then stand for the 64 bytes at that point: their CRC from a zero
// register, continued over the rest, is that of everything folded, and the
// tables finish it. Compiled for SSE2 and carry-less multiplication only
// here, so that nothing else of the program needs them; callers ask
// VectorPathUsable first.
__attribute__((target("sse2,pclmul"))) unsigned FoldCrcWide(unsigned crc, const unsigned *table,
                                                           const unsigned char *data,
                                                           unsigned count)
{
    if (count >= 128) {
        // x^544 and x^480 modulo the polynomial, reflected: 512 bits on.
        const __m128i distance = _mm_set_epi64x(0x1C6E41596, 0x154442BD4);
        const unsigned char *steps = data + (count & ~63u);
        count &= 63;
        __m128i lanes[4];
        for (int k = 0; k < 4; ++k, data += 16)
            lanes[k] = Load(data);
        lanes[0] = _mm_xor_si128(lanes[0], _mm_cvtsi32_si128(int(crc)));
        while (data != steps)
            for (int k = 0; k < 4; ++k, data += 16)
                lanes[k] = _mm_xor_si128(Fold(lanes[k], distance), Load(data));
        crc = FoldCrc(0, table, reinterpret_cast<const unsigned char *>(lanes), sizeof lanes);
    }
    return FoldCrc(crc, table, data, count);
}

#else

unsigned FoldCrcWide(unsigned crc, const unsigned *table, const unsigned char *data,
                     unsigned count)
{
    return FoldCrc(crc, table, data, count);
}

#endif

CrcFoldFn FastestCrcFold(void)
{
    return VectorPathUsable() ? FoldCrcWide : FoldCrc;
}
