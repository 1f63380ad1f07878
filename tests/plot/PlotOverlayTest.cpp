#include <gtest/gtest.h>

#include <tuple>

#include "PlotTestUtil.h"

namespace {

const QColor kMarker(0, 0, 255), kMinSwr(0, 255, 0), kFrame(0, 128, 0);

class OverlayTest : public ::testing::Test {
protected:
    PlotGeometry g = Geometry(); // PW = 988
    PlotPalette p;
    QImage axes = AxesPicture(g, p);

    QImage Overlay(int n, int m1, int m2, int minSwr)
    {
        QImage img = axes;
        DrawOverlay(img, g, p, n, m1, m2, minSwr);
        return img;
    }
};

TEST_F(OverlayTest, ClickPositionToSampleIndex)
{
    // Outside the plot's width: -1 clears the marker. With 494 steps of 2 pixels, 0.5 rounds to 0 and 1.5 to 2.
    const struct { int n, x, index; } cases[] = {
        {500, 584, 250}, {500, 585, 251}, {500, 90 + 988, 499}, {500, 90, 0}, {500, 89, -1}, {500, 90 + 989, -1},
        {494, 91, 0}, {494, 93, 2}, {0, 500, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MarkerIndexFromX(g, c.n, c.x), c.index) << c.n << " steps, x = " << c.x;
}

TEST_F(OverlayTest, DashedMarkerLineWithItsLabelBelowTheFrame)
{
    const QImage img = Overlay(500, 250, -1, -1);
    // 18 pixels on, 6 in the background colour, from MT down to one above the bottom line.
    for (int y = 40; y < 510; ++y)
        ASSERT_TRUE(Is(img, 584, y, (y - 40) % 24 < 18 ? kMarker : p.Background)) << y;
    EXPECT_FALSE(Is(img, 584, 39, kMarker) || Is(img, 583, 100, kMarker) || Is(img, 585, 100, kMarker));

    // "m1" from x = 579 on an opaque cell that hides the frame line where it starts.
    const QRect ink = InkBox(img, QRect(570, 511, 40, 20), p.Background);
    EXPECT_TRUE(ink.left() >= 579 && ink.left() <= 581) << ink.left();
    EXPECT_TRUE(Is(img, 578, 510, kFrame));
    EXPECT_FALSE(Is(img, 580, 510, kFrame));
}

TEST_F(OverlayTest, BothMarkersAndTheLowestSwrLineNoneOutside)
{
    const QImage img = Overlay(500, 100, 400, 300);
    EXPECT_TRUE(Is(img, 90 + 198, 40, kMarker));      // Round(197.6) + 90
    EXPECT_TRUE(Is(img, 90 + 790, 40, kMarker));      // Round(790.4) + 90
    EXPECT_TRUE(Is(img, 90 + 593, 40, kMinSwr));      // Round(592.8) + 90
    EXPECT_TRUE(Is(img, 90 + 593, 60, p.Background)); // a gap of the dash
    // No label for the lowest SWR: the frame line below it is untouched.
    for (int x = 90 + 593 - 6; x < 90 + 593 + 20; ++x)
        ASSERT_TRUE(Is(img, x, 510, kFrame)) << x;
    EXPECT_TRUE(Is(Overlay(500, 499, -1, -1), 90 + 986, 40, kMarker)); // Round(986.024) + 90

    EXPECT_EQ(Overlay(500, -1, 500, 600), axes);
    EXPECT_EQ(Overlay(0, 1, 2, 3), axes);
}

// Sample 0 stands on the left frame line: the dashes over it, the frame in their gaps.
TEST_F(OverlayTest, LinesAtIndexZeroLieOnTheLeftFrameLine)
{
    ASSERT_TRUE(Is(axes, 90, 60, kFrame));
    for (const auto& [m1, m2, minSwr, colour] :
         {std::tuple(0, -1, -1, kMarker), std::tuple(-1, 0, -1, kMarker), std::tuple(-1, -1, 0, kMinSwr)}) {
        const QImage img = Overlay(500, m1, m2, minSwr);
        for (int y = 40; y < 510; ++y)
            ASSERT_TRUE(Is(img, 90, y, (y - 40) % 24 < 18 ? colour : kFrame)) << y;
        EXPECT_TRUE(Is(img, 89, 100, p.Background) && Is(img, 91, 100, p.Background));
    }
    // The lowest SWR is drawn last, over a marker on the same sample.
    EXPECT_TRUE(Is(Overlay(500, 0, 0, 0), 90, 40, kMinSwr));
}

TEST_F(OverlayTest, TheShownPictureIsThePlotWithTheOverlayInTheScreensFormat)
{
    // Markers close together, so that "m2" covers part of "m1": the same pixels as on the
    // 24-bit picture, in the 32-bit format a window paints from.
    QImage shown;
    for (const auto& [overlay, m1, m2, minSwr] : {std::tuple{true, 100, 103, 300}, std::tuple{true, 499, 0, 1},
                                                 std::tuple{false, 100, 400, 300}}) {
        ComposeShown(shown, axes, g, p, overlay, 500, m1, m2, minSwr);
        ASSERT_EQ(shown.format(), QImage::Format_RGB32);
        EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB888), overlay ? Overlay(500, m1, m2, minSwr) : axes) << m1;
    }
    EXPECT_TRUE(Is(axes, 90 + 198, 40, p.Background)); // the plot itself untouched
    ComposeShown(shown, QImage(), g, p, true, 500, 100, 400, 300);
    EXPECT_TRUE(shown.isNull());
}

} // namespace
