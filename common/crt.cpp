// The stub links no C runtime, yet the compiler emits calls to these for
// structure copies and zeroing. Built with -fno-tree-loop-distribute-patterns
// so the loops below are not turned back into calls to themselves.
#include <stddef.h>

extern "C" {

void *memset(void *dst, int value, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(dst);
    while (count--)
        *d++ = (unsigned char)value;
    return dst;
}

void *memcpy(void *dst, const void *src, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(dst);
    const unsigned char *s = static_cast<const unsigned char *>(src);
    while (count--)
        *d++ = *s++;
    return dst;
}

} // extern "C"
