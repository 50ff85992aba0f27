#include "ui/message_format.h"

void FormatMessageText(char *out, unsigned capacity, const char *format,
                       const char *const *arguments, unsigned count)
{
    if (capacity == 0)
        return;
    unsigned n = 0, used = 0;
    for (const char *p = format; *p && n < capacity - 1; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            const char *a = used < count ? arguments[used] : "";
            ++used;
            while (*a && n < capacity - 1)
                out[n++] = *a++;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out[n++] = '%';
            ++p;
        } else {
            out[n++] = *p;
        }
    }
    out[n] = 0;
}
