// The frequency scale in the bottom margin and the frequency axis it shares with the
// reference sweep (the reference itself is shown in the window tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "PlotTestUtil.h"

namespace {

const QColor kFrame(0, 128, 0);
const PlotPalette p;

std::vector<int> Xs(const std::vector<ScaleTick>& ticks)
{
    std::vector<int> xs;
    for (const ScaleTick& t : ticks)
        xs.push_back(t.X);
    return xs;
}

QStringList Labels(const std::vector<ScaleTick>& ticks)
{
    QStringList labels;
    for (const ScaleTick& t : ticks)
        labels << t.Label;
    return labels;
}

// The frequency of sample j of a sweep, as an exact fraction of kHz.
KHzFraction SampleFreq(const FrequencyAxis& a, int j)
{
    return KHzFraction{int64_t{a.StartKHz} * a.Steps + (int64_t{a.EndKHz} - a.StartKHz) * j, a.Steps};
}

TEST(FrequencyScale, NiceStepIsTheSmallestOfOneTwoFiveWithEightyPixels)
{
    const struct {
        int64_t spanKHz;
        int pw;
        ScaleStep step; // MHz
    } rows[] = {
        {179900, 988, {2, 1}},   // 14.6 MHz needed: 20 MHz, 110 px apart
        {179900, 1548, {1, 1}},  // 9.3 MHz needed: 10 MHz
        {300, 988, {5, -2}},     // 24.3 kHz needed: 50 kHz
        {300, 1548, {2, -2}},    // 15.5 kHz needed: 20 kHz
        {1000, 800, {1, -1}},    // exactly 80 px for 100 kHz: taken
        {1001, 800, {2, -1}},    // 79.9 px for 100 kHz: too near
        {549900, 300, {2, 2}},   // 146.6 MHz needed: 200 MHz
        {1, 988, {1, -4}},       // one kHz: 100 Hz steps
        {1, 100000, {1, -6}},    // the finest step is 1 Hz
        {2000, 80, {2, 0}},      // a plot 80 px wide: the whole span
    };
    for (const auto& r : rows)
        EXPECT_EQ(NiceStep(r.spanKHz, r.pw), r.step) << r.spanKHz << " kHz on " << r.pw << " px";
}

TEST(FrequencyScale, TicksAndLabelsAtTheirFrequenciesOnTwoWidths)
{
    const struct {
        int w;
        FrequencyAxis axis;
        std::vector<int> xs;
        QStringList labels;
    } rows[] = {
        {1168, {100, 180000, 500}, {200, 310, 420, 530, 640, 749, 859, 969, 1079},
         {"20", "40", "60", "80", "100", "120", "140", "160", "180"}},
        {1728, {100, 180000, 500}, {176, 262, 348, 434, 520, 606, 692, 779, 865, 951, 1037, 1123, 1209, 1295, 1381, 1467, 1553, 1639},
         {"10", "20", "30", "40", "50", "60", "70", "80", "90", "100", "110", "120", "130", "140", "150", "160", "170", "180"}},
        {1168, {7000, 7300, 300}, {91, 256, 420, 585, 750, 914, 1079}, {"7.00", "7.05", "7.10", "7.15", "7.20", "7.25", "7.30"}},
        {1728, {7000, 7300, 300}, {91, 194, 297, 401, 504, 607, 710, 813, 917, 1020, 1123, 1226, 1329, 1433, 1536, 1639},
         {"7.00", "7.02", "7.04", "7.06", "7.08", "7.10", "7.12", "7.14", "7.16", "7.18", "7.20", "7.22", "7.24", "7.26",
          "7.28", "7.30"}},
        // One kHz wide: 100 Hz steps with four decimals; a range given end first reads right to left.
        {1168, {7000, 7001, 10}, {91, 190, 289, 387, 486, 585, 684, 783, 881, 980, 1079},
         {"7.0000", "7.0001", "7.0002", "7.0003", "7.0004", "7.0005", "7.0006", "7.0007", "7.0008", "7.0009", "7.0010"}},
        {1168, {14350, 14000, 100}, {1079, 938, 797, 656, 514, 373, 232, 91},
         {"14.00", "14.05", "14.10", "14.15", "14.20", "14.25", "14.30", "14.35"}},
    };
    for (const auto& r : rows) {
        const PlotGeometry g = Geometry(r.w, 550);
        const std::vector<ScaleTick> ticks = FrequencyTicks(g, r.axis);
        EXPECT_EQ(Xs(ticks), r.xs) << r.axis.StartKHz << ".." << r.axis.EndKHz << " on " << r.w;
        EXPECT_EQ(Labels(ticks), r.labels) << r.axis.StartKHz << ".." << r.axis.EndKHz << " on " << r.w;

        // In the picture: 4-pixel ticks below the frame line in its colour, nothing else in
        // those rows; each label's ink centred under its tick from H - MB + 18 down.
        QImage img = AxesPicture(g);
        DrawFrequencyScale(img, g, p, r.axis);
        const int bottom = 550 - 40;
        for (int y = bottom + 1; y <= bottom + 5; ++y) {
            std::vector<int> green;
            for (int x = 0; x < r.w; ++x)
                if (Is(img, x, y, kFrame))
                    green.push_back(x);
            std::vector<int> want = y <= bottom + 4 ? r.xs : std::vector<int>{};
            std::sort(want.begin(), want.end());
            EXPECT_EQ(green, want) << "row " << y;
        }
        for (int x : r.xs) {
            const QRect ink = InkBox(img, QRect(x - 39, bottom + 5, 79, 550 - bottom - 5), p.Background);
            EXPECT_EQ(ink.top() >= bottom + 18 && ink.bottom() < 550, true) << x << ": " << ink.top() << ".." << ink.bottom();
            EXPECT_LE(std::abs(ink.left() + ink.right() - 2 * x), 3) << x << ": " << ink.left() << ".." << ink.right();
        }
    }
}

TEST(FrequencyScale, NoLabelNearerThanEightyPixelsAndAllWithinTheSweep)
{
    std::minstd_rand rng(19);
    std::uniform_int_distribution<int> kHz(0, 550000), steps(10, 4000), width(200, 2600), small(1, 2000);
    int checked = 0;
    for (int k = 0; k < 3000; ++k) {
        FrequencyAxis a{kHz(rng), 0, steps(rng)};
        a.EndKHz = k % 3 == 0 ? a.StartKHz + small(rng) : kHz(rng);
        if (a.EndKHz == a.StartKHz)
            continue;
        const PlotGeometry g = Geometry(width(rng), 550);
        const std::vector<ScaleTick> ticks = FrequencyTicks(g, a);
        for (size_t i = 0; i < ticks.size(); ++i) {
            ASSERT_TRUE(ticks[i].X >= g.ML + 1 && ticks[i].X <= g.ML + 1 + g.PW()) << ticks[i].X;
            const double f = ticks[i].Label.toDouble() * 1000;
            ASSERT_TRUE(f >= std::min(a.StartKHz, a.EndKHz) - 1e-6 && f <= std::max(a.StartKHz, a.EndKHz) + 1e-6)
                << ticks[i].Label.toStdString() << " in " << a.StartKHz << ".." << a.EndKHz;
            if (i > 0) {
                ASSERT_GE(std::abs(ticks[i].X - ticks[i - 1].X), 80)
                    << a.StartKHz << ".." << a.EndKHz << " on " << g.PW() << ": " << ticks[i].Label.toStdString();
            }
        }
        // The step is the smallest that keeps 80 pixels: the next smaller one would not.
        const long double span = std::abs(a.EndKHz - a.StartKHz);
        const ScaleStep s = NiceStep(static_cast<int64_t>(span), g.PW());
        const long double stepKHz = s.Mantissa * powl(10, s.Exponent + 3);
        const long double smallerKHz = stepKHz * (s.Mantissa == 5 ? 0.4L : 0.5L);
        ASSERT_GE(stepKHz * g.PW() / span, 80 - 1e-9L);
        ASSERT_LT(smallerKHz * g.PW() / span, 80 + 1e-9L);
        checked += ticks.size() > 1 ? 1 : 0;
    }
    EXPECT_GT(checked, 2000);
}

TEST(FrequencyScale, AxisPutsEachSampleOnItsTracePointAndNothingOutsideTheSweep)
{
    // 988 / 8 = 123.5 px per sample, where rounding halves to even matters.
    const PlotGeometry g = Geometry();
    for (const FrequencyAxis& a : {FrequencyAxis{1000, 3000, 8}, FrequencyAxis{3000, 1000, 8}, FrequencyAxis{100, 180000, 500}}) {
        for (int j = 0; j <= a.Steps; ++j)
            ASSERT_EQ(FrequencyX(g, a, SampleFreq(a, j)), TraceX(g, a.Steps, j)) << a.StartKHz << " sample " << j;
        const int lo = std::min(a.StartKHz, a.EndKHz), hi = std::max(a.StartKHz, a.EndKHz);
        EXPECT_FALSE(FrequencyX(g, a, KHzFraction{lo * 10 - 1, 10}).has_value());
        EXPECT_FALSE(FrequencyX(g, a, KHzFraction{hi * 10 + 1, 10}).has_value());
    }
    // Between samples: 1.125 MHz is half a sample in, 61.75 px.
    EXPECT_EQ(FrequencyX(g, {1000, 3000, 8}, KHzFraction{1125, 1}), 91 + 62);
    // No span or no samples: no axis.
    EXPECT_FALSE(FrequencyX(g, {7000, 7000, 100}, KHzFraction{7000, 1}).has_value());
    EXPECT_FALSE(FrequencyX(g, {7000, 7300, 0}, KHzFraction{7100, 1}).has_value());
    EXPECT_TRUE(FrequencyTicks(g, {7000, 7000, 100}).empty());
    EXPECT_TRUE(FrequencyTicks(Geometry(180, 550), {7000, 7300, 100}).empty());
}

TEST(FrequencyScale, LeavesThePlotAreaAsItWas)
{
    const PlotGeometry g = Geometry();
    auto list = MakeList(500, [](TVNAEntry& e, int i) {
        e.SWR = 1 + i % 7;
        e.PhaseDeg = i % 180;
        e.Z = e.Xs = 2.0L * i;
    });
    QImage plain = AxesPicture(g);
    DrawTraces(plain, g, p, *list, TraceChoice{});
    QImage scaled = plain;
    DrawFrequencyScale(scaled, g, p, {100, 180000, 500});
    const int bottom = g.H - g.MB;
    EXPECT_EQ(scaled.copy(0, 0, g.W, bottom + 1), plain.copy(0, 0, g.W, bottom + 1));
    EXPECT_NE(scaled, plain);
    // Between the ticks and the labels the margin stays clear for the marker labels' first rows.
    EXPECT_TRUE(InkBox(scaled, QRect(g.ML + 1, bottom + 5, g.PW(), 13), p.Background).isNull());
}

} // namespace
