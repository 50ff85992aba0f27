// The keystream that scrambles the password and the package and transform
// streams of a protected payload: the minimal standard generator of Park
// and Miller with multiplier 48271. Pure.
//
// One sequence runs through a protected installation: seeded for the
// password, continued by the package stream, and each transform stream
// continues from where the package stream left it (only one transform is
// ever extracted). Runtime streams are never scrambled.
#pragma once

// The generator's state, 1 ... 2,147,483,646 once seeded.
extern int KeystreamState;

// Sets the state to the fixed seed 4718062.
void KeystreamSeed(void);

// Advances the state and returns it: 48271 * state mod (2^31 - 1).
int KeystreamNext(void);

// XORs count bytes in place: count / 4 little-endian words with one value
// each, then each remaining byte with (value mod 255) + 1; a buffer of 3
// bytes or less is done byte by byte. Applied chunk by chunk, it matches one
// pass over the whole stream as long as every chunk but the last holds a
// multiple of 4 bytes.
void KeystreamXor(unsigned char *buffer, int count);

// KeystreamXor, sixteen words at once on the 128-bit registers: the same
// bytes and the same state after. Only ever called where
// VectorPathUsable gave nonzero.
void KeystreamXorWide(unsigned char *buffer, int count);

typedef void (*KeystreamXorFn)(unsigned char *buffer, int count);

// KeystreamXorWide where VectorPathUsable says so, KeystreamXor elsewhere.
KeystreamXorFn FastestKeystreamXor(void);

// The state steps states after state, as steps calls of KeystreamNext would
// leave it, in a number of multiplications that grows with the number of
// the steps' bits: kestpack descrambles a protected stream anywhere in it.
int KeystreamJump(int state, unsigned long long steps);

// Seeds the keystream and scrambles a typed password of length bytes, its
// NUL not included: 'a'-'z' are upper-cased in place first, every other
// byte stays. The keystream is left where the package stream continues.
void ScramblePassword(unsigned char *text, int length);
