#include "payload/keystream.h"

int KeystreamState;

namespace {

enum {
    Modulus = 2147483647, // 2^31 - 1
    Multiplier = 48271,
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

void ScramblePassword(unsigned char *text, int length)
{
    KeystreamSeed();
    for (int i = 0; i < length; ++i)
        if (text[i] >= 'a' && text[i] <= 'z')
            text[i] = (unsigned char)(text[i] - 0x20);
    KeystreamXor(text, length);
}
