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

int KeystreamNext(void)
{
    // 48271 * state mod 2^31 - 1 without a division: as 2^31 is 1 modulo
    // 2^31 - 1, the product's bits above 31 add to its low 31 bits. The
    // product stays below 2^47 and the sum below 2^32, so one subtraction
    // completes the remainder, the same one Schrage's method gives.
    unsigned long long product = (unsigned long long)unsigned(KeystreamState) * Multiplier;
    unsigned t = unsigned(product & Modulus) + unsigned(product >> 31);
    if (t >= unsigned(Modulus))
        t -= unsigned(Modulus);
    KeystreamState = int(t);
    return KeystreamState;
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
