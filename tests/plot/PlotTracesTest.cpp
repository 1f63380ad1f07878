#include <gtest/gtest.h>

#include <vector>

#include "PlotTestUtil.h"

namespace {

class TracesTest : public ::testing::Test {
protected:
    PlotGeometry g = Geometry();
    PlotPalette p;
    QImage axes = AxesPicture(g, p);

    QImage Draw(const TVNAList& list, TraceChoice choice)
    {
        QImage img = axes;
        DrawTraces(img, g, p, list, choice);
        return img;
    }
    // y of the pixels of colour c in column x.
    std::vector<int> Column(const QImage& img, int x, const QColor& c)
    {
        std::vector<int> ys;
        for (int y = 0; y < img.height(); ++y)
            if (Is(img, x, y, c))
                ys.push_back(y);
        return ys;
    }
};

TEST_F(TracesTest, SamplePositionsForTenSteps)
{
    const int expected[] = {91, 190, 289, 387, 486, 585, 684, 783, 881, 980};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(TraceX(g, 10, i), expected[i]) << i;

    // A zigzag of |Z| between 0 and 50 ohm: every joint is a peak or a valley, so the
    // pixel row of the joint holds the trace in the joint's column and not beside it.
    auto list = MakeList(10, [](TVNAEntry& e, int i) { e.Z = i % 2 == 0 ? 0 : 50; });
    const QImage img = Draw(*list, Only(false, false, false, true, false, false));
    for (int i = 0; i < 9; ++i) {
        const int y = i % 2 == 0 ? 40 : 99;
        EXPECT_TRUE(Is(img, expected[i], y, p.Z)) << i;
        EXPECT_FALSE(Is(img, expected[i] - 1, y, p.Z)) << i;
        EXPECT_FALSE(Is(img, expected[i] + 1, y, p.Z)) << i;
    }
    // The last line ends at (980, 99) without drawing that pixel.
    EXPECT_FALSE(Column(img, 979, p.Z).empty());
    EXPECT_TRUE(Column(img, 980, p.Z).empty());
}

TEST_F(TracesTest, PositionsRoundHalvesToEven)
{
    // 988 / 8 = 123.5: sample 1 at 123.5 -> 124, sample 3 at 370.5 -> 370.
    EXPECT_EQ(TraceX(g, 8, 1), 91 + 124);
    EXPECT_EQ(TraceX(g, 8, 3), 91 + 370);
    EXPECT_EQ(TraceX(g, 8, 5), 91 + 618);
}

TEST_F(TracesTest, SwrEndsOnTheFrameLines)
{
    auto one = MakeList(10, [](TVNAEntry& e, int) { e.SWR = 1.0L; });
    const QImage bottom = Draw(*one, Only(true, false, false, false, false, false));
    for (int x = 91; x < 980; ++x)
        ASSERT_TRUE(Is(bottom, x, 510, p.Swr)) << x;
    EXPECT_TRUE(Is(bottom, 90, 510, QColor(0, 128, 0)));
    EXPECT_TRUE(Is(bottom, 980, 510, QColor(0, 128, 0)));

    // 10 and anything higher sit on the top line of the plot area.
    auto high = MakeList(10, [](TVNAEntry& e, int i) { e.SWR = i % 2 ? 25.0L : 10.0L; });
    const QImage top = Draw(*high, Only(true, false, false, false, false, false));
    for (int x = 91; x < 980; ++x) {
        ASSERT_TRUE(Is(top, x, 40, p.Swr)) << x;
        ASSERT_FALSE(Is(top, x, 39, p.Swr)) << x;
        ASSERT_FALSE(Is(top, x, 41, p.Swr)) << x;
    }
}

TEST_F(TracesTest, ReturnLossClipsAtTheFarEndOnly)
{
    auto deep = MakeList(10, [](TVNAEntry& e, int) { e.RLdB = 45; });
    const QImage bottom = Draw(*deep, Only(false, true, false, false, false, false));
    EXPECT_TRUE(Is(bottom, 500, 510, p.Rl));
    EXPECT_TRUE(Column(bottom, 500, p.Rl) == std::vector<int>{510});

    // -3 dB lies Round(PH / 10) pixels above the plot area: 22 with PH = 220.
    const PlotGeometry small = Geometry(1168, 300);
    QImage img = AxesPicture(small, p);
    auto negative = MakeList(10, [](TVNAEntry& e, int) { e.RLdB = -3; });
    DrawTraces(img, small, p, *negative, Only(false, true, false, false, false, false));
    EXPECT_TRUE(Column(img, 500, p.Rl) == std::vector<int>{40 - 22});

    // Far above the picture the trace is clipped by the picture's edge, not moved.
    QImage clipped = axes;
    auto far = MakeList(10, [](TVNAEntry& e, int i) { e.RLdB = i == 5 ? -1e30L : 10; });
    DrawTraces(clipped, g, p, *far, Only(false, true, false, false, false, false));
    // The line from (486, 197) up to sample 5 leaves through the top edge almost vertically.
    const std::vector<int> column = Column(clipped, 486, p.Rl);
    ASSERT_FALSE(column.empty());
    EXPECT_EQ(column.front(), 0);
    EXPECT_EQ(column.back(), 197);
    EXPECT_EQ(column.size(), 198u);
}

TEST_F(TracesTest, PhaseAndImpedanceScales)
{
    auto list = MakeList(10, [](TVNAEntry& e, int i) {
        e.PhaseDeg = i < 5 ? 90 : 270;
        e.Z = i < 5 ? 200 : 1000;
    });
    const QImage ph = Draw(*list, Only(false, false, true, false, false, false));
    EXPECT_TRUE(Column(ph, 200, p.Phase) == std::vector<int>{40 + 235});
    EXPECT_TRUE(Column(ph, 700, p.Phase) == std::vector<int>{510});
    const QImage z = Draw(*list, Only(false, false, false, true, false, false));
    EXPECT_TRUE(Column(z, 200, p.Z) == std::vector<int>{40 + 235});
    EXPECT_TRUE(Column(z, 700, p.Z) == std::vector<int>{510});
}

TEST_F(TracesTest, LaterTracesCoverEarlierOnesInTheirOwnColours)
{
    auto list = MakeList(10, [](TVNAEntry& e, int) {
        e.SWR = 1.0L;
        e.RLdB = 30;
        e.PhaseDeg = 180;
        e.Z = e.Xs = e.Rs = 200;
    });
    const int y = 40 + 235;
    EXPECT_TRUE(Is(Draw(*list, Only(true, true, true, true, true, true)), 500, y, p.Rs));
    EXPECT_TRUE(Is(Draw(*list, Only(true, true, true, true, true, false)), 500, y, p.Xs));
    EXPECT_TRUE(Is(Draw(*list, Only(true, true, true, true, false, false)), 500, y, p.Z));
    // On the bottom line: SWR, then return loss, then phase.
    EXPECT_TRUE(Is(Draw(*list, Only(true, true, true, false, false, false)), 500, 510, p.Phase));
    EXPECT_TRUE(Is(Draw(*list, Only(true, true, false, false, false, false)), 500, 510, p.Rl));
    EXPECT_TRUE(Is(Draw(*list, Only(true, false, false, false, false, false)), 500, 510, p.Swr));
}

TEST_F(TracesTest, NoTraceChosenLeavesTheAxesAlone)
{
    auto list = MakeList(10, [](TVNAEntry& e, int i) {
        e.SWR = 1 + i;
        e.RLdB = i;
        e.PhaseDeg = 10 * i;
        e.Z = e.Xs = e.Rs = 30 * i;
    });
    EXPECT_EQ(Draw(*list, Only(false, false, false, false, false, false)), axes);
    EXPECT_NE(Draw(*list, TraceChoice()), axes);
}

TEST_F(TracesTest, TheTraceIsAnOpenPolyline)
{
    // First sample on the bottom line, last on the top line: no line joins them.
    auto list = MakeList(10, [](TVNAEntry& e, int i) { e.SWR = i == 9 ? 10.0L : 1.0L; });
    const QImage img = Draw(*list, Only(true, false, false, false, false, false));
    EXPECT_TRUE(Column(img, 535, p.Swr) == std::vector<int>{510});
    // The last segment climbs from (881, 510) towards (980, 40).
    EXPECT_FALSE(Column(img, 950, p.Swr).empty());
}

TEST_F(TracesTest, EmptyListDrawsNothing)
{
    TVNAList empty;
    EXPECT_EQ(Draw(empty, TraceChoice()), axes);
}

}  // namespace

namespace {

// The line rule written the plain way: every step of the major axis from the start,
// the end pixel left out, ties decided as the display drivers of the platform the
// pictures come from decide them. The drawing code clips and starts mid-line; its
// pixels must be the same.
void ReferenceLine(QImage& img, int x0, int y0, int x1, int y1, const QColor& c)
{
    const int dx = x1 - x0, dy = y1 - y0;
    const int adx = std::abs(dx), ady = std::abs(dy);
    if (adx == 0 && ady == 0)
        return;
    int octant;
    if (dy > 0)
        octant = dx > 0 ? (dx > dy ? 1 : 2) : (-dx > dy ? 4 : 3);
    else
        octant = dx < 0 ? (-dx > -dy ? 5 : 6) : (dx > -dy ? 8 : 7);
    const int bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8) ? 1 : 0;
    const bool xMajor = adx > ady;
    const int major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
    const int sx = dx > 0 ? 1 : -1, sy = dy > 0 ? 1 : -1;
    int x = x0, y = y0;
    int err = 2 * minor - major + bias;
    for (int k = 0; k < major; ++k) {
        if (x >= 0 && y >= 0 && x < img.width() && y < img.height())
            img.setPixelColor(x, y, c);
        if (err > 0) {
            if (xMajor)
                y += sy;
            else
                x += sx;
            err -= 2 * major;
        }
        err += 2 * minor;
        if (xMajor)
            x += sx;
        else
            y += sy;
    }
}

TEST(TracePixels, SameAsThePlainLineRuleForRandomTraces)
{
    // PH = 420: 14 pixels per dB and 1.05 per ohm, so every y is an integer the test
    // knows without rounding; return losses down to -1000 dB leave the picture upwards.
    const PlotPalette p;
    uint32_t seed = 2024;
    auto next = [&seed](int range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<uint32_t>(range));
    };
    for (const QSize size : {QSize(1728, 500), QSize(1168, 500)}) {
        for (int n : {10, 57, 500, 4000}) {
            const PlotGeometry g = Geometry(size.width(), size.height());
            ASSERT_EQ(g.PH(), 420);
            std::vector<int> rl(static_cast<size_t>(n)), ph(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                rl[static_cast<size_t>(i)] = next(8) == 0 ? -next(1000) : next(40);
                ph[static_cast<size_t>(i)] = 6 * next(40);  // 14 pixels per 6 degrees, beyond 180 clipped
            }
            auto list = MakeList(n, [&](TVNAEntry& e, int i) {
                e.RLdB = rl[static_cast<size_t>(i)];
                e.PhaseDeg = ph[static_cast<size_t>(i)];
            });
            QImage drawn = AxesPicture(g, p);
            QImage expected = drawn;
            DrawTraces(drawn, g, p, *list, Only(false, true, true, false, false, false));

            auto reference = [&](const std::vector<int>& v, int perUnit, int unitsPer, const QColor& c) {
                for (int i = 1; i < n; ++i) {
                    const int a0 = std::min(v[static_cast<size_t>(i - 1)] * perUnit / unitsPer, 420);
                    const int a1 = std::min(v[static_cast<size_t>(i)] * perUnit / unitsPer, 420);
                    ReferenceLine(expected, TraceX(g, n, i - 1), g.MT + a0, TraceX(g, n, i), g.MT + a1, c);
                }
            };
            reference(rl, 14, 1, p.Rl);
            reference(ph, 7, 3, p.Phase);
            ASSERT_EQ(drawn, expected) << "n=" << n << " width=" << size.width();
        }
    }
}

}  // namespace
