#include "common/utf8.h"

unsigned Utf8FromUtf16(const Utf16Unit *in, char *out, unsigned capacity)
{
    static const unsigned char lead[] = {0, 0xC0, 0xE0, 0xF0};
    unsigned n = 0;
    for (;; ++in) {
        unsigned code = *in;
        if (code - 0xD800 < 0x400 && in[1] - 0xDC00u < 0x400)
            code = 0x10000 + ((code - 0xD800) << 10) + (*++in - 0xDC00);
        // The bytes this code takes after its first; every code but the
        // final NUL leaves room for that NUL.
        int more = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        if (n + more + (code != 0) >= capacity) {
            if (capacity)
                out[0] = 0;
            return 0;
        }
        out[n++] = char(lead[more] | (code >> (6 * more)));
        for (int k = more - 1; k >= 0; --k)
            out[n++] = char(0x80 | ((code >> (6 * k)) & 0x3F));
        if (!code)
            return n - 1;
    }
}

unsigned Utf16FromUtf8(const char *in, Utf16Unit *out, unsigned capacity)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(in);
    unsigned n = 0;
    for (;;) {
        unsigned code = *p++;
        int more = code >= 0xF8 ? 0 : code >= 0xF0 ? 3 : code >= 0xE0 ? 2 : code >= 0xC0 ? 1 : 0;
        unsigned value = more ? code & (0x3F >> more) : code;
        int k = 0;
        for (; k < more && (p[k] & 0xC0) == 0x80; ++k)
            value = (value << 6) | (p[k] & 0x3F);
        if (k == more && value < 0x110000) {
            code = value;
            p += more;
        }
        int units = code >= 0x10000 ? 2 : 1;
        if (n + units + (code != 0) > capacity) {
            if (capacity)
                out[0] = 0;
            return 0;
        }
        if (units == 2) {
            out[n++] = Utf16Unit(0xD800 + ((code - 0x10000) >> 10));
            code = 0xDC00 + (code & 0x3FF);
        }
        out[n++] = Utf16Unit(code);
        if (!code)
            return n - 1;
    }
}
