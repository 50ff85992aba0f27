#include "payload/crc32.h"

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
