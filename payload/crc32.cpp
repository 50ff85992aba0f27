#include "payload/crc32.h"

void FillCrcTable(unsigned *table)
{
    for (unsigned i = 0; i < CrcTableEntries; ++i) {
        unsigned v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        table[i] = v;
    }
}

unsigned FoldCrc(unsigned crc, const unsigned *table, const unsigned char *data, unsigned count)
{
    while (count--)
        crc = (crc >> 8) ^ table[(crc ^ *data++) & 0xFF];
    return crc;
}
