#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <tuple>
#include <vector>

#include "PlotTestUtil.h"

namespace {

constexpr bool T = true, F = false;

QImage Draw(const TVNAList& list, TraceChoice choice, const PlotGeometry& g = Geometry())
{
    QImage img = AxesPicture(g);
    DrawTraces(img, g, PlotPalette(), list, choice);
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

const PlotGeometry g = Geometry(); // PW = 988, PH = 470
const PlotPalette p;

TEST(Traces, SamplePositionsForTenStepsAndHalvesToEven)
{
    const int expected[] = {91, 190, 289, 387, 486, 585, 684, 783, 881, 980};
    // 988 / 8 = 123.5: sample 1 at 123.5 -> 124, sample 3 at 370.5 -> 370.
    EXPECT_EQ(TraceX(g, 8, 1), 91 + 124);
    EXPECT_EQ(TraceX(g, 8, 3), 91 + 370);

    // A zigzag of |Z| between 0 and 50 ohm: every joint is a peak or a valley, so the
    // pixel row of the joint holds the trace in the joint's column and not beside it.
    auto list = MakeList(10, [](TVNAEntry& e, int i) { e.Z = i % 2 == 0 ? 0 : 50; });
    const QImage img = Draw(*list, TraceChoice{F, F, F, T, F, F});
    for (int i = 0; i < 9; ++i)
        for (const int x : {expected[i] - 1, expected[i], expected[i] + 1})
            EXPECT_EQ(Is(img, x, i % 2 == 0 ? 40 : 99, p.Z), x == expected[i]) << i << ": x = " << x;
}

TEST(Traces, ValuesLieOnTheirRowsAndBeyondTheFarEndOnItsLine)
{
    const PlotGeometry small = Geometry(1168, 300); // PH = 220
    const struct { const char* what; Extended TVNAEntry::*field; Extended value; TraceChoice choice; QColor c; int y;
                   const PlotGeometry& geometry; } cases[] = {
        {"SWR 1", &TVNAEntry::SWR, 1, {T, F, F, F, F, F}, p.Swr, 510, g},
        {"SWR 10", &TVNAEntry::SWR, 10, {T, F, F, F, F, F}, p.Swr, 40, g},
        {"SWR 25", &TVNAEntry::SWR, 25, {T, F, F, F, F, F}, p.Swr, 40, g},
        {"RL 45 dB", &TVNAEntry::RLdB, 45, {F, T, F, F, F, F}, p.Rl, 510, g},
        {"RL -3 dB, Round(PH / 10) above the top", &TVNAEntry::RLdB, -3, {F, T, F, F, F, F}, p.Rl, 40 - 22, small},
        {"phase 90", &TVNAEntry::PhaseDeg, 90, {F, F, T, F, F, F}, p.Phase, 40 + 235, g},
        {"phase 270", &TVNAEntry::PhaseDeg, 270, {F, F, T, F, F, F}, p.Phase, 510, g},
        {"|Z| 200", &TVNAEntry::Z, 200, {F, F, F, T, F, F}, p.Z, 40 + 235, g},
        {"|Z| 1000", &TVNAEntry::Z, 1000, {F, F, F, T, F, F}, p.Z, 510, g},
    };
    for (const auto& c : cases) {
        auto list = MakeList(10, [&](TVNAEntry& e, int) { e.*c.field = c.value; });
        const QImage img = Draw(*list, c.choice, c.geometry);
        EXPECT_EQ(Column(img, 500, c.c), std::vector<int>{c.y}) << c.what;
    }
}

TEST(Traces, SixTracesInOrderNoneWhenUnchecked)
{
    auto list = MakeList(10, [](TVNAEntry& e, int) {
        e.SWR = 1;
        e.RLdB = 30;
        e.PhaseDeg = 180;
        e.Z = e.Xs = e.Rs = 200;
    });
    // Later traces cover earlier ones in their own colours.
    const struct { TraceChoice choice; int y; QColor c; } cases[] = {
        {{T, T, T, T, T, T}, 275, p.Rs}, {{T, T, T, T, T, F}, 275, p.Xs}, {{T, T, T, T, F, F}, 275, p.Z},
        {{T, T, T, F, F, F}, 510, p.Phase}, {{T, T, F, F, F, F}, 510, p.Rl}, {{T, F, F, F, F, F}, 510, p.Swr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Draw(*list, c.choice).pixelColor(500, c.y), c.c) << c.y;
    EXPECT_EQ(Draw(*list, TraceChoice{F, F, F, F, F, F}), AxesPicture(g));
    EXPECT_EQ(Draw(TVNAList(), TraceChoice()), AxesPicture(g));
}

// The line rule written the plain way, without clipping or a start mid-line; ties decided as
// the display drivers of the platform the pictures come from decide them.
void ReferenceLine(QImage& img, int x0, int y0, int x1, int y1, const QColor& c)
{
    const int dx = x1 - x0, dy = y1 - y0, adx = std::abs(dx), ady = std::abs(dy);
    // Octants 3, 5, 6 and 8 (counted from +x towards +y) take the step on a tie.
    const bool tieSteps = dy > 0 ? (dx <= 0 && -dx <= dy) : (dx < 0 || dx > -dy);
    const bool xMajor = adx > ady;
    const int major = xMajor ? adx : ady, minor = xMajor ? ady : adx, sx = dx > 0 ? 1 : -1, sy = dy > 0 ? 1 : -1;
    int x = x0, y = y0, err = 2 * minor - major + (tieSteps ? 1 : 0);
    for (int k = 0; k < major; ++k) {
        if (x >= 0 && y >= 0 && x < img.width() && y < img.height())
            img.setPixelColor(x, y, c);
        if (err > 0) {
            (xMajor ? y : x) += xMajor ? sy : sx;
            err -= 2 * major;
        }
        err += 2 * minor;
        (xMajor ? x : y) += xMajor ? sx : sy;
    }
}

// Also shows each trace an open polyline whose last pixel is left out.
TEST(TracePixels, SameAsThePlainLineRuleForRandomTraces)
{
    // Heights with PH = 420 and 30: 14 or 1 pixels per dB and per 6 degrees, so every y is an
    // integer the test knows without rounding; return losses down to -1000 dB leave the picture upwards.
    std::minstd_rand random(2024);
    const auto next = [&random](int range) { return int(random() % unsigned(range)); };
    for (const QSize size : {QSize(1728, 500), QSize(1168, 500), QSize(1728, 110)}) {
        for (const int n : {10, 57, 500, 4000}) {
            const PlotGeometry panel = Geometry(size.width(), size.height());
            auto list = MakeList(n, [&](TVNAEntry& e, int) {
                e.RLdB = next(8) == 0 ? -next(1000) : next(40);
                e.PhaseDeg = 6 * next(40); // beyond 180 clipped
            });
            QImage drawn = AxesPicture(panel, p), expected = drawn;
            DrawTraces(drawn, panel, p, *list, TraceChoice{F, T, T, F, F, F});
            const auto y = [&](Extended units) { return panel.MT + std::min(int(units) * panel.PH() / 30, panel.PH()); };
            for (const auto& [field, unit, c] : {std::tuple{&TVNAEntry::RLdB, 1, p.Rl}, std::tuple{&TVNAEntry::PhaseDeg, 6, p.Phase}})
                for (int i = 1; i < n; ++i)
                    ReferenceLine(expected, TraceX(panel, n, i - 1), y(list->GetEntry(i - 1)->*field / unit),
                                  TraceX(panel, n, i), y(list->GetEntry(i)->*field / unit), c);
            ASSERT_EQ(drawn, expected) << "n=" << n << " size=" << size.width() << "x" << size.height();
        }
    }
}

} // namespace
