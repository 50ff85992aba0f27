#include "payload/keystream.h"
#include "payload/vector.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#endif

int KeystreamState;

namespace {

enum {
    Modulus = 2147483647, // 2^31 - 1
    Multiplier = 48271,
    Multiplier16 = 1098894339, // 48271^16 mod 2^31 - 1: sixteen states on
    Seed = 4718062
};

} // namespace

void KeystreamSeed(void)
{
    KeystreamState = Seed;
}

namespace {

// The state after state: 48271 * state mod 2^31 - 1 without a division. As
// 2^31 is 1 modulo 2^31 - 1, the product's bits above 31 add to its low 31
// bits; the product stays below 2^47 and the sum below 2^32, so one
// subtraction completes the remainder, the same one Schrage's method gives.
inline unsigned NextState(unsigned state)
{
    unsigned long long product = (unsigned long long)state * Multiplier;
    unsigned t = unsigned(product & Modulus) + unsigned(product >> 31);
    return t >= unsigned(Modulus) ? t - unsigned(Modulus) : t;
}

} // namespace

int KeystreamNext(void)
{
    KeystreamState = int(NextState(unsigned(KeystreamState)));
    return KeystreamState;
}

int KeystreamJump(int state, unsigned long long steps)
{
    // Multiplier^steps by squaring; every product stays below 2^62.
    unsigned long long factor = 1, power = Multiplier;
    for (; steps; steps >>= 1) {
        if (steps & 1)
            factor = factor * power % Modulus;
        power = power * power % Modulus;
    }
    return int((unsigned long long)unsigned(state) * factor % Modulus);
}

void KeystreamXor(unsigned char *buffer, int count)
{
    // The state stays in a register for the whole buffer.
    unsigned state = unsigned(KeystreamState);
    int i = 0;
    if (count > 3) {
        for (; i + 4 <= count; i += 4) {
            state = NextState(state);
            // One little-endian word at a time, as the payload stores it;
            // every machine this program runs on is little-endian.
            unsigned word;
            __builtin_memcpy(&word, buffer + i, 4);
            word ^= state;
            __builtin_memcpy(buffer + i, &word, 4);
        }
    }
    for (; i < count; ++i) {
        state = NextState(state);
        buffer[i] ^= (unsigned char)(state % 255 + 1);
    }
    KeystreamState = int(state);
}

#if defined(__i386__) || defined(__x86_64__)

namespace {

// Four lanes of states, each advanced sixteen states at once: the same
// product and reduction as NextState, on the 128-bit registers.
__attribute__((target("sse2"), always_inline)) inline __m128i AdvanceLanes(__m128i lanes)
{
    const __m128i step = _mm_set1_epi32(Multiplier16);
    // Two products of 62 bits, lanes 0 and 2, then lanes 1 and 3: the low
    // 31 bits plus the bits above them, each below 2^32.
    __m128i even = _mm_mul_epu32(lanes, step);
    __m128i odd = _mm_mul_epu32(_mm_srli_epi64(lanes, 32), step);
    even = _mm_add_epi64(_mm_srli_epi64(_mm_slli_epi64(even, 33), 33), _mm_srli_epi64(even, 31));
    odd = _mm_add_epi64(_mm_srli_epi64(_mm_slli_epi64(odd, 33), 33), _mm_srli_epi64(odd, 31));
    __m128i sum = _mm_or_si128(even, _mm_slli_epi64(odd, 32));
    // sum - modulus wraps to 2^31 or more exactly when sum is below the
    // modulus: its sign picks sum itself there, the difference elsewhere.
    __m128i less = _mm_sub_epi32(sum, _mm_set1_epi32(Modulus));
    __m128i keep = _mm_srai_epi32(less, 31);
    return _mm_xor_si128(less, _mm_and_si128(_mm_xor_si128(sum, less), keep));
}

} // namespace

__attribute__((target("sse2"))) void KeystreamXorWide(unsigned char *buffer, int count)
{
    if (count >= 64) {
        // Sixteen lanes, one for each word of a 64-byte step, in four
        // registers whose products do not wait for each other.
        unsigned first[16];
        unsigned state = unsigned(KeystreamState);
        for (int k = 0; k < 16; ++k)
            first[k] = state = NextState(state);
        const __m128i *start = reinterpret_cast<const __m128i *>(first);
        __m128i lane0 = _mm_loadu_si128(start), lane1 = _mm_loadu_si128(start + 1);
        __m128i lane2 = _mm_loadu_si128(start + 2), lane3 = _mm_loadu_si128(start + 3);
        const unsigned char *end = buffer + (count & ~63);
        count &= 63;
        for (;;) {
            __m128i *words = reinterpret_cast<__m128i *>(buffer);
            _mm_storeu_si128(words, _mm_xor_si128(_mm_loadu_si128(words), lane0));
            _mm_storeu_si128(words + 1, _mm_xor_si128(_mm_loadu_si128(words + 1), lane1));
            _mm_storeu_si128(words + 2, _mm_xor_si128(_mm_loadu_si128(words + 2), lane2));
            _mm_storeu_si128(words + 3, _mm_xor_si128(_mm_loadu_si128(words + 3), lane3));
            if ((buffer += 64) == end)
                break;
            lane0 = AdvanceLanes(lane0);
            lane1 = AdvanceLanes(lane1);
            lane2 = AdvanceLanes(lane2);
            lane3 = AdvanceLanes(lane3);
        }
        // The last lane holds the state of the last word scrambled.
        KeystreamState = _mm_cvtsi128_si32(_mm_shuffle_epi32(lane3, 3));
    }
    KeystreamXor(buffer, count);
}

#else

void KeystreamXorWide(unsigned char *buffer, int count)
{
    KeystreamXor(buffer, count);
}

#endif

KeystreamXorFn FastestKeystreamXor(void)
{
    return VectorPathUsable() ? KeystreamXorWide : KeystreamXor;
}

void ScramblePassword(unsigned char *text, int length)
{
    KeystreamSeed();
    for (int i = 0; i < length; ++i)
        if (text[i] >= 'a' && text[i] <= 'z')
            text[i] = (unsigned char)(text[i] - 0x20);
    KeystreamXor(text, length);
}
