// The plot at a screen's device pixel ratio: a picture of the device's pixels in which every
// line stands where it stands in logical pixels, lines of one kind come out in one width of
// whole device pixels, and traces and text are drawn at the device's resolution.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "PlotTestUtil.h"

namespace {

const QColor kFrame(0, 128, 0), kMarker(0, 0, 255), kMinSwr(0, 255, 0);
const QColor kSwrGrid(128, 0, 0), kPhaseGrid(136, 0, 122), kZGrid(125, 122, 0);

const PlotGeometry g = Geometry(); // 1168 x 550: ML 90, W - MR 1078, MT 40, H - MB 510
const PlotPalette p;

QImage AxesAt(qreal ratio)
{
    QImage img;
    DrawAxes(img, g, p, ratio);
    return img;
}

// The device pixel that holds the centre of logical pixel (x, y).
QPoint Centre(int x, int y, qreal ratio)
{
    return QPoint(int(std::floor((x + 0.5) * ratio)), int(std::floor((y + 0.5) * ratio)));
}

// The runs of colour c (true) and of anything else (false) along a line of pixels.
std::vector<std::pair<bool, int>> Runs(const QImage& img, QPoint from, QPoint step, int count, const QColor& c)
{
    std::vector<std::pair<bool, int>> runs;
    for (int k = 0; k < count; ++k) {
        const bool on = Is(img, from.x() + k * step.x(), from.y() + k * step.y(), c);
        if (runs.empty() || runs.back().first != on)
            runs.emplace_back(on, 0);
        ++runs.back().second;
    }
    return runs;
}

TEST(RatioPicture, DeviceSizeAndEveryLineInItsLogicalPlace)
{
    const QImage plain = AxesPicture(g, p);
    QImage plainShown;
    ComposeShown(plainShown, plain, g, p, true, 500, 250, 100, 300);
    for (const auto& [ratio, size] : {std::pair{1.5, QSize(1752, 825)}, std::pair{2.0, QSize(2336, 1100)}}) {
        SCOPED_TRACE(ratio);
        const QImage img = AxesAt(ratio);
        EXPECT_EQ(img.size(), size);
        EXPECT_EQ(img.format(), QImage::Format_RGB888);
        EXPECT_EQ(img.devicePixelRatio(), ratio);
        QImage shown;
        ComposeShown(shown, img, g, p, true, 500, 250, 100, 300);
        EXPECT_EQ(shown.size(), size);
        EXPECT_EQ(shown.devicePixelRatio(), ratio);
        // Frame, grid rows with their dots, and the dashed marker and lowest-SWR lines (their
        // labels hang below the frame) at the same logical places.
        for (int y = 0; y < g.H; ++y) {
            for (int x = 0; x < g.W; ++x) {
                const QColor c = plainShown.pixelColor(x, y);
                const bool line = c == kFrame || c == kSwrGrid || c == kPhaseGrid || c == kZGrid ||
                                  ((c == kMarker || c == kMinSwr) && y < g.H - g.MB);
                if (line) {
                    ASSERT_EQ(shown.pixelColor(Centre(x, y, ratio)), c) << x << "," << y;
                }
            }
        }
    }
    // A side of an odd length is covered whole.
    QImage odd;
    DrawAxes(odd, Geometry(1167, 551), p, 1.5);
    EXPECT_EQ(odd.size(), QSize(1751, 827));
}

TEST(RatioPicture, LinesOfOneKindComeOutInOneWidthWithTheirDotsScaled)
{
    for (const auto& [ratio, width] : {std::pair{1.25, 1}, std::pair{1.5, 2}, std::pair{2.0, 2}}) {
        SCOPED_TRACE(ratio);
        const QImage img = AxesAt(ratio);
        // Across each line, at every place along it: width pixels of its colour in a row.
        const auto across = [&](QPoint centre, QPoint step, const QColor& c) {
            const std::vector<std::pair<bool, int>> runs = Runs(img, centre - 4 * step, step, 9, c);
            return runs.size() == 3 && runs[1].first ? runs[1].second : -1;
        };
        for (int x = g.ML + 1; x < g.W - g.MR; ++x)
            ASSERT_EQ(across(Centre(x, g.H - g.MB, ratio), QPoint(0, 1), kFrame), width) << "bottom line at x=" << x;
        for (int y = g.MT - 4; y < g.H - g.MB; ++y) {
            ASSERT_EQ(across(Centre(g.ML, y, ratio), QPoint(1, 0), kFrame), width) << "left line at y=" << y;
            ASSERT_EQ(across(Centre(g.W - g.MR, y, ratio), QPoint(1, 0), kFrame), width) << "right line at y=" << y;
        }
        // The phase grid at 45 degrees, y = 157: every dot width pixels high; dots and gaps
        // of 3 logical pixels, so 3 x ratio device pixels, rounded either way.
        const QPoint start = Centre(g.ML + 2, 157, ratio);
        const int length = Centre(g.W - g.MR, 157, ratio).x() - start.x();
        const std::vector<std::pair<bool, int>> runs = Runs(img, start, QPoint(1, 0), length, kPhaseGrid);
        ASSERT_GT(runs.size(), 200u);
        for (size_t i = 1; i + 2 < runs.size(); ++i) // the first and last dots may be cut
            ASSERT_TRUE(runs[i].second == int(std::floor(3 * ratio)) || runs[i].second == int(std::ceil(3 * ratio)))
                << "run " << i << " of " << runs[i].second;
        for (int x = start.x(); x < start.x() + length; ++x)
            if (Is(img, x, start.y(), kPhaseGrid)) {
                ASSERT_EQ(across(QPoint(x, start.y()), QPoint(0, 1), kPhaseGrid), width) << "grid at x=" << x;
            }
    }
}

TEST(RatioPicture, TracesAndLabelsAtTheDeviceResolutionNotMagnified)
{
    // |Z| rising by 1 ohm a sample: a shallow slope, 1.2 logical pixels down per 10 across.
    auto list = MakeList(100, [](TVNAEntry& e, int i) { e.Z = 1.0L * i; });
    QImage plain = AxesPicture(g, p), img = AxesAt(2);
    DrawTraces(plain, g, p, *list, TraceChoice{false, false, false, true, false, false});
    DrawTraces(img, g, p, *list, TraceChoice{false, false, false, true, false, false});

    // Two device pixels high in every column, stepping by one device pixel: a magnified
    // picture would step by two, from even rows only.
    std::vector<int> tops;
    for (int x = 2 * (g.ML + 3); x < 2 * (g.W - g.MR - 10); ++x) {
        int top = -1, count = 0;
        for (int y = 2 * g.MT; y < 2 * (g.H - g.MB); ++y)
            if (Is(img, x, y, p.Z)) {
                top = top < 0 ? y : top;
                ++count;
            }
        ASSERT_EQ(count, 2) << "x=" << x;
        tops.push_back(top);
    }
    int odd = 0;
    for (size_t i = 1; i < tops.size(); ++i) {
        ASSERT_LE(std::abs(tops[i] - tops[i - 1]), 1) << i;
        odd += tops[i] % 2;
    }
    EXPECT_GT(odd, 0);

    // The labels of the left scales: drawn anew at twice the size, not the small ones doubled,
    // so some 2 x 2 blocks are not one colour.
    const QRect labels(0, 0, 2 * (g.ML - 12), 2 * g.H);
    const QImage doubled = plain.scaled(plain.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    EXPECT_NE(img.copy(labels), doubled.copy(labels));
    int mixedBlocks = 0;
    for (int y = labels.top(); y < labels.bottom(); y += 2)
        for (int x = labels.left(); x < labels.right(); x += 2) {
            const QColor c = img.pixelColor(x, y);
            mixedBlocks += img.pixelColor(x + 1, y) != c || img.pixelColor(x, y + 1) != c || img.pixelColor(x + 1, y + 1) != c;
        }
    EXPECT_GT(mixedBlocks, 50);
}


// Save Picture at a screen's ratio: the plot as shown, pixel for pixel and no wider, with the
// read-out band below it, at 125 % and 150 % (odd logical sides whose device sides round up)
// and at 200 %.
TEST(RatioPicture, PictureWithTheReadoutsKeepsTheShownPlotsPixels)
{
    std::vector<PictureLine> lines(3);
    lines[0] = {{"", "Frequency", "SWR"}, true};
    lines[1] = {{"Lowest SWR", "14.180", "1.07"}, true, 2};
    lines[2] = {{"Sweep 13 - 15 MHz, 200 steps"}};
    for (const qreal ratio : {1.25, 1.5, 2.0}) {
        SCOPED_TRACE(ratio);
        // The panel's picture: each side the device pixels that cover the logical side.
        QImage shown(int(std::ceil(801 * ratio)), int(std::ceil(451 * ratio)), QImage::Format_RGB32);
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                shown.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
        shown.setDevicePixelRatio(ratio);
        const QImage out = PictureWithText(shown, p, lines);
        ASSERT_EQ(out.width(), shown.width());
        ASSERT_GT(out.height(), shown.height() + int(3 * 12 * ratio));
        QImage top = out.copy(shown.rect()).convertToFormat(QImage::Format_RGB32);
        top.setDevicePixelRatio(ratio);
        EXPECT_EQ(top, shown);
        // The text lies in the band, clear of the picture's bottom edge.
        int lowestText = -1;
        for (int y = shown.height(); y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x)
                if (out.pixelColor(x, y) != p.Background)
                    lowestText = y;
        EXPECT_GT(lowestText, shown.height());
        EXPECT_LT(lowestText, out.height() - 1);
    }
}

} // namespace
