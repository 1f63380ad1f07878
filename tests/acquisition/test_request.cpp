#include <gtest/gtest.h>

#include <array>
#include <string>

#include "acquisition/SweepRequest.h"

TEST(SweepRequest, WordsRoundHalfToEvenAndKeepTheirSign)
{
    const Extended tf = TuningFactorForClock(400000000);
    EXPECT_EQ(tf, 10737.41824L);
    struct Case { int32_t startKHz, endKHz, steps; Extended tf; int64_t start, step; };
    const Case cases[] = {
        {100, 180000, 500, tf, 1073742, 3863323},
        {5, 5, 10, 0.5L, 2, 0},                    // 2.5 -> 2
        {7, 7, 10, 0.5L, 4, 0},                    // 3.5 -> 4
        {0, 5, 2, 1.0L, 0, 2},                     // 5 / 2 = 2.5 -> 2
        {0, 7, 2, 1.0L, 0, 4},                     // 7 / 2 = 3.5 -> 4
        {30000, 1000, 500, tf, 322122547, -622770}, // -29000 x tf / 500 = -622770.258
        {0, 550000, 10, TuningFactorForClock(1), 0, 55000LL * 4294967296000LL}, // the widest, still 64 bits
    };
    for (const Case& c : cases) {
        const SweepWords w = EncodeSweep(c.startKHz, c.endKHz, c.steps, c.tf);
        EXPECT_EQ(w.Start, c.start) << c.startKHz << ".." << c.endKHz;
        EXPECT_EQ(w.Step, c.step) << c.startKHz << ".." << c.endKHz;
    }
    const std::array<std::string, 4> lines = {"0\r", "1073742\r", "500\r", "3863323\r"};
    EXPECT_EQ(RequestLines(EncodeSweep(100, 180000, 500, tf), 500), lines);
    EXPECT_EQ(RequestLines(EncodeSweep(30000, 1000, 500, tf), 500)[3], "-622770\r");
}
