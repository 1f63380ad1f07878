#include <gtest/gtest.h>

#include "PlotTestUtil.h"

namespace {

const QColor kFrame(0, 128, 0);
const QColor kSwrGrid(128, 0, 0);
const QColor kPhaseGrid(136, 0, 122);
const QColor kZGrid(125, 122, 0);

class AxesTest : public ::testing::Test {
protected:
    PlotGeometry g = Geometry();
    PlotPalette p;
    QImage img = AxesPicture(g, p);
    int W = g.W, H = g.H, ML = g.ML, MR = g.MR, MT = g.MT, MB = g.MB;
};

TEST_F(AxesTest, PictureIsTwentyFourBitOfThePanelSizeOnTheBackground)
{
    EXPECT_EQ(img.format(), QImage::Format_RGB888);
    EXPECT_EQ(img.width(), 1168);
    EXPECT_EQ(img.height(), 550);
    EXPECT_TRUE(Is(img, 0, 0, p.Background));
    EXPECT_TRUE(Is(img, W - 1, H - 1, p.Background));
    EXPECT_TRUE(Is(img, 600, 300, p.Background));
    EXPECT_TRUE(Is(img, ML + 1, 300, p.Background));
}

TEST_F(AxesTest, RedrawReplacesAnOldPictureOfAnotherSizeAndFormat)
{
    QImage old(20, 20, QImage::Format_ARGB32);
    old.fill(Qt::white);
    DrawAxes(old, g, p);
    EXPECT_EQ(old, img);
}

TEST_F(AxesTest, FrameHasBottomAndSidesButNoTopLine)
{
    for (int x = ML; x <= W - MR; ++x)
        ASSERT_TRUE(Is(img, x, H - MB, kFrame)) << "bottom line at x=" << x;
    for (int y = MT - 4; y <= H - MB; ++y) {
        ASSERT_TRUE(Is(img, ML, y, kFrame)) << "left line at y=" << y;
        ASSERT_TRUE(Is(img, W - MR, y, kFrame)) << "right line at y=" << y;
    }
    // The sides stop one pixel short of MT - 5.
    EXPECT_TRUE(Is(img, ML, MT - 5, p.Background));
    EXPECT_TRUE(Is(img, W - MR, MT - 5, p.Background));
    for (int x = ML + 1; x < W - MR; ++x) {
        ASSERT_TRUE(Is(img, x, MT - 4, p.Background)) << x;
        ASSERT_TRUE(Is(img, x, MT - 1, p.Background)) << x;
    }
}

TEST_F(AxesTest, SwrRowsLieOnALogScaleFromBottomToTop)
{
    const int rows[] = {510, 427, 369, 323, 286, 227, 181, 144, 113, 86, 62, 40};
    for (int y : rows) {
        // Tick from ML - 10 up to the frame line, which it does not touch.
        EXPECT_TRUE(Is(img, ML - 10, y, p.Swr)) << y;
        EXPECT_TRUE(Is(img, ML - 1, y, p.Swr)) << y;
        EXPECT_TRUE(Is(img, ML - 11, y, p.Background)) << y;
        EXPECT_FALSE(Is(img, ML - 5, y - 1, p.Swr)) << y;
        EXPECT_FALSE(Is(img, ML - 5, y + 1, p.Swr)) << y;
    }
    int ticks = 0;  // below the title
    for (int y = MT - 8; y < H; ++y)
        ticks += Is(img, ML - 5, y, p.Swr) ? 1 : 0;
    EXPECT_EQ(ticks, 12);
}

TEST_F(AxesTest, ReturnLossScaleHasAxisAndFourTicks)
{
    for (int y : {40, 196, 352, 510}) {
        EXPECT_TRUE(Is(img, ML - 40, y, p.Rl)) << y;
        EXPECT_TRUE(Is(img, ML - 36, y, p.Rl)) << y;
        EXPECT_TRUE(Is(img, ML - 35, y, p.Background)) << y;
        EXPECT_TRUE(Is(img, ML - 40, y - 1, p.Background)) << y;
        EXPECT_TRUE(Is(img, ML - 40, y + 1, p.Background)) << y;
    }
    for (int y = MT; y <= H - MB; ++y)
        ASSERT_TRUE(Is(img, ML - 45, y, p.Rl)) << y;
    EXPECT_TRUE(Is(img, ML - 45, MT - 1, p.Background));
    EXPECT_TRUE(Is(img, ML - 45, H - MB + 1, p.Background));
}

TEST_F(AxesTest, PhaseRowsWithDottedGridExceptAtTheBottom)
{
    for (int y : {40, 157, 274, 391, 510}) {
        EXPECT_TRUE(Is(img, W - MR + 1, y, p.Phase)) << y;
        EXPECT_TRUE(Is(img, W - MR + 10, y, p.Phase)) << y;
        EXPECT_FALSE(Is(img, W - MR + 5, y - 1, p.Phase)) << y;
        EXPECT_FALSE(Is(img, W - MR + 5, y + 1, p.Phase)) << y;
    }
    for (int y : {40, 157, 274, 391}) {
        // Three pixels on, three in the background colour, from ML + 2 up to the right frame line.
        EXPECT_TRUE(Is(img, ML + 1, y, p.Background)) << y;
        for (int x = ML + 2; x < W - MR; ++x)
            ASSERT_TRUE(Is(img, x, y, (x - ML - 2) % 6 < 3 ? kPhaseGrid : p.Background)) << x << "," << y;
    }
    EXPECT_TRUE(Is(img, 600, H - MB, kFrame));
}

TEST_F(AxesTest, ZRowsAndTheFiftyOhmGrid)
{
    for (int k = 0; k <= 8; ++k) {
        const int y = k == 8 ? 510 : 40 + 58 * k;
        EXPECT_TRUE(Is(img, W - MR + 50, y, p.Z)) << y;
        EXPECT_TRUE(Is(img, W - MR + 60, y, p.Z)) << y;
        EXPECT_FALSE(Is(img, W - MR + 55, y - 1, p.Z)) << y;
        EXPECT_FALSE(Is(img, W - MR + 55, y + 1, p.Z)) << y;
    }
    for (int y = MT; y <= H - MB; ++y)
        ASSERT_TRUE(Is(img, W - MR + 60, y, p.Z)) << y;
    EXPECT_TRUE(Is(img, ML + 2, 98, kZGrid));
    EXPECT_TRUE(Is(img, ML + 5, 98, p.Background));
    EXPECT_TRUE(Is(img, W - MR - 1, 98, kZGrid));
    // Only the 50-ohm row has a grid.
    EXPECT_TRUE(Is(img, ML + 2, 156, p.Background));
}

TEST_F(AxesTest, SwrGridOnlyAtOneAndAHalfTwoAndThree)
{
    for (int y : {427, 369, 286}) {
        EXPECT_TRUE(Is(img, ML + 2, y, kSwrGrid)) << y;
        EXPECT_TRUE(Is(img, ML + 4, y, kSwrGrid)) << y;
        EXPECT_TRUE(Is(img, ML + 5, y, p.Background)) << y;
        EXPECT_TRUE(Is(img, ML + 8, y, kSwrGrid)) << y;
    }
    for (int y : {323, 227, 181, 144, 113, 86, 62})
        EXPECT_TRUE(Is(img, ML + 2, y, p.Background)) << y;
}

// Bounding box of the pixels that differ from the background inside r.
QRect InkBox(const QImage& img, const QRect& r, const QColor& bg)
{
    QRect box;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (!Is(img, x, y, bg))
                box |= QRect(x, y, 1, 1);
    return box;
}

TEST_F(AxesTest, LabelsAreRightAlignedInTheirBoxesAroundTheirRows)
{
    // SWR "1.5" at y = 427 in the box ML - 40 .. ML - 15.
    const QRect swr = InkBox(img, QRect(ML - 44, 427 - 10, 33, 21), p.Background);
    ASSERT_FALSE(swr.isEmpty());
    EXPECT_GE(swr.left(), ML - 40);
    EXPECT_LE(swr.right(), ML - 16);
    EXPECT_GE(swr.right(), ML - 19);
    EXPECT_GE(swr.top(), 427 - 7);
    EXPECT_LE(swr.bottom(), 427 + 6);
    // Wider texts reach further left: "10 db" against "0 db".
    const QRect rl0 = InkBox(img, QRect(0, 40 - 7, ML - 50, 14), p.Background);
    const QRect rl10 = InkBox(img, QRect(0, 196 - 7, ML - 50, 14), p.Background);
    ASSERT_FALSE(rl0.isEmpty());
    EXPECT_LT(rl10.left(), rl0.left());
    EXPECT_LE(rl0.right(), ML - 51);
}

TEST_F(AxesTest, PhaseLabelsEndWithTheDegreeSign)
{
    // The degree sign is a small ring high up: the last columns of the label hold
    // ink only in the upper part of the text cell.
    const QRect box(W - MR + 10, 157 - 7, 30, 14);
    const QRect ink = InkBox(img, box, p.Background);
    ASSERT_FALSE(ink.isEmpty());
    const QRect tail = InkBox(img, QRect(ink.right() - 1, box.top(), 2, box.height()), p.Background);
    EXPECT_LE(tail.bottom(), 157);
    EXPECT_LT(tail.bottom(), ink.bottom() - 3);
}

TEST(AxesResize, RightScalesFollowTheRightEdgeLeftScalesStay)
{
    const PlotGeometry small = Geometry(1168, 550);
    const PlotGeometry wide = Geometry(1728, 550);
    const QImage a = AxesPicture(small);
    const QImage b = AxesPicture(wide);
    const PlotPalette p;
    for (int y = 0; y < 550; ++y)
        for (int x = 0; x < 90; ++x)
            ASSERT_EQ(PixelAt(a, x, y), PixelAt(b, x, y)) << x << "," << y;
    EXPECT_TRUE(Is(b, 1728 - 90, 300, QColor(0, 128, 0)));
    EXPECT_TRUE(Is(b, 1728 - 90 + 60, 300, p.Z));
    EXPECT_TRUE(Is(b, 1168 - 90, 300, p.Background));
}

TEST(AxesEdge, EmptyPanelGivesAnEmptyPicture)
{
    QImage img(10, 10, QImage::Format_RGB888);
    DrawAxes(img, Geometry(0, 0), PlotPalette());
    EXPECT_TRUE(img.isNull());
    // A panel smaller than its margins draws what fits, without a crash.
    QImage tiny;
    DrawAxes(tiny, Geometry(50, 30), PlotPalette());
    EXPECT_EQ(tiny.size(), QSize(50, 30));
}

}  // namespace
