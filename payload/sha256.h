// SHA-256 (FIPS 180-4) over data fed in pieces, and the pin that names the
// SHA-256 a runtime installer must have: "#sha256=" and 64 hexadecimal
// digits after its URL or path. Pure: no Windows headers, so kestpack
// writes and reads the same pin.
#pragma once

enum { Sha256Size = 32, Sha256BlockSize = 64, Sha256TextSize = 2 * Sha256Size };

struct Sha256Context {
    unsigned Hash[8];
    // The block being filled, as the big-endian words SHA-256 reads: each
    // byte is shifted in as it comes, so no conversion is needed.
    unsigned Block[Sha256BlockSize / 4];
    // Bytes fed so far, in two words: a 64-bit count would cost the 32-bit
    // program's code its carries and its alignment twice over.
    unsigned Length, LengthHigh;
};

// Starts a digest.
void Sha256Start(Sha256Context *context);

// Feeds size bytes of data; feeding in pieces gives the digest of feeding
// at once.
void Sha256Add(Sha256Context *context, const unsigned char *data, unsigned size);

// Ends the digest: Hash then holds it as eight words, most significant
// first. Nothing more may be fed.
void Sha256Finish(Sha256Context *context);

// The digest in eight words as the 32 bytes SHA-256 writes: big-endian.
inline void Sha256Bytes(const unsigned *words, unsigned char *out)
{
    for (int i = 0; i < Sha256Size; ++i)
        out[i] = (unsigned char)(words[i >> 2] >> (24 - 8 * (i & 3)));
}

enum DigestPin {
    PinAbsent,   // no "#sha256=": the installer runs unchecked, as ever
    PinGiven,    // digest holds the pin, and source no longer does
    PinMalformed // "#sha256=" without exactly 64 hexadecimal digits after it
};

// Looks for the pin at the last '#' of source: "sha256=" (in any case)
// and 64 hexadecimal digits (in any case) up to the end. With a pin, cuts
// source at the '#' and writes the digest as eight words, as
// Sha256Finish leaves it. A '#' that does not begin "#sha256=" is no pin
// and stays: Windows allows it in a file name.
DigestPin TakeDigestPin(char *source, unsigned *digest);
