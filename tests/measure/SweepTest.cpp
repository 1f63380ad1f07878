#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "measure/Readouts.h"
#include "measure/Sweep.h"

namespace {

constexpr Extended kPhaseScale = 0.17578125L;
// The calibration offset that makes return-loss count 341 read exactly 0 dB (|gamma| 1).
constexpr Extended kUnitRhoCal = 20 - 341 * 0.05859375L;

// Appends one sample from its two counts, low byte first.
void Append(std::vector<uint8_t>& raw, int phase, int rl)
{
    raw.insert(raw.end(), {uint8_t(phase & 0xFF), uint8_t(phase >> 8), uint8_t(rl & 0xFF), uint8_t(rl >> 8)});
}

TVNAEntry Compute(int phase, int rl, Extended freq = 10, Extended cal = 0)
{
    std::vector<uint8_t> bytes;
    Append(bytes, phase, rl);
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

TEST(SampleDecoding, WorkedSampleReturnLossCountZeroAndHighBytes)
{
    const TVNAEntry e = Compute(512, 512); // bytes 00 02 00 02
    const TVNAEntry rl0 = Compute(512, 0);
    const struct { const char* name; Extended got; double value, tolerance; } cases[] = {
        {"RL", e.RLdB, 10.0, 1e-12}, {"Rho", e.Rho, 0.316228, 5e-7}, {"Phase", e.PhaseDeg, 90.0, 1e-12},
        {"Xs", e.Xs, 28.748, 5e-4}, {"Rs", e.Rs, 40.909, 5e-4}, {"SWR", e.SWR, 1.925, 5e-4},
        {"Z", e.Z, 50.000, 5e-4}, {"Q", e.Q, 0.703, 5e-4}, {"L", e.LuH, 0.4575, 5e-5}, {"C", e.CpF, 553.62, 5e-3},
        // Count 0 is -20 dB: Rho 10, and the SWR formula still gives a value above 1.
        {"RL 0", rl0.RLdB, -20.0, 1e-12}, {"Rho 0", rl0.Rho, 10.0, 1e-12}, {"SWR 0", rl0.SWR, 11.0 / 9.0, 1e-9},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(double(c.got), c.value, c.tolerance) << c.name;
    // A high byte of 1, 2 or 3 adds 256 times itself; any other high byte adds nothing.
    const struct { uint8_t low, high; int32_t count; } counts[] = {
        {0x34, 0x07, 52}, {0xFF, 0x03, 1023}, {0xFF, 0x00, 255}, {0x10, 0x01, 0x110}, {0x10, 0xFF, 0x10},
    };
    for (const auto& c : counts)
        EXPECT_EQ(DecodeCount(c.low, c.high), c.count) << int(c.low) << ' ' << int(c.high);
}

TEST(SampleDecoding, ZeroDivisorsGiveFiniteStandIns)
{
    const TVNAEntry open = Compute(0, 341, 10, kUnitRhoCal), reactance = Compute(512, 341, 10, kUnitRhoCal);
    const TVNAEntry noPhase = Compute(0, 512), dc = Compute(512, 512, 0);
    for (const TVNAEntry& e : {open, reactance, noPhase, dc})
        ExpectAllFinite(e);
    const struct { const char* what; Extended got, expected; } cases[] = {
        {"open SWR", open.SWR, 99999}, {"open Rs", open.Rs, 99999}, {"open |Z|", open.Z, 99999},
        {"open Xs", open.Xs, 0}, {"open Q", open.Q, 0}, {"open C", open.CpF, 0},
        {"reactance SWR", reactance.SWR, 99999}, {"reactance Rs", reactance.Rs, 0},
        {"phase 0 C", noPhase.CpF, 0}, {"0 MHz L", dc.LuH, 0}, {"0 MHz C", dc.CpF, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.expected) << c.what;
    // Near 90 degrees rounding leaves a hair of Rs, which counts as none: Q reads that of a lossless load.
    for (int phase = 500; phase <= 524; ++phase)
        EXPECT_EQ(Compute(phase, 341, 10, kUnitRhoCal).Q, 9999) << phase;
    // Absurd calibration offsets in both directions.
    for (Extended cal : {-1e6L, 1e6L, -1e300L})
        for (int phase : {0, 1, 512, 1023})
            ExpectAllFinite(Compute(phase, 0, 10, cal));
}

TEST(MarkerMapping, IndexOnTheSweepOrUnset)
{
    const SweepShape def{100, 180000, 500}, eighth{1000, 3000, 16}, fromZero{0, 30000, 100}, flat{7000, 7000, 50};
    const struct { const char* what; SweepShape shape; Extended freq; int32_t index; Extended after; } cases[] = {
        {"14.2 MHz", def, 14.2L, 39, 14.2L}, {"start", def, 0.1L, 0, 0.1L}, {"end", def, 180, 499, 180},
        {"above the end", def, 180.001L, -1, 0}, {"below the start", def, 0.09L, -1, 0},
        {"2.5 steps", eighth, 1.3125L, 2, 1.3125L}, {"3.5 steps", eighth, 1.4375L, 4, 1.4375L},
        {"unset, sweep from 0 kHz", fromZero, 0, -1, 0}, {"set, sweep from 0 kHz", fromZero, 0.3L, 1, 0.3L},
        {"start equals end", flat, 7, 0, 7}, {"beside a one-frequency sweep", flat, 7.001L, -1, 0},
    };
    for (const auto& c : cases) {
        MarkerState m{c.freq, 7};
        MapMarker(m, c.shape);
        EXPECT_TRUE(m.Index == c.index && m.FreqMHz == c.after) << c.what << ": " << m.Index << ", " << double(m.FreqMHz);
    }
}

TEST(Rebuild, FillsTheListMapsTheMarkersAndAlwaysNamesTheLastLowestSwr)
{
    // 100 kHz to 180 MHz in 500 steps; samples 3 and 5 share the best return loss.
    const auto rl = [](int i) { return i == 3 || i == 5 ? 900 : 100 + i % 700; };
    std::vector<uint8_t> raw;
    for (int i = 0; i < 500; ++i)
        Append(raw, 100, rl(i));
    TVNAList list;
    MarkerState m1{14.2L, -1}, m2{180.5L, 4};
    int32_t minSwr = 1234;
    RebuildSweep(list, raw.data(), SweepShape{100, 180000, 500}, 0, kPhaseScale, m1, m2, minSwr);
    ASSERT_EQ(list.Count(), 500);
    for (int32_t i = 0; i < 500; ++i)
        EXPECT_EQ(list.GetEntry(i)->RawRL, rl(i)) << i;
    for (const auto& [i, mhz] : {std::pair{0, 0.1}, std::pair{1, 0.4598}, std::pair{499, 179.6402}})
        EXPECT_NEAR(double(list.GetEntry(i)->FreqMHz), mhz, 1e-10) << i;
    EXPECT_EQ(minSwr, 5);
    EXPECT_EQ(m1.Index, 39);
    EXPECT_TRUE(m2.Index == -1 && m2.FreqMHz == 0);

    // From 0 kHz with every count: finite throughout.
    raw.clear();
    for (int i = 0; i < 4000; ++i)
        Append(raw, (i * 7) % 1024, (i * 13) % 1024);
    RebuildSweep(list, raw.data(), SweepShape{0, 550000, 4000}, 0, kPhaseScale, m1, m2, minSwr);
    ASSERT_EQ(list.Count(), 4000);
    for (int32_t i = 0; i < 4000; ++i)
        ExpectAllFinite(*list.GetEntry(i));

    // A calibration offset that puts every SWR above 99999: the last of them is still named.
    raw.clear();
    for (int i = 0; i < 10; ++i)
        Append(raw, 100, 341);
    RebuildSweep(list, raw.data(), SweepShape{1000, 2000, 10}, kUnitRhoCal + 1e-7L, kPhaseScale, m1, m2, minSwr);
    EXPECT_GT(list.GetEntry(0)->SWR, 99999);
    EXPECT_EQ(minSwr, 9);
}

// Q is |Xs / Rs| however large; 9999 only where Rs is 0, also where rounding leaves a hair of it.
TEST(SampleDecoding, QAsTheFormulaGivesItAndNoResistanceWhereOnlyRoundingIsLeft)
{
    // R.L. Cal 0.02 dB leaves count 341 a loss of 0.00046875 dB.
    const TVNAEntry lowLoss = Compute(512, 341, 10, 0.02L);
    EXPECT_EQ(FormatReadoutRow(lowLoss).Q, "18529.9");
    // R.L. Cal 0.01953125 dB puts count 341 at exactly 0 dB: a pure reactance at every phase but 0.
    for (int phase = 1; phase < 1024; ++phase) {
        const TVNAEntry e = Compute(phase, 341, 10, 0.01953125L);
        EXPECT_EQ(e.Rs, 0) << phase;
        EXPECT_EQ(FormatReadoutRow(e).Q, "9999.0") << phase;
    }
    // A loss of 1e-12 dB is no rounding: its Q, next to the open, is as the formula gives it.
    const TVNAEntry hair = Compute(1, 341, 10, 0.01953125L + 1e-12L);
    EXPECT_GT(hair.Rs, 0);
    EXPECT_GT(hair.Q, 1e10L);
    EXPECT_EQ(hair.Q, hair.Xs / hair.Rs);
}

namespace {

static_assert(std::numeric_limits<Extended>::digits == 64, "Extended is the 80-bit format");

// Every field of the rebuilt list against ComputeEntry at the same sample, to the last
// bit of each 80-bit value (a -0 for a 0 counts as a difference).
::testing::AssertionResult SameAsDirect(const TVNAList& list, const std::vector<uint8_t>& raw, const SweepShape& shape,
                                        Extended cal, Extended scale)
{
    if (list.Count() != shape.Steps)
        return ::testing::AssertionFailure() << list.Count() << " entries for " << shape.Steps << " steps";
    for (int32_t i = 0; i < shape.Steps; ++i) {
        const TVNAEntry& got = *list.GetEntry(i);
        TVNAEntry want;
        ComputeEntry(want, raw.data() + 4 * i, SampleFreqMHz(shape, i), cal, scale);
        const struct { const char* name; const Extended &a, &b; } fields[] = {
            {"FreqMHz", got.FreqMHz, want.FreqMHz}, {"Rho", got.Rho, want.Rho}, {"PhaseDeg", got.PhaseDeg, want.PhaseDeg},
            {"SWR", got.SWR, want.SWR}, {"RLdB", got.RLdB, want.RLdB}, {"Xs", got.Xs, want.Xs}, {"Rs", got.Rs, want.Rs},
            {"Z", got.Z, want.Z}, {"LuH", got.LuH, want.LuH}, {"CpF", got.CpF, want.CpF}, {"Q", got.Q, want.Q},
        };
        if (got.RawRL != want.RawRL || got.RawPhase != want.RawPhase)
            return ::testing::AssertionFailure() << "counts of sample " << i;
        for (const auto& f : fields)
            if (std::memcmp(&f.a, &f.b, 10) != 0)
                return ::testing::AssertionFailure() << f.name << " of sample " << i << " (counts " << got.RawPhase << ", "
                                                     << got.RawRL << ", offset " << double(cal) << "): "
                                                     << double(f.a) << " instead of " << double(f.b);
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(Rebuild, TablesGiveTheDirectFormulasResultsToTheLastBit)
{
    TVNAList list;
    MarkerState m1, m2;
    int32_t minSwr = -1;
    std::vector<uint8_t> raw;

    // Every return-loss count with every phase count, each sweep pairing them differently,
    // under offsets that reach the guarded cases (Rho exactly 1, magnitudes limited). The
    // window's offset 0 in between brings tables back that were made earlier, and seven
    // offsets in turn push old ones out.
    const Extended offsets[] = {0, -3.5L, 12.25L, kUnitRhoCal, 1e6L, -1e6L, 0.1L};
    const SweepShape counts{0, 1024000, 1024};
    for (Extended cal : offsets) {
        for (int pairing : {1, 389, 1023}) {
            raw.clear();
            for (int rl = 0; rl < 1024; ++rl)
                Append(raw, (pairing * rl + 7) % 1024, rl);
            for (Extended used : {cal, Extended(0)}) {
                RebuildSweep(list, raw.data(), counts, used, kPhaseScale, m1, m2, minSwr);
                ASSERT_TRUE(SameAsDirect(list, raw, counts, used, kPhaseScale)) << "pairing " << pairing;
            }
        }
    }

    // Random sweeps of 500 and 4000 steps: counts with high bytes above 3 as well, any range
    // (also falling), any offset and, once, another phase scale.
    std::mt19937 random(20240612);
    auto uniform = [&random](int from, int to) { return std::uniform_int_distribution<int>(from, to)(random); };
    for (int round = 0; round < 8; ++round) {
        for (int32_t steps : {500, 4000}) {
            raw.clear();
            for (int i = 0; i < steps; ++i)
                for (int b = 0; b < 2; ++b) {
                    raw.push_back(uint8_t(uniform(0, 255)));
                    raw.push_back(uint8_t(uniform(0, 9) == 0 ? uniform(4, 255) : uniform(0, 3)));
                }
            const SweepShape shape{uniform(0, 1000000), uniform(0, 1000000), steps};
            const Extended cal = round < 2 ? offsets[round] : Extended(uniform(-4000, 4000)) / 64;
            const Extended scale = round == 7 ? 180.0L / 1000 : kPhaseScale;
            RebuildSweep(list, raw.data(), shape, cal, scale, m1, m2, minSwr);
            ASSERT_TRUE(SameAsDirect(list, raw, shape, cal, scale)) << "round " << round << ", " << steps << " steps";
        }
    }
}

TEST(VNAListTest, IndexOutsideTheListThrows)
{
    TVNAList list;
    EXPECT_EQ(list.AddEntry(new TVNAEntry()), 0);
    for (int32_t outside : {1, -1})
        EXPECT_THROW(list.GetEntry(outside), std::out_of_range) << outside;
    list.ClearEntries();
    EXPECT_THROW(list.GetEntry(0), std::out_of_range);
}
