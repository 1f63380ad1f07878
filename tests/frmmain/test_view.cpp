// Reading the plot in the real window: the frequency scale, the values under the cursor and a
// reference sweep kept for comparison (the View menu).
#include <QTemporaryDir>
#include <QToolTip>

#include <algorithm>
#include <iterator>

#include "frmmain/FormFixture.h"
#include "plot/PlotDraw.h"
#include "plot/TPanelPlus.h"

namespace {

const QColor Frame(0, 128, 0);
// The reference's colours: each live trace's colour averaged with the background 0,0,56,
// rounded down.
const QColor ReferenceSwr(112, 24, 52), ReferencePhase(112, 0, 129), ReferenceZ(101, 101, 28),
    ReferenceXs(96, 96, 124);
constexpr int ML = 90, MT = 40, Bottom = 550 - 40;

class ViewTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        SizePanelAsDescribed();
    }
    void TearDown() override
    {
        QToolTip::hideText();
        FormTest::TearDown();
    }

    // Columns of the plot picture with colour c in row y.
    std::vector<int> Row(int y, const QColor& c)
    {
        std::vector<int> xs;
        for (int x = 0; x < form->PlotBitmap->width(); ++x)
            if (form->PlotBitmap->pixelColor(x, y) == c)
                xs.push_back(x);
        return xs;
    }
    // The mouse moved to (x, y) over the panel, no button held.
    void MoveTo(int x, int y)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, y), form->PlotPanel->mapToGlobal(QPointF(x, y)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(form->PlotPanel, &move);
    }
    // The tooltip's text, empty while none is shown.
    QString Tip() { return QToolTip::isVisible() ? QToolTip::text() : QString(); }
    // Whether the tooltip is gone, after Qt's short delay in taking it away.
    bool TipGone() { return QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 10000); }
    QPoint TipPosition()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QTipLabel") && w->isVisible())
                return w->pos();
        return QPoint(-1, -1);
    }
    // Pixels of the plot picture that differ from the empty plot, in rows up to the bottom frame line.
    std::vector<QPoint> TracePixels(const QImage& picture)
    {
        QImage axes;
        DrawAxes(axes, form->Geometry(), form->Palette());
        std::vector<QPoint> traced;
        for (int y = 0; y <= Bottom; ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (picture.pixelColor(x, y) != axes.pixelColor(x, y))
                    traced.emplace_back(x, y);
        return traced;
    }
};

TEST_F(ViewTest, ScaleComesWithDataStaysOutOfThePlotAreaAndTheMenuSwitchesIt)
{
    // The View menu after Generator, before Help; keeping a reference needs data, clearing one a reference.
    const QList<QAction*> menus = form->MainMenu1->actions();
    ASSERT_EQ(menus.size(), 6);
    EXPECT_EQ(menus[4]->menu(), form->View1);
    QStringList items;
    for (QAction* a : form->View1->actions())
        items << a->text() + (a->isEnabled() ? " on" : " off") + (a->isChecked() ? " checked" : "");
    EXPECT_EQ(items, QStringList({"&Keep as reference off", "&Clear reference off", "&Frequency scale on checked",
                                  " on", "&Average on", "SWR &bandwidth on"}));

    // Before the first sweep nothing is drawn below the bottom frame line.
    for (int y = Bottom + 1; y < 550; ++y)
        ASSERT_TRUE(Row(y, Frame).empty()) << y;

    // A 40 m sweep of 300 steps: ticks every 50 kHz.
    DeliverSweep(7000, 7300, 300, [](int i) { return Counts(3 * i, 400 + i); });
    EXPECT_TRUE(form->Keepasreference1->isEnabled() && !form->Clearreference1->isEnabled());
    const std::vector<int> ticks = {91, 256, 420, 585, 750, 914, 1079};
    EXPECT_EQ(Row(Bottom + 1, Frame), ticks);
    EXPECT_EQ(Row(Bottom + 4, Frame), ticks);
    const QImage withScale = *form->PlotBitmap;

    // Switched off: the same plot area, nothing below it; a full redraw each time.
    const int redraws = form->FullRedraws;
    form->Frequencyscale1->trigger();
    EXPECT_FALSE(form->Frequencyscale1->isChecked());
    EXPECT_EQ(form->FullRedraws, redraws + 1);
    EXPECT_EQ(form->PlotBitmap->copy(0, 0, 1168, Bottom + 1), withScale.copy(0, 0, 1168, Bottom + 1));
    for (int y = Bottom + 1; y < 550; ++y)
        ASSERT_TRUE(Row(y, Frame).empty()) << y;
    form->Frequencyscale1->trigger();
    EXPECT_EQ(*form->PlotBitmap, withScale);

    // A saved picture carries it.
    QTemporaryDir dir;
    const QString path = dir.filePath("scale.bmp");
    form->SaveDialogRun = [&](QFileDialog&) { return path; };
    form->BMPSaveClick();
    EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB888), withScale);
}

TEST_F(ViewTest, TooltipShowsTheSampleUnderTheCursorWithoutARedraw)
{
    // Before data there is no tip.
    MoveTo(584, 300);
    EXPECT_EQ(Tip(), QString());

    // 500 samples of 0.1 MHz from 1 MHz; sample 250 (26 MHz) has the worked example's counts.
    DeliverSweep(1000, 51000, 500, [](int i) { return i == 250 ? Counts(512, 512) : Counts(100 + i % 50, 300); });
    const int redraws = form->FullRedraws;
    MoveTo(584, 300);
    EXPECT_EQ(Tip(), QString::fromUtf8("26.000 MHz\nSWR 1.92\nR.L. 10.0 dB\nPhase 90.0\u00B0\n|Z| 50.00 \u03A9"));
    // It follows the cursor, also within one sample.
    const QPoint at = TipPosition();
    MoveTo(584, 330);
    EXPECT_EQ(TipPosition(), at + QPoint(0, 30));
    MoveTo(585, 300);
    EXPECT_TRUE(Tip().startsWith("26.100 MHz\nSWR ")) << Tip().toStdString();

    // Outside the plot area it goes; the frame lines still belong to it.
    const struct {
        int x, y;
        bool shown;
    } places[] = {
        {ML - 1, 300, false}, {ML, 300, true},          {ML + 989, 300, false}, {ML + 988, 300, true},
        {584, MT - 1, false}, {584, MT, true},          {584, Bottom + 1, false}, {584, Bottom, true},
    };
    for (const auto& p : places) {
        MoveTo(p.x, p.y);
        if (p.shown)
            EXPECT_FALSE(Tip().isEmpty()) << p.x << "," << p.y;
        else
            EXPECT_TRUE(TipGone()) << p.x << "," << p.y;
    }
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(form->PlotPanel, &leave);
    EXPECT_TRUE(TipGone());
    EXPECT_EQ(form->FullRedraws, redraws);

    // A new sweep of the same shape gives the tip its new values; one of another shape takes it away.
    MoveTo(584, 300);
    DeliverSweep(1000, 51000, 500, [](int) { return Counts(0, 1023); });
    EXPECT_TRUE(Tip().startsWith("26.000 MHz\nSWR 1.02\n")) << Tip().toStdString();
    DeliverSweep(1000, 51000, 400, [](int) { return Counts(0, 1023); });
    EXPECT_TRUE(TipGone());
}

TEST_F(ViewTest, AReferenceShowsTheOldTracesDimmedUntilCleared)
{
    DeliverSweep(7000, 7300, 300, [](int i) { return Counts(2 * i, 300 + 2 * i); });
    const std::vector<QPoint> oldTraces = TracePixels(*form->PlotBitmap);
    // A calibration typed in shows only with the next sweep: the reference keeps what the
    // screen shows, the traces of 0 dB.
    TypeInto(form->eCalRL, "6");
    Leave();
    ASSERT_EQ(form->RLCalDb, 6);
    form->Keepasreference1->trigger();
    EXPECT_TRUE(form->Clearreference1->isEnabled());
    DeliverSweep(7000, 7300, 300, [](int i) { return Counts(2 * i, 300 + 2 * i); });
    const QImage withReference = *form->PlotBitmap;

    form->Clearreference1->trigger();
    EXPECT_FALSE(form->Clearreference1->isEnabled());
    const QImage without = *form->PlotBitmap;
    // Inside the frame only traces are drawn (the scales' smoothed labels outside hold such shades).
    const QRect area(ML + 1, MT + 1, 987, Bottom - MT - 1);
    const QColor dimmed[] = {ReferenceSwr, ReferencePhase, ReferenceZ, ReferenceXs};
    for (const QColor& c : dimmed)
        EXPECT_TRUE(ColumnsWith(without.copy(area), c).empty()) << c.name().toStdString();

    // Where an old trace was, the picture shows it dimmed, unless a live trace covers it;
    // nothing else differs. The phase, the same in both sweeps, lies under its live trace.
    int reference = 0;
    std::set<QRgb> seen;
    for (const QPoint& px : oldTraces) {
        const QColor c = withReference.pixelColor(px);
        const bool isReference = std::find(std::begin(dimmed), std::end(dimmed), c) != std::end(dimmed);
        EXPECT_TRUE(isReference || c == without.pixelColor(px)) << px.x() << "," << px.y();
        reference += isReference ? 1 : 0;
        if (isReference)
            seen.insert(c.rgb());
    }
    EXPECT_GT(reference, 1000);
    EXPECT_EQ(seen, (std::set<QRgb>{ReferenceSwr.rgb(), ReferenceZ.rgb(), ReferenceXs.rgb()}));
    int differing = 0;
    for (int y = 0; y < 550; ++y)
        for (int x = 0; x < 1168; ++x)
            differing += withReference.pixelColor(x, y) != without.pixelColor(x, y) ? 1 : 0;
    EXPECT_EQ(differing, reference);
}

TEST_F(ViewTest, AWiderReferenceSitsAtItsFrequenciesAfterAZoom)
{
    // Only the SWR trace.
    for (QCheckBox* box : {form->cbPhase, form->cbZ, form->cbXs})
        box->click();
    // 7.0 to 7.3 MHz in 1 kHz steps, SWR above 10 (top line) but for a dip to SWR 1.02 at
    // 7.100 MHz (y = 506) and to SWR 1.92 at 7.060 MHz (y = 376).
    DeliverSweep(7000, 7300, 300, [](int j) { return Counts(0, j == 100 ? 1023 : j == 60 ? 512 : 358); });
    form->Keepasreference1->trigger();
    // Zoomed to 7.05 to 7.15 MHz, 100 steps, SWR 1.2 throughout (y = 474), clear of the rows read.
    DeliverSweep(7050, 7150, 100, [](int) { return Counts(0, 700); });
    ASSERT_EQ(Row(474, form->SwrColor).size(), 978u); // x = 91 to 1068

    // Between the frame lines (the scales' smoothed labels outside hold such shades too).
    const auto inFrame = [this](int y, const QColor& c) {
        std::vector<int> xs = Row(y, c);
        std::erase_if(xs, [](int x) { return x < ML || x > ML + 988; });
        return xs;
    };
    // 7.100 MHz is live sample 50 at x = 91 + Round(9.88 x 50) = 585; 7.060 MHz is sample 10 at 190.
    EXPECT_EQ(inFrame(506, ReferenceSwr), std::vector<int>{585});
    for (int y = 507; y <= Bottom; ++y)
        ASSERT_TRUE(inFrame(y, ReferenceSwr).empty()) << y;
    ASSERT_FALSE(inFrame(376, ReferenceSwr).empty());
    EXPECT_EQ(inFrame(376, ReferenceSwr).front(), 190);
    // Samples outside 7.05 to 7.15 MHz are left out: on the top line the reference runs from
    // the first sample's x to the end's (its own pixel left out), no further.
    const std::vector<int> top = inFrame(MT, ReferenceSwr);
    ASSERT_FALSE(top.empty());
    EXPECT_EQ(QList<int>({top.front(), top.back()}), QList<int>({ML + 1, ML + 988}));
    const QRect frame(ML, 0, 989, Bottom + 1);
    const std::set<int> columns = ColumnsWith(form->PlotBitmap->copy(frame), ReferenceSwr);
    ASSERT_FALSE(columns.empty());
    EXPECT_EQ(QList<int>({*columns.begin(), *columns.rbegin()}), QList<int>({1, 988}));

    form->Clearreference1->trigger();
    EXPECT_TRUE(ColumnsWith(form->PlotBitmap->copy(frame), ReferenceSwr).empty());
}

} // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
