#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "measure/Bandwidth.h"
#include "measure/Sweep.h"
#include "measure/SweepAverage.h"

namespace {

// A list whose samples have the given frequencies and SWRs (only those two matter here).
void MakeList(TVNAList& list, const std::vector<std::pair<double, double>>& samples)
{
    list.ClearEntries();
    for (const auto& [f, swr] : samples) {
        TVNAEntry* e = list.NewEntry();
        e->FreqMHz = f;
        e->SWR = swr;
    }
}

TEST(SwrBandwidth, InterpolatesBothEdgesAndMarksTheSweepsEnds)
{
    TVNAList list;
    // Crossings: 3 -> 1.5 between 13.9 and 14.0 (2 at 13.9 + 0.1 x 1/1.5); 1.2 -> 2.4 between
    // 14.4 and 14.5 (2 at 14.4 + 0.1 x 0.8/1.2).
    MakeList(list, {{13.8, 4}, {13.9, 3}, {14.0, 1.5}, {14.2, 1.1}, {14.4, 1.2}, {14.5, 2.4}, {14.6, 1.0}});
    SwrBandwidth bw = FindSwrBandwidth(list, 3, 2);
    ASSERT_TRUE(bw.Found);
    EXPECT_NEAR(double(bw.Low.FreqMHz), 13.9 + 0.1 / 1.5, 1e-12);
    EXPECT_NEAR(double(bw.High.FreqMHz), 14.4 + 0.1 * 0.8 / 1.2, 1e-12);
    EXPECT_FALSE(bw.Low.Open || bw.High.Open);
    // The span around the lowest SWR the Lowest SWR row shows, not the lower SWR beyond it.
    EXPECT_EQ(BandwidthText(bw, 2), "SWR \xE2\x89\xA4 2: 13.967 - 14.467 MHz (500 kHz)");

    // An edge the SWR does not cross inside the sweep is the end sample's frequency.
    MakeList(list, {{0.1, 1.5}, {5, 1.8}, {10, 1.9}, {14, 2.5}});
    bw = FindSwrBandwidth(list, 0, 2);
    EXPECT_TRUE(bw.Low.Open);
    EXPECT_EQ(BandwidthText(bw, 2), "SWR \xE2\x89\xA4 2: < 0.100 - 10.667 MHz");
    MakeList(list, {{7, 3}, {7.1, 1.2}, {7.2, 1.4}});
    bw = FindSwrBandwidth(list, 1, 1.5);
    EXPECT_EQ(BandwidthText(bw, 1.5), "SWR \xE2\x89\xA4 1.5: 7.083 - > 7.200 MHz");
    // Wide spans read in MHz; a sweep from high to low gives the same edges.
    MakeList(list, {{30, 1.5}, {20, 1.1}, {10, 1.5}, {0.1, 3}});
    bw = FindSwrBandwidth(list, 1, 2);
    EXPECT_EQ(BandwidthText(bw, 2), "SWR \xE2\x89\xA4 2: 6.700 - > 30.000 MHz");
    MakeList(list, {{0.1, 3}, {10, 1.5}, {20, 1.1}, {30, 1.5}, {40, 3}});
    EXPECT_EQ(BandwidthText(FindSwrBandwidth(list, 2, 2), 2), "SWR \xE2\x89\xA4 2: 6.700 - 33.333 MHz (26.633 MHz)");

    // No span: the lowest SWR lies above the limit.
    MakeList(list, {{7, 3}, {7.1, 2.1}, {7.2, 2.5}});
    bw = FindSwrBandwidth(list, 1, 2);
    EXPECT_FALSE(bw.Found);
    EXPECT_EQ(BandwidthText(bw, 2), "SWR \xE2\x89\xA4 2: none");
}

void Append(std::vector<uint8_t>& raw, int phase, int rl)
{
    raw.insert(raw.end(), {uint8_t(phase & 0xFF), uint8_t(phase >> 8), uint8_t(rl & 0xFF), uint8_t(rl >> 8)});
}

TEST(SweepAverage, MeansFourSweepsAndStartsAfreshOnAnotherRange)
{
    constexpr int kSteps = 20;
    const AverageKey key{7000, 7200, kSteps, 10737.41824L, 1.5L, DefaultPhaseScale, 0};
    std::vector<std::vector<uint8_t>> sweeps(5);
    for (int s = 0; s < 5; ++s)
        for (int i = 0; i < kSteps; ++i)
            Append(sweeps[s], (i * 37 + s * 101) % 1024, (300 + i * 13 + s * 59) % 1024);

    SweepAverage average;
    average.SetDepth(4);
    for (const auto& raw : sweeps)
        average.Add(key, raw.data());
    EXPECT_EQ(average.Count(), 4);

    TVNAList list;
    MarkerState m1{7.1L, -1}, m2;
    int32_t lowest = -1;
    average.Rebuild(list, m1, m2, lowest);
    ASSERT_EQ(list.Count(), kSteps);
    EXPECT_EQ(m1.Index, 10);
    int32_t expectedLowest = -1;
    Extended expectedLowestSwr = 0;
    for (int i = 0; i < kSteps; ++i) {
        // The mean of the last four sweeps, worked out here from the counts.
        Extended rl = 0, phase = 0;
        for (int s = 1; s < 5; ++s) {
            rl += ((300 + i * 13 + s * 59) % 1024) * 0.05859375L - 20 + 1.5L;
            phase += ((i * 37 + s * 101) % 1024) * DefaultPhaseScale;
        }
        TVNAEntry expected;
        ComputeEntryFromReflection(expected, 7 + 0.01L * i, rl / 4, phase / 4);
        const TVNAEntry& e = *list.GetEntry(i);
        EXPECT_NEAR(double(e.RLdB), double(rl / 4), 1e-12);
        EXPECT_NEAR(double(e.PhaseDeg), double(phase / 4), 1e-12);
        EXPECT_NEAR(double(e.SWR), double(expected.SWR), 1e-9);
        EXPECT_NEAR(double(e.Z), double(expected.Z), 1e-9);
        if (expectedLowest < 0 || expected.SWR <= expectedLowestSwr) {
            expectedLowest = i;
            expectedLowestSwr = expected.SWR;
        }
    }
    EXPECT_EQ(lowest, expectedLowest);

    // Another range starts afresh: the mean is the new sweep alone.
    AverageKey moved = key;
    moved.EndKHz = 7300;
    average.Add(moved, sweeps[0].data());
    EXPECT_EQ(average.Count(), 1);
    average.Rebuild(list, m1, m2, lowest);
    TVNAList single;
    MarkerState s1, s2;
    int32_t singleLowest = -1;
    RebuildSweep(single, sweeps[0].data(), SweepShape{7000, 7300, kSteps}, 1.5L, DefaultPhaseScale, s1, s2,
                 singleLowest);
    for (int i = 0; i < kSteps; ++i)
        EXPECT_EQ(list.GetEntry(i)->SWR, single.GetEntry(i)->SWR);
    // So does another calibration.
    moved.RLCalDb = 0;
    average.Add(moved, sweeps[1].data());
    EXPECT_EQ(average.Count(), 1);
}

} // namespace
