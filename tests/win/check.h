// The checks of the Windows test programs: each failed one prints where it
// stands; the program ends with a summary line of the counts.
#pragma once
#include <stdio.h>

static int passed, failed;

#define CHECK(cond)                                                              \
    do {                                                                         \
        if (cond)                                                                \
            ++passed;                                                            \
        else {                                                                   \
            ++failed;                                                            \
            printf("FAILED %s:%d: %s\n", __FILE__, __LINE__, #cond);             \
        }                                                                        \
    } while (0)
