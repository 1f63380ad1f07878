#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "measure/Sweep.h"

namespace {

constexpr Extended kPhaseScale = 0.17578125L;

// Raw bytes of one sample from its two counts, low byte first.
std::vector<uint8_t> Sample(int phase, int rl)
{
    return {uint8_t(phase & 0xFF), uint8_t(phase >> 8), uint8_t(rl & 0xFF), uint8_t(rl >> 8)};
}

TVNAEntry Compute(const std::vector<uint8_t>& bytes, Extended freq = 10, Extended cal = 0)
{
    TVNAEntry e;
    ComputeEntry(e, bytes.data(), freq, cal, kPhaseScale);
    return e;
}

void ExpectAllFinite(const TVNAEntry& e)
{
    for (Extended v : {e.FreqMHz, e.Rho, e.PhaseDeg, e.SWR, e.RLdB, e.Xs, e.Rs, e.Z, e.LuH, e.CpF, e.Q})
        EXPECT_TRUE(std::isfinite(v)) << "value " << static_cast<double>(v);
}

} // namespace

TEST(SampleDecoding, WorkedSampleAtTenMegahertz)
{
    const TVNAEntry e = Compute({0x00, 0x02, 0x00, 0x02});
    EXPECT_EQ(e.RawPhase, 512);
    EXPECT_EQ(e.RawRL, 512);
    EXPECT_NEAR(double(e.RLdB), 10.0, 1e-12);
    EXPECT_NEAR(double(e.Rho), 0.316228, 5e-7);
    EXPECT_NEAR(double(e.PhaseDeg), 90.0, 1e-12);
    EXPECT_NEAR(double(e.Xs), 28.748, 5e-4);
    EXPECT_NEAR(double(e.Rs), 40.909, 5e-4);
    EXPECT_NEAR(double(e.SWR), 1.925, 5e-4);
    EXPECT_NEAR(double(e.Z), 50.000, 5e-4);
    EXPECT_NEAR(double(e.Q), 0.703, 5e-4);
    EXPECT_NEAR(double(e.LuH), 0.4575, 5e-5);
    EXPECT_NEAR(double(e.CpF), 553.62, 5e-3);
}

TEST(SampleDecoding, HighBytesAddOnlyOneToThree)
{
    EXPECT_EQ(DecodeCount(0x34, 0x07), 52);
    EXPECT_EQ(DecodeCount(0xFF, 0x03), 1023);
    EXPECT_EQ(DecodeCount(0xFF, 0x00), 255);
    EXPECT_EQ(DecodeCount(0x10, 0x01), 0x110);
    EXPECT_EQ(DecodeCount(0x10, 0xFF), 0x10);

    const TVNAEntry e = Compute({0x34, 0x07, 0xFF, 0x03});
    EXPECT_EQ(e.RawPhase, 52);
    EXPECT_EQ(e.RawRL, 1023);
}

TEST(SampleDecoding, ReturnLossCountZeroGivesRhoTenAndSwrAboveOne)
{
    const TVNAEntry e = Compute(Sample(512, 0));
    EXPECT_NEAR(double(e.RLdB), -20.0, 1e-12);
    EXPECT_NEAR(double(e.Rho), 10.0, 1e-12);
    EXPECT_NEAR(double(e.SWR), 11.0 / 9.0, 1e-9);
    EXPECT_GT(e.SWR, 1);
}

TEST(SampleDecoding, IdealLoads)
{
    // Return-loss count 1023 is about 40 dB: nearly matched.
    const TVNAEntry matched = Compute(Sample(0, 1023));
    EXPECT_NEAR(double(matched.Rs), 50.0, 1.5);
    EXPECT_NEAR(double(matched.SWR), 1.0, 0.03);

    // Rho 1 at phase 180 degrees is close to a short.
    const TVNAEntry shortish = Compute(Sample(1023, 341));
    EXPECT_LT(shortish.Rs, 1.0);
    EXPECT_LT(shortish.Z, 1.0);

    // A calibration offset that makes the return loss exactly 0 dB at phase 0: a perfect open.
    const Extended cal = 20 - 341 * 0.05859375L;
    const TVNAEntry open = Compute(Sample(0, 341), 10, cal);
    EXPECT_EQ(open.RLdB, 0);
    EXPECT_EQ(open.Rho, 1);
    EXPECT_EQ(open.SWR, 99999);
    EXPECT_EQ(open.Rs, 99999);
    EXPECT_EQ(open.Xs, 0);
    EXPECT_EQ(open.Z, 99999);
    EXPECT_EQ(open.Q, 0);
    EXPECT_EQ(open.LuH, 0);
    EXPECT_EQ(open.CpF, 0);
}

TEST(SampleDecoding, ZeroDivisorsGiveFiniteStandIns)
{
    // Rho exactly 1 at 90 degrees: pure reactance, SWR stands in as 99999, Rs 0 gives Q 9999.
    const Extended cal = 20 - 341 * 0.05859375L;
    const TVNAEntry reactive = Compute(Sample(512, 341), 10, cal);
    ExpectAllFinite(reactive);
    EXPECT_EQ(reactive.SWR, 99999);
    EXPECT_NEAR(double(reactive.Xs), 50.0, 1e-9);
    EXPECT_NEAR(double(reactive.Rs), 0.0, 1e-9);

    // Phase count 0 gives Xs 0: no capacitance has zero reactance.
    const TVNAEntry noReactance = Compute(Sample(0, 512));
    ExpectAllFinite(noReactance);
    EXPECT_EQ(noReactance.Xs, 0);
    EXPECT_EQ(noReactance.CpF, 0);
    EXPECT_EQ(noReactance.LuH, 0);
    EXPECT_EQ(noReactance.Q, 0);

    // 0 MHz: neither L nor C is defined.
    const TVNAEntry dc = Compute(Sample(512, 512), 0);
    ExpectAllFinite(dc);
    EXPECT_EQ(dc.LuH, 0);
    EXPECT_EQ(dc.CpF, 0);
    EXPECT_NEAR(double(dc.Xs), 28.748, 5e-4);

    // Absurd calibration offsets in both directions still give finite numbers.
    for (Extended hugeCal : {-1e6L, 1e6L, -1e300L}) {
        for (int phase : {0, 1, 512, 1023})
            ExpectAllFinite(Compute(Sample(phase, 0), 10, hugeCal));
    }
}

TEST(SampleDecoding, QIs9999WhenRsIsZero)
{
    // Rho exactly 1 near 90 degrees: a pure reactance, Rs 0 or rounding noise around it.
    const Extended cal = 20 - 341 * 0.05859375L;
    for (int phase = 500; phase <= 524; ++phase) {
        const TVNAEntry e = Compute(Sample(phase, 341), 10, cal);
        EXPECT_LT(e.Rs, 1e-12) << phase;
        EXPECT_EQ(e.Q, 9999) << phase;
    }
    EXPECT_EQ(Compute(Sample(512, 341), 10, cal).Rs, 0);
    EXPECT_LT(Compute(Sample(512, 512)).Q, 1);
}

TEST(SweepShapeTest, SampleFrequencies)
{
    const SweepShape shape{100, 180000, 500};
    EXPECT_NEAR(double(SampleFreqMHz(shape, 0)), 0.1, 1e-12);
    EXPECT_NEAR(double(SampleFreqMHz(shape, 1)), 0.4598, 1e-12);
    EXPECT_NEAR(double(SampleFreqMHz(shape, 499)), 179.6402, 1e-10);
}

TEST(MarkerMapping, DefaultSweep)
{
    const SweepShape shape{100, 180000, 500};
    struct Case { Extended freq; int32_t index; Extended after; };
    const Case cases[] = {
        {14.2L, 39, 14.2L}, {0.1L, 0, 0.1L}, {180, 499, 180},
        {180.001L, -1, 0}, {0.09L, -1, 0}, {0, -1, 0},
    };
    for (const Case& c : cases) {
        MarkerState m{c.freq, 7};
        MapMarker(m, shape);
        EXPECT_EQ(m.Index, c.index) << double(c.freq);
        EXPECT_EQ(m.FreqMHz, c.after) << double(c.freq);
    }
}

TEST(MarkerMapping, HalfStepsRoundToEven)
{
    const SweepShape shape{1000, 3000, 16};
    MarkerState a{1.3125L, -1};
    MarkerState b{1.4375L, -1};
    MapMarker(a, shape);
    MapMarker(b, shape);
    EXPECT_EQ(a.Index, 2);
    EXPECT_EQ(b.Index, 4);
}

TEST(MarkerMapping, UnsetStaysUnsetOnSweepFromZero)
{
    const SweepShape shape{0, 30000, 100};
    MarkerState unset{0, -1};
    MapMarker(unset, shape);
    EXPECT_EQ(unset.Index, -1);
    EXPECT_EQ(unset.FreqMHz, 0);

    MarkerState set{0.3L, -1};
    MapMarker(set, shape);
    EXPECT_EQ(set.Index, 1);
}

TEST(MarkerMapping, StartEqualsEnd)
{
    const SweepShape shape{7000, 7000, 50};
    MarkerState on{7, -1};
    MapMarker(on, shape);
    EXPECT_EQ(on.Index, 0);
    MarkerState off{7.001L, 3};
    MapMarker(off, shape);
    EXPECT_EQ(off.Index, -1);
    EXPECT_EQ(off.FreqMHz, 0);
}

namespace {

std::vector<uint8_t> RawSweep(const std::vector<int>& rlCounts, int phase = 100)
{
    std::vector<uint8_t> raw;
    for (int rl : rlCounts) {
        const auto s = Sample(phase, rl);
        raw.insert(raw.end(), s.begin(), s.end());
    }
    return raw;
}

} // namespace

TEST(Rebuild, FillsListMapsMarkersAndFindsLowestSwr)
{
    // Return loss rises to the middle and falls again; samples 3 and 5 share the best value.
    const std::vector<int> rl = {100, 200, 300, 900, 400, 900, 200, 100, 50, 10};
    const auto raw = RawSweep(rl);
    const SweepShape shape{1000, 2000, 10};
    TVNAList list;
    MarkerState m1{1.2L, -1};
    MarkerState m2{5, 4};
    int32_t minSwr = 1234;
    RebuildSweep(list, raw.data(), shape, 0, kPhaseScale, m1, m2, minSwr);

    ASSERT_EQ(list.Count(), 10);
    for (int32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(list.GetEntry(i)->RawRL, rl[size_t(i)]);
        EXPECT_NEAR(double(list.GetEntry(i)->FreqMHz), 1.0 + 0.1 * i, 1e-12);
    }
    EXPECT_EQ(minSwr, 5);
    EXPECT_EQ(m1.Index, 2);
    EXPECT_EQ(m2.Index, -1);
    EXPECT_EQ(m2.FreqMHz, 0);

    // A shorter sweep replaces every entry.
    const auto shortRaw = RawSweep({500, 500, 500, 500, 500, 500, 500, 500, 500, 500}, 0);
    RebuildSweep(list, shortRaw.data(), shape, 0, kPhaseScale, m1, m2, minSwr);
    EXPECT_EQ(list.Count(), 10);
    EXPECT_EQ(minSwr, 9);
}

TEST(Rebuild, LowestSwrIndexStaysInsideTheList)
{
    // A calibration offset that puts every SWR above 99999: the lowest one is still named.
    const auto raw = RawSweep(std::vector<int>(10, 341));
    const Extended cal = 20 - 341 * 0.05859375L + 1e-7L;
    TVNAList list;
    MarkerState m1, m2;
    int32_t minSwr = 3999;
    RebuildSweep(list, raw.data(), SweepShape{1000, 2000, 10}, cal, kPhaseScale, m1, m2, minSwr);
    ASSERT_EQ(list.Count(), 10);
    EXPECT_GT(list.GetEntry(0)->SWR, 99999);
    EXPECT_EQ(minSwr, 9);
    for (int32_t i = 0; i < 10; ++i)
        ExpectAllFinite(*list.GetEntry(i));
}

TEST(Rebuild, SweepFromZeroKilohertzCompletesWithFiniteValues)
{
    std::vector<uint8_t> raw;
    for (int i = 0; i < 4000; ++i) {
        const auto s = Sample((i * 7) % 1024, (i * 13) % 1024);
        raw.insert(raw.end(), s.begin(), s.end());
    }
    TVNAList list;
    MarkerState m1{0, -1};
    MarkerState m2{0, 17};
    int32_t minSwr = -1;
    RebuildSweep(list, raw.data(), SweepShape{0, 550000, 4000}, 0, kPhaseScale, m1, m2, minSwr);
    ASSERT_EQ(list.Count(), 4000);
    for (int32_t i = 0; i < 4000; ++i)
        ExpectAllFinite(*list.GetEntry(i));
    EXPECT_EQ(list.GetEntry(0)->FreqMHz, 0);
    EXPECT_EQ(m1.Index, -1);
    EXPECT_EQ(m2.Index, -1);
    EXPECT_GE(minSwr, 0);
}

TEST(VNAListTest, OwnershipAndIndexing)
{
    TVNAList list;
    EXPECT_EQ(list.AddEntry(new TVNAEntry()), 0);
    list.ClearEntries();
    EXPECT_EQ(list.Count(), 0);

    std::vector<TVNAEntry*> made;
    for (int i = 0; i < 500; ++i)
        made.push_back(list.NewEntry());
    ASSERT_EQ(list.Count(), 500);
    for (int32_t i = 0; i < 500; ++i)
        EXPECT_EQ(list.GetEntry(i), made[size_t(i)]);
    EXPECT_EQ(made[0]->SWR, 0);
    EXPECT_THROW(list.GetEntry(500), std::out_of_range);
    EXPECT_THROW(list.GetEntry(-1), std::out_of_range);
    list.ClearEntries();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(list.GetEntry(0), std::out_of_range);
}
