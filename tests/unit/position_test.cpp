#include "ui/position.h"
#include <gtest/gtest.h>
#include <stdint.h>

namespace {

unsigned Reference(unsigned done, unsigned total)
{
    return unsigned(uint64_t(done) * 10 / (total / 10));
}

TEST(ProgressPosition, KnownPoints)
{
    EXPECT_EQ(ProgressPosition(250000, 1000000), 25u);
    EXPECT_EQ(ProgressPosition(0, 1000000), 0u);
    EXPECT_EQ(ProgressPosition(1000000, 1000000), 100u);
    EXPECT_EQ(ProgressPosition(999999, 1000000), 99u);
    EXPECT_EQ(ProgressPosition(9, 10), 90u);
    EXPECT_EQ(ProgressPosition(10, 10), 100u);
    // The truncated divisor lets a total just under a multiple of ten
    // overshoot the bar's end.
    EXPECT_EQ(ProgressPosition(19, 19), 190u);
}

TEST(ProgressPosition, ExtractionReportsTheBytesBeforeEachChunk)
{
    // Three full chunks: the bar hears 0, 33 and 66, never the final chunk.
    const unsigned total = 3 * 65536;
    EXPECT_EQ(ProgressPosition(0, total), 0u);
    EXPECT_EQ(ProgressPosition(65536, total), 33u);
    EXPECT_EQ(ProgressPosition(2 * 65536, total), 66u);
}

TEST(ProgressPosition, EqualsThe64BitFormulaCutTo32Bits)
{
    const unsigned values[] = {0u, 1u, 9u, 10u, 11u, 99u, 12345u, 65535u, 65536u,
                               999999u, 0x0CCCCCCCu, 0x0CCCCCCDu, 0x19999999u, 0x7FFFFFFFu,
                               0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu};
    for (unsigned total : values) {
        if (total < 10)
            continue;
        for (unsigned done : values) {
            EXPECT_EQ(ProgressPosition(done, total), Reference(done, total))
                << done << " of " << total;
            EXPECT_EQ(ProgressPosition(total - done % total, total),
                      Reference(total - done % total, total));
        }
    }
}

} // namespace
