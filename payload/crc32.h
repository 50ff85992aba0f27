// The CRC-32 of IEEE 802.3 in its reflected, table-driven form: the check
// value that follows every stream of the payload. Pure: the table lives in
// memory the caller provides, so the stub can keep it in its own block.
#pragma once

enum {
    CrcTableEntries = 256,
    CrcRegisterReset = 0xFFFFFFFFu // the register before the first byte
};

// Fills table (CrcTableEntries words) for the polynomial 0xEDB88320.
void FillCrcTable(unsigned *table);

// Folds count bytes of data into the register crc and returns the new
// register. The CRC of everything folded since a reset is its complement;
// folding in pieces gives the same register as folding at once.
unsigned FoldCrc(unsigned crc, const unsigned *table, const unsigned char *data, unsigned count);
