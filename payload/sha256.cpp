#include "payload/sha256.h"
#include "common/text.h"

static_assert(sizeof(unsigned) == 4, "SHA-256 works on 32-bit words");

namespace {

// The first 32 bits of the fractional parts of the square roots of the
// first 8 primes (the initial hash), then of the cube roots of the first
// 64 primes (one per round): one table, so that the program holds one.
const unsigned Sha256Constants[8 + 64] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab,
    0x5be0cd19,
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};
const unsigned *const RoundConstants = Sha256Constants + 8;

unsigned Rotate(unsigned x, int n)
{
    return x >> n | x << (32 - n);
}

// One block into the hash. Its words become the message schedule in
// place, as a ring of 16: one loop expands the schedule and runs the
// rounds.
void Compress(Sha256Context *c)
{
    unsigned *w = c->Block, v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = c->Hash[i];
    for (int i = 0; i < 64; ++i) {
        unsigned &word = w[i & 15];
        if (i >= 16) {
            unsigned early = w[(i + 1) & 15], late = w[(i + 14) & 15];
            word += (Rotate(early, 7) ^ Rotate(early, 18) ^ early >> 3) + w[(i + 9) & 15] +
                    (Rotate(late, 17) ^ Rotate(late, 19) ^ late >> 10);
        }
        unsigned a = v[0], e = v[4];
        unsigned t1 = v[7] + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) +
                      ((e & v[5]) ^ (~e & v[6])) + RoundConstants[i] + word;
        unsigned t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) +
                      ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
        for (int j = 7; j > 0; --j)
            v[j] = v[j - 1];
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
        c->Hash[i] += v[i];
}

} // namespace

void Sha256Start(Sha256Context *context)
{
    // Copied rather than written word by word, which costs more code.
    __builtin_memcpy(context->Hash, Sha256Constants, sizeof context->Hash);
    context->Length = context->LengthHigh = 0;
}

void Sha256Add(Sha256Context *context, const unsigned char *data, unsigned size)
{
    while (size--) {
        unsigned &word = context->Block[(context->Length >> 2) & 15];
        word = word << 8 | *data++;
        if (!++context->Length)
            ++context->LengthHigh;
        if ((context->Length & (Sha256BlockSize - 1)) == 0)
            Compress(context);
    }
}

void Sha256Finish(Sha256Context *context)
{
    unsigned high = context->LengthHigh << 3 | context->Length >> 29, low = context->Length << 3;
    unsigned char byte = 0x80;
    do {
        Sha256Add(context, &byte, 1);
        byte = 0;
    } while ((context->Length & (Sha256BlockSize - 1)) != Sha256BlockSize - 8);
    context->Block[14] = high;
    context->Block[15] = low;
    Compress(context);
}

DigestPin TakeDigestPin(char *source, unsigned *digest)
{
    char *mark = 0;
    for (char *p = source; *p; ++p)
        if (*p == '#')
            mark = p;
    if (!mark || !TextStartsWithNoCase(mark + 1, "sha256="))
        return PinAbsent;
    const char *hex = mark + 8;
    for (int i = 0; i < Sha256TextSize; ++i) {
        // Either case: '0'-'9' stay what they are, 'A'-'F' become 'a'-'f'.
        unsigned char c = (unsigned char)(hex[i] | 0x20);
        unsigned digit = unsigned(c - '0');
        if (digit > 9) {
            digit = unsigned(c - 'a') + 10;
            if (digit < 10 || digit > 15)
                return PinMalformed;
        }
        digest[i >> 3] = digest[i >> 3] << 4 | digit;
    }
    if (hex[Sha256TextSize])
        return PinMalformed;
    *mark = 0;
    return PinGiven;
}
