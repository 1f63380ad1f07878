// A Touchstone file as the reference, averaging, the SWR bandwidth in the overlay and the
// picture with the read-outs, in the real window.
#include <QTemporaryDir>

#include <chrono>
#include <cmath>

#include "frmmain/FormFixture.h"
#include "measure/Bandwidth.h"
#include "measure/Readouts.h"
#include "measure/Touchstone.h"
#include "plot/PlotDraw.h"

namespace {

class AntennaTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        SizePanelAsDescribed();
        form->TitledErrorBox = [this](const QString& title, const QString& message) { errors << title + ": " + message; };
        ASSERT_TRUE(dir.isValid());
    }
    // An antenna's dip with noise of its own per sweep (seed).
    static Sample Dip(int i, int steps, int seed)
    {
        const int rl = 200 + int(600 * std::exp(-std::pow((i - steps / 2.0) / (steps / 8.0), 2))) + (i * 7 + seed * 13) % 23;
        return Counts((i * 11 + seed * 5) % 1024, rl);
    }
    QString Write(const QString& name, const std::string& text)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), qint64(text.size()));
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(AntennaTest, AFileReferenceLiesWhereTheKeptSweepWouldAlsoAfterAZoom)
{
    // Sweep A kept as the reference, behind sweep B, then behind a zoomed sweep C of an
    // unrelated step.
    auto a = [](int i) { return Dip(i, 150, 1); };
    auto b = [](int i) { return Dip(i, 150, 2); };
    auto c = [](int i) { return Dip(i, 37, 3); };
    form->cbRL->setChecked(true);
    DeliverSweep(7000, 7300, 150, a);
    form->Keepasreference1->trigger();
    TouchstoneSource source;
    source.Shape = SweepShape{7000, 7300, 150};
    const QString file = Write("DIPOLE.S1P", SweepTouchstone(form->Reference->List, source));
    DeliverSweep(7000, 7300, 150, b);
    const QImage keptBehindB = *form->PlotBitmap;
    DeliverSweep(7110, 7230, 37, c);
    const QImage keptBehindC = *form->PlotBitmap;

    form->Clearreference1->trigger();
    ASSERT_TRUE(form->OpenReferenceFile(file));
    EXPECT_TRUE(form->Clearreference1->isEnabled());
    EXPECT_EQ(*form->PlotBitmap, keptBehindC);
    DeliverSweep(7000, 7300, 150, b);
    EXPECT_EQ(*form->PlotBitmap, keptBehindB);

    // A file that cannot be read changes nothing and says why, its name in the title.
    const QString bad = Write("bad.s1p", "# MHz S MA R 50\n7 0.5 30\n7.2 0.5 30\n7.1 0.5 30\n");
    EXPECT_FALSE(form->OpenReferenceFile(bad));
    const QString twoPort = Write("filter.s2p", "# MHz S MA R 50\n7 0.5 30 0 0 0 0 0.5 30\n");
    EXPECT_FALSE(form->OpenReferenceFile(twoPort));
    EXPECT_EQ(errors, QStringList({"bad.s1p: Cannot read " + bad + " as a reference. Line 4: a frequency must be "
                                                                   "larger than the one before it.",
                                   "filter.s2p: Cannot read " + twoPort + " as a reference. It is a 2-port file; "
                                                                          "a reference is a one-port Touchstone file (.s1p)."}));
    form->RecomputeAndRedraw();
    EXPECT_EQ(*form->PlotBitmap, keptBehindB);

    form->Clearreference1->trigger();
    EXPECT_FALSE(form->Reference);
}

TEST_F(AntennaTest, AveragingShowsTheMeanOfTheLastSweepsAndStartsAfreshOnAChange)
{
    form->AverageItems[2]->trigger(); // 4 sweeps
    EXPECT_EQ(form->Average.Depth(), 4);
    for (int seed = 0; seed < 5; ++seed)
        DeliverSweep(14000, 14350, 100, [seed](int i) { return Dip(i, 100, seed); });
    EXPECT_EQ(form->Average.Count(), 4);
    // The return loss of every step is the mean of sweeps 1 to 4, worked out here.
    for (int i = 0; i < 100; i += 9) {
        Extended rl = 0;
        for (int seed = 1; seed < 5; ++seed) {
            const Sample s = Dip(i, 100, seed);
            rl += (s[2] + 256 * s[3]) * 0.05859375L - 20;
        }
        EXPECT_NEAR(double(form->VNAList->GetEntry(i)->RLdB), double(rl / 4), 1e-12) << i;
    }
    // The Lowest SWR row shows the mean's lowest SWR.
    EXPECT_EQ(form->lowswr_SWR->text().toStdString(),
              FormatReadoutRow(*form->VNAList->GetEntry(form->MinSwrIndex)).SWR);
    EXPECT_EQ(kestrin::SetupText(form->CurrentSetup()).find("average = 4\n") != std::string::npos, true);

    // Another range starts afresh; so does another R.L. Cal on the sweep on display.
    DeliverSweep(14000, 14300, 100, [](int i) { return Dip(i, 100, 9); });
    EXPECT_EQ(form->Average.Count(), 1);
    DeliverSweep(14000, 14300, 100, [](int i) { return Dip(i, 100, 8); });
    EXPECT_EQ(form->Average.Count(), 2);
    TypeInto(form->eCalRL, QStringLiteral("1"));
    Leave();
    form->RecomputeAndRedraw();
    EXPECT_EQ(form->Average.Count(), 1);
    EXPECT_NEAR(double(form->VNAList->GetEntry(0)->RLdB), (Dip(0, 100, 8)[2] + 256 * Dip(0, 100, 8)[3]) * 0.05859375 - 19,
                1e-12);
}

TEST_F(AntennaTest, TheBandwidthIsInTheOverlayAndThePictureHasTheReadouts)
{
    DeliverSweep(14000, 14350, 200, [](int i) { return Dip(i, 200, 0); });
    form->panelMouseDown(form->PlotPanel, Qt::LeftButton, {}, 300, 100);
    const SwrBandwidth bw = FindSwrBandwidth(*form->VNAList, form->MinSwrIndex, 2);
    ASSERT_TRUE(bw.Found && !bw.Low.Open && !bw.High.Open);
    // The line at SWR 2 from edge to edge, on screen only.
    const int y = form->MarginTop + form->PlotHeight - int(std::lround(std::log10(2.0) * form->PlotHeight));
    const FrequencyAxis axis{14000, 14350, 200};
    const int x0 = *FrequencyXAt(form->Geometry(), axis, bw.Low.FreqMHz * 1000);
    const int x1 = *FrequencyXAt(form->Geometry(), axis, bw.High.FreqMHz * 1000);
    const QColor white(255, 255, 255);
    const std::set<int> line = ColumnsWith(form->ShownPicture, white, y, y + 1);
    for (int x = x0; x <= x1; ++x)
        EXPECT_TRUE(line.count(x)) << x;
    EXPECT_TRUE(ColumnsWith(*form->PlotBitmap, white).empty());
    form->BandwidthItems[0]->trigger(); // off
    EXPECT_TRUE(ColumnsWith(form->ShownPicture, white, y, y + 1).empty());

    // The picture: the plot as on screen on top, the Values box's rows below.
    const QString path = dir.filePath("picture.png");
    ASSERT_TRUE(form->SavePictureFile(path));
    const QImage png(path);
    ASSERT_EQ(png.width(), form->ShownPicture.width());
    ASSERT_GT(png.height(), form->ShownPicture.height() + 5 * 12);
    EXPECT_EQ(png.copy(form->ShownPicture.rect()).convertToFormat(QImage::Format_RGB32), form->ShownPicture);
    const std::vector<PictureLine> lines = form->PictureLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(QStringList(lines[0].Cells.begin() + 1, lines[0].Cells.end()),
              QStringList({"Frequency", "SWR", "R.L.", "Phase", "|Z|", "Rs", "|Xs|", "L(uH)", "C(pF)", "Q"}));
    const char* rows[] = {"lowswr_", "marker1_", "marker2_"};
    const char* titles[] = {"Lowest SWR", "Marker 1", "Marker 2"};
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(lines[size_t(r + 1)].Cells[0], titles[r]);
        EXPECT_EQ(QStringList(lines[size_t(r + 1)].Cells.begin() + 1, lines[size_t(r + 1)].Cells.end()), Row(rows[r]));
    }
    EXPECT_FALSE(Row("marker1_")[0].isEmpty());
    EXPECT_EQ(lines[4].Cells[0], "Sweep 14 - 14.35 MHz, 200 steps");
    EXPECT_TRUE(lines[5].Cells[0].endsWith(" UTC"));
}

} // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
