#include <gtest/gtest.h>

#include "acquisition/SweepRequest.h"

TEST(SweepRequest, DefaultSweepGivesTheKnownRequestLines)
{
    const Extended tf = TuningFactorForClock(400000000);
    EXPECT_EQ(tf, 10737.41824L);
    const SweepWords w = EncodeSweep(100, 180000, 500, tf);
    EXPECT_EQ(w.Start, 1073742);
    EXPECT_EQ(w.Step, 3863323);
    const auto lines = RequestLines(w, 500);
    std::string all;
    for (const auto& l : lines)
        all += l;
    EXPECT_EQ(all, "0\r1073742\r500\r3863323\r");
}

TEST(SweepRequest, HalfwayProductsRoundToEven)
{
    // 5 kHz x 0.5 = 2.5 -> 2; 7 kHz x 0.5 = 3.5 -> 4.
    EXPECT_EQ(EncodeSweep(5, 5, 10, 0.5L).Start, 2);
    EXPECT_EQ(EncodeSweep(7, 7, 10, 0.5L).Start, 4);
    // Step: 5 x 1 / 2 = 2.5 -> 2; 7 x 1 / 2 = 3.5 -> 4.
    EXPECT_EQ(EncodeSweep(0, 5, 2, 1.0L).Step, 2);
    EXPECT_EQ(EncodeSweep(0, 7, 2, 1.0L).Step, 4);
}

TEST(SweepRequest, EndBelowStartGivesANegativeStepWrittenWithItsSign)
{
    const Extended tf = TuningFactorForClock(400000000);
    const SweepWords w = EncodeSweep(30000, 1000, 500, tf);
    EXPECT_EQ(w.Step, -622770); // -29000 x 10737.41824 / 500 = -622770.25792
    EXPECT_LT(w.Step, 0);
    EXPECT_EQ(RequestLines(w, 500)[3], std::to_string(w.Step) + "\r");
    EXPECT_EQ(RequestLines(w, 500)[3].front(), '-');
}

TEST(SweepRequest, ExtremeClocksAndTheWidestRange)
{
    EXPECT_EQ(TuningFactorForClock(1), 4294967296000.0L);
    const Extended tf = TuningFactorForClock(1300000000);
    EXPECT_NEAR(static_cast<double>(tf), 3303.821, 0.001);
    // 550 MHz at the lowest clock still fits a signed 64-bit word.
    const SweepWords w = EncodeSweep(0, 550000, 10, TuningFactorForClock(1));
    EXPECT_EQ(w.Step, 55000LL * 4294967296000LL);
}
