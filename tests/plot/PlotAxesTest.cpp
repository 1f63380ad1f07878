#include <gtest/gtest.h>

#include <vector>

#include "PlotTestUtil.h"

namespace {

const QColor kFrame(0, 128, 0);

class AxesTest : public ::testing::Test {
protected:
    PlotGeometry g = Geometry();
    PlotPalette p;
    QImage img = AxesPicture(g, p);
    int W = g.W, H = g.H, ML = g.ML, MR = g.MR, MT = g.MT, MB = g.MB;
};

TEST_F(AxesTest, TwentyFourBitPictureOnTheBackgroundWithAFrameWithoutTopLine)
{
    EXPECT_EQ(img.format(), QImage::Format_RGB888);
    EXPECT_EQ(img.size(), QSize(1168, 550));
    for (const QPoint& at : {QPoint(0, 0), QPoint(W - 1, H - 1), QPoint(600, 300), QPoint(ML + 1, 300)})
        EXPECT_EQ(img.pixelColor(at), p.Background) << at.x() << "," << at.y();

    for (int x = ML; x <= W - MR; ++x) {
        ASSERT_TRUE(Is(img, x, H - MB, kFrame)) << "bottom line at x=" << x;
        ASSERT_TRUE(x == ML || x == W - MR || Is(img, x, MT - 4, p.Background)) << "top line at x=" << x;
    }
    for (int y = MT - 4; y <= H - MB; ++y)
        ASSERT_TRUE(Is(img, ML, y, kFrame) && Is(img, W - MR, y, kFrame)) << "side line at y=" << y;
    EXPECT_TRUE(Is(img, ML, MT - 5, p.Background) && Is(img, W - MR, MT - 5, p.Background));
}

TEST_F(AxesTest, ScaleRowsAndOnePixelOfEachGrid)
{
    struct Pixel { int x, y; QColor c; };
    std::vector<Pixel> want;
    // SWR 1, 1.5, 2, 2.5, 3, 4, 5, 6, 7, 8, 9, 10 on a log scale: ticks from ML - 10 to ML - 1.
    for (int y : {510, 427, 369, 323, 286, 227, 181, 144, 113, 86, 62, 40})
        want.insert(want.end(), {{ML - 10, y, p.Swr}, {ML - 1, y, p.Swr}, {ML - 11, y, p.Background},
                                 {ML - 5, y - 1, p.Background}, {ML - 5, y + 1, p.Background}});
    // Return loss 0, 10, 20, 30 dB: ticks from ML - 40 to ML - 36 off the axis at ML - 45.
    for (int y : {40, 196, 352, 510})
        want.insert(want.end(), {{ML - 40, y, p.Rl}, {ML - 36, y, p.Rl}, {ML - 35, y, p.Background},
                                 {ML - 40, y + 1, p.Background}, {ML - 45, y, p.Rl}});
    want.insert(want.end(), {{ML - 45, MT - 1, p.Background}, {ML - 45, H - MB + 1, p.Background}});
    // Phase 180, 135, 90, 45, 0 degrees right of the frame.
    for (int y : {40, 157, 274, 391, 510})
        want.insert(want.end(), {{W - MR + 1, y, p.Phase}, {W - MR + 10, y, p.Phase}, {W - MR + 5, y + 1, p.Background}});
    // |Z|, Xs, Rs 0 to 1000 ohm: nine rows with ticks off the axis at W - MR + 60.
    for (int y : {40, 98, 156, 214, 272, 330, 388, 446, 510})
        want.insert(want.end(), {{W - MR + 50, y, p.Z}, {W - MR + 60, y, p.Z}, {W - MR + 55, y + 1, p.Background}});
    // Grids: SWR 1.5, 2 and 3 dashed; phase dotted except at the bottom; |Z| only at 50 ohm.
    const QColor swrGrid(128, 0, 0), phaseGrid(136, 0, 122), zGrid(125, 122, 0);
    for (int y : {427, 369, 286})
        want.insert(want.end(), {{ML + 2, y, swrGrid}, {ML + 4, y, swrGrid}, {ML + 5, y, p.Background}, {ML + 8, y, swrGrid}});
    for (int y : {323, 227, 62})
        want.push_back({ML + 2, y, p.Background});
    for (int y : {40, 157, 274, 391})
        want.insert(want.end(), {{ML + 1, y, p.Background}, {ML + 2, y, phaseGrid}, {ML + 4, y, phaseGrid},
                                 {ML + 5, y, p.Background}, {ML + 8, y, phaseGrid}, {W - MR - 1, y, phaseGrid}});
    want.insert(want.end(), {{ML + 2, 98, zGrid}, {ML + 5, 98, p.Background}, {W - MR - 1, 98, zGrid},
                             {ML + 2, 156, p.Background}});
    for (const Pixel& px : want)
        EXPECT_EQ(img.pixelColor(px.x, px.y), px.c) << px.x << "," << px.y;

    int swrTicks = 0; // below the title
    for (int y = MT - 8; y < H; ++y)
        swrTicks += Is(img, ML - 5, y, p.Swr) ? 1 : 0;
    EXPECT_EQ(swrTicks, 12);
}

TEST_F(AxesTest, LabelsRightAlignedBesideTheirRowsPhaseWithTheDegreeSign)
{
    // SWR "1.5" at y = 427 in the box ML - 40 .. ML - 15.
    const QRect swr = InkBox(img, QRect(ML - 44, 427 - 10, 33, 21), p.Background);
    EXPECT_TRUE(swr.left() >= ML - 40 && swr.right() <= ML - 16 && swr.right() >= ML - 19) << swr.left() << ".." << swr.right();
    EXPECT_TRUE(swr.top() >= 427 - 7 && swr.bottom() <= 427 + 6) << swr.top() << ".." << swr.bottom();
    // The degree sign is a small ring high up: the last columns of "135°" hold ink only in the upper part.
    const QRect ink = InkBox(img, QRect(W - MR + 10, 157 - 7, 30, 14), p.Background);
    const QRect tail = InkBox(img, QRect(ink.right() - 1, 157 - 7, 2, 14), p.Background);
    EXPECT_LE(tail.bottom(), 157);
    EXPECT_LT(tail.bottom(), ink.bottom() - 3);
}

TEST(AxesSize, RightScalesFollowTheRightEdgeAndAnEmptyPanelGivesAnEmptyPicture)
{
    const QImage a = AxesPicture(Geometry(1168, 550)), b = AxesPicture(Geometry(1728, 550));
    EXPECT_EQ(a.copy(0, 0, 90, 550), b.copy(0, 0, 90, 550));
    EXPECT_TRUE(Is(b, 1728 - 90, 300, QColor(0, 128, 0)));
    EXPECT_TRUE(Is(b, 1728 - 90 + 60, 300, PlotPalette().Z));
    EXPECT_TRUE(Is(b, 1168 - 90, 300, PlotPalette().Background));

    QImage img(10, 10, QImage::Format_RGB888);
    DrawAxes(img, Geometry(0, 0), PlotPalette());
    EXPECT_TRUE(img.isNull());
    // A panel smaller than its margins draws what fits, without a crash.
    EXPECT_EQ(AxesPicture(Geometry(50, 30)).size(), QSize(50, 30));
}

} // namespace
