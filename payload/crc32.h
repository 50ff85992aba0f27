// The CRC-32 of IEEE 802.3 in its reflected, table-driven form: the check
// value that follows every stream of the payload. Pure: the tables live in
// memory the caller provides, so the stub can keep them in its own block.
#pragma once

enum {
    CrcSlices = 8,                  // bytes folded per step
    CrcTableEntries = 256 * CrcSlices, // words of the tables, one per slice
    CrcRegisterReset = 0xFFFFFFFFu  // the register before the first byte
};

// Fills table (CrcTableEntries words) for the polynomial 0xEDB88320: the
// byte table first, then one table per further byte of a slice.
void FillCrcTable(unsigned *table);

// Folds count bytes of data into the register crc and returns the new
// register, eight bytes a step where it can. The CRC of everything folded
// since a reset is its complement; folding in pieces gives the same
// register as folding at once.
unsigned FoldCrc(unsigned crc, const unsigned *table, const unsigned char *data, unsigned count);

// FoldCrc, 64 bytes a step by carry-less multiplication where
// VectorPathUsable says so; the same register for the same bytes. Only
// ever called where VectorPathUsable gave nonzero.
unsigned FoldCrcWide(unsigned crc, const unsigned *table, const unsigned char *data,
                     unsigned count);

typedef unsigned (*CrcFoldFn)(unsigned crc, const unsigned *table, const unsigned char *data,
                              unsigned count);

// FoldCrcWide where VectorPathUsable says so, FoldCrc elsewhere.
CrcFoldFn FastestCrcFold(void);
