#include "payload/vector.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>

int VectorPathUsable(void)
{
#if defined(__i386__)
    // A 386 or an early 486 has no CPUID at all: it cannot flip the ID
    // flag (bit 21 of the flags).
    unsigned before, after;
    __asm__("pushfl\n\tpopl %0\n\tmovl %0, %1\n\txorl $0x200000, %1\n\tpushl %1\n\tpopfl\n\t"
            "pushfl\n\tpopl %1\n\tpushl %0\n\tpopfl"
            : "=&r"(before), "=&r"(after));
    if (!((before ^ after) & 0x200000))
        return 0;
#endif
    unsigned a, b, c, d;
    __cpuid(1, a, b, c, d);
    // Windows 95 or NT 4 on a modern processor never saves the 128-bit
    // registers of a task it switches away from. No instruction tells
    // whether a system saves them, but one that has switched on extended
    // state saving (the OSXSAVE bit) does; older systems take the other
    // path. Every processor with carry-less multiplication has SSE2.
    //
    // Carry-less multiplication is bit 1 of ECX, OSXSAVE bit 27: bit 1 of
    // the result holds both.
    return int(c & c >> 26 & 2);
}

#else

int VectorPathUsable(void)
{
    return 0;
}

#endif
