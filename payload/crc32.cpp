#include "payload/crc32.h"

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

// Folds 16 bytes a step with carry-less multiplication: the 128 bits
// carried so far, multiplied by x^160 and x^96 modulo the polynomial (the
// distance of one step, in the reflected bit order), come out congruent
// to themselves 16 bytes further on, where the next block is added. What
// is left is a 16-byte message whose CRC from a zero register is that of
// everything folded, and the tables finish it. Compiled for SSE2 and
// carry-less multiplication only here, so that nothing else of the
// program needs them; callers ask VectorPathUsable first.
__attribute__((target("sse2,pclmul"))) unsigned FoldCrcWide(unsigned crc, const unsigned *table,
                                                           const unsigned char *data,
                                                           unsigned count)
{
    if (count >= 32) {
        const __m128i distance = _mm_set_epi64x(0xCCAA009E, 0x1751997D0);
        const unsigned char *end = data + (count & ~15u);
        count &= 15;
        __m128i carried = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data)),
                                        _mm_cvtsi32_si128(int(crc)));
        while ((data += 16) != end)
            carried = _mm_xor_si128(
                _mm_xor_si128(_mm_clmulepi64_si128(carried, distance, 0x00),
                              _mm_clmulepi64_si128(carried, distance, 0x11)),
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(data)));
        unsigned char rest[16];
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rest), carried);
        crc = FoldCrc(0, table, rest, 16);
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
