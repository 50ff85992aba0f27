#include "payload/keystream.h"

int KeystreamState;

namespace {

enum {
    Modulus = 2147483647, // 2^31 - 1
    Multiplier = 48271,
    Quotient = 44488,     // Modulus / Multiplier
    Remainder = 3399,     // Modulus % Multiplier
    Seed = 4718062
};

} // namespace

void KeystreamSeed(void)
{
    KeystreamState = Seed;
}

int KeystreamNext(void)
{
    int hi = KeystreamState / Quotient;
    int lo = KeystreamState % Quotient;
    int t = Multiplier * lo - Remainder * hi;
    if (t < 0)
        t += Modulus;
    KeystreamState = t;
    return t;
}

void KeystreamXor(unsigned char *buffer, int count)
{
    int i = 0;
    if (count > 3) {
        for (; i + 4 <= count; i += 4) {
            unsigned v = unsigned(KeystreamNext());
            buffer[i] ^= (unsigned char)v;
            buffer[i + 1] ^= (unsigned char)(v >> 8);
            buffer[i + 2] ^= (unsigned char)(v >> 16);
            buffer[i + 3] ^= (unsigned char)(v >> 24);
        }
    }
    for (; i < count; ++i)
        buffer[i] ^= (unsigned char)(KeystreamNext() % 255 + 1);
}

void ScramblePassword(unsigned char *text, int length)
{
    KeystreamSeed();
    for (int i = 0; i < length; ++i)
        if (text[i] >= 'a' && text[i] <= 'z')
            text[i] = (unsigned char)(text[i] - 0x20);
    KeystreamXor(text, length);
}
