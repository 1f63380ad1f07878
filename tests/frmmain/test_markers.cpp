// Markers set with the mouse on the real panel, the overlay the window shows, zoom, and
// the picture and CSV files.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <csignal>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "frmmain/FormFixture.h"
#include "measure/NumberText.h"
#ifndef _WIN32
#include "support/ScikitRf.h"
#endif
#include "measure/Bandwidth.h"
#include "plot/PlotDraw.h"
#include "plot/TPanelPlus.h"

namespace {

const QColor MarkerBlue(0, 0, 255);
const QColor MinSwrGreen(0, 255, 0);
constexpr int ML = 90, MT = 40, Bottom = 550 - 40;

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

class MarkersTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        SizePanelAsDescribed();
        form->SaveDialogRun = [this](QFileDialog& dialog) {
            dialogs.push_back(&dialog);
            offered << (dialog.selectedFiles().isEmpty() ? QString() : dialog.selectedFiles().constFirst());
            EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
            return answer;
        };
    }

    // 500 samples from 1 MHz in steps of 0.1 MHz, the lowest SWR at sample lowest.
    void DeliverTenthsSweep(int lowest = 300)
    {
        DeliverSweep(1000, 51000, 500, [lowest](int i) { return Counts(512, i == lowest ? 1000 : 512); });
    }
    void Click(Qt::MouseButton button, int x, int y = 300)
    {
        QTest::mouseClick(form->PlotPanel, button, Qt::NoModifier, QPoint(x, y));
    }
    // What the panel shows now.
    QImage Shown() { return form->PlotPanel->grab().toImage().convertToFormat(QImage::Format_RGB888); }
    // The SWR bandwidth (SWR 2, on by default) that the overlay shows besides the lines.
    void AddBandwidth(QImage& img)
    {
        const SwrBandwidth bw = FindSwrBandwidth(*form->VNAList, form->MinSwrIndex, 2);
        const FrequencyAxis axis{form->ShownStartKHz, form->ShownEndKHz, form->ShownSteps};
        DrawSwrBandwidth(img, PlotGeometry{1168, 550}, PlotPalette(), axis, bw.Found, bw.Low.FreqMHz,
                         bw.High.FreqMHz, 2, QString::fromStdString(BandwidthText(bw, 2)));
    }
    // Columns with a marker line, read between the top and the bottom frame line.
    std::set<int> MarkerLines() { return ColumnsWith(Shown(), MarkerBlue, MT, Bottom); }

    QString answer;
    std::vector<QFileDialog*> dialogs;
    QStringList offered;
    QTemporaryDir dir;
};

} // namespace

TEST_F(MarkersTest, ClicksPlaceMarkersAndTheWindowShowsTheirLines)
{
    // Before the first sweep a click does nothing.
    Click(Qt::LeftButton, 584);
    Click(Qt::RightButton, 584);
    EXPECT_EQ(QList<int>({form->Marker1Index, form->Marker2Index}), QList<int>({-1, -1}));

    // Marker 1 on sample 250 and the lowest SWR on sample 300: the panel shows the plot
    // picture with exactly their overlay (drawn as the plot tests prove); the BMP test shows
    // that PlotBitmap never holds it.
    DeliverTenthsSweep();
    QImage expected = *form->PlotBitmap;
    DrawOverlay(expected, PlotGeometry{1168, 550}, PlotPalette(), 500, 250, -1, 300);
    AddBandwidth(expected);
    Click(Qt::LeftButton, 584);
    EXPECT_EQ(Shown(), expected);
    // Left button marker 1, right button marker 2, a click in the top margin like any other;
    // the frame lines select the ends, sample 0 with its line on the left frame line; outside
    // the plot a marker goes.
    const struct {
        Qt::MouseButton button;
        int x, y, marker1, marker2;
        const char* frequency1;
        std::set<int> lines;
    } clicks[] = {
        {Qt::LeftButton, 584, 300, 250, -1, "26.000", {584}},
        {Qt::LeftButton, 585, 300, 251, -1, "26.100", {586}},
        {Qt::RightButton, 288, 10, 251, 100, "26.100", {288, 586}},
        {Qt::LeftButton, ML + 988, 300, 499, 100, "50.900", {288, ML + 986}},
        {Qt::LeftButton, ML - 1, 300, -1, 100, "", {288}},
        {Qt::RightButton, ML + 989, 300, -1, -1, "", {}},
        {Qt::LeftButton, ML, 300, 0, -1, "1.000", {ML}},
    };
    for (const auto& c : clicks) {
        Click(c.button, c.x, c.y);
        EXPECT_EQ(QList<int>({form->Marker1Index, form->Marker2Index}), QList<int>({c.marker1, c.marker2})) << c.x;
        EXPECT_EQ(form->marker1_F->text(), c.frequency1) << c.x;
        EXPECT_EQ(MarkerLines(), c.lines) << c.x;
    }
    EXPECT_EQ(Row("marker2_"), QStringList(10, QString()));

    // New samples in the buffer show with the next redraw, which a middle click runs alone.
    Click(Qt::RightButton, 288);
    {
        std::lock_guard<std::mutex> lock(*form->SweepLock);
        for (int i = 0; i < 500; ++i)
            std::memcpy(form->RawSweepBuffer.get() + 4 * i, Counts(512, 0).data(), 4);
    }
    Click(Qt::MiddleButton, 700);
    EXPECT_EQ(QList<int>({form->Marker1Index, form->Marker2Index}), QList<int>({0, 100}));
    EXPECT_EQ(form->marker2_SWR->text(), "1.22");

    // A longer sweep handed over, its message not yet handled: a click still means the 500
    // samples on display, so 26 MHz, and its redraw takes the 4000 samples of 12.5 kHz.
    {
        std::lock_guard<std::mutex> lock(*form->SweepLock);
        form->ShownSteps = 4000;
    }
    Click(Qt::LeftButton, 584);
    EXPECT_EQ(form->Marker1FreqMHz, 26);
    EXPECT_EQ(QList<int>({form->VNAList->Count(), form->Marker1Index}), QList<int>({4000, 2000}));

    // The lowest SWR at sample 0 (a resonance below the start): its line at x = ML, dashed
    // over the frame line, whose colour shows in the gaps.
    DeliverTenthsSweep(0);
    ASSERT_EQ(form->MinSwrIndex, 0);
    EXPECT_EQ(form->lowswr_F->text(), "1.000");
    const QImage shown = Shown();
    EXPECT_EQ(ColumnsWith(shown, MinSwrGreen), std::set<int>{ML});
    EXPECT_EQ(shown.pixelColor(ML, MT + 20), form->PlotBitmap->pixelColor(ML, MT + 20)) << "a gap shows the frame";
    EXPECT_NE(shown.pixelColor(ML, MT + 20), form->BackgroundColor);
}

TEST_F(MarkersTest, ZoomTakesTheRangeBetweenTheMarkers)
{
    // 500 samples of 25 kHz from 7 MHz: sample 281 lies at 14.025 MHz. Zoom is offered while
    // a sweep runs.
    DeliverSweep(7000, 19500, 500, [](int) { return Counts(512, 512); });
    form->btnZoom->setEnabled(true);
    // One marker is not enough.
    Click(Qt::LeftButton, ML + 555);
    ASSERT_EQ(form->Marker1Index, 281);
    form->btnZoom->click();
    EXPECT_EQ(QList<int>({form->SweepStartKHz, form->SweepEndKHz, form->Marker1Index}), QList<int>({100, 180000, 281}));

    // Marker 2 left of marker 1 gives the start; both markers are cleared, nothing is redrawn.
    Click(Qt::RightButton, ML);
    const QImage before = *form->PlotBitmap;
    form->btnZoom->click();
    EXPECT_EQ(QList<int>({form->SweepStartKHz, form->SweepEndKHz, form->SweepSteps}), QList<int>({7000, 14025, 500}));
    EXPECT_EQ(form->eFstart->text() + " " + form->eFend->text(), "7 14.025");
    EXPECT_EQ(form->Marker1FreqMHz + form->Marker2FreqMHz, 0);
    EXPECT_EQ(*form->PlotBitmap, before);
}

TEST_F(MarkersTest, ThePanelShowsTheMarkersAsTheyAreNow)
{
    // Before any sweep the panel shows the empty plot.
    EXPECT_EQ(Shown(), *form->PlotBitmap);
    // Zoom clears both markers without a redraw: from the next paint on, only the
    // lowest-SWR line is left over the unchanged plot.
    DeliverTenthsSweep();
    form->btnZoom->setEnabled(true);
    Click(Qt::LeftButton, 288);
    Click(Qt::RightButton, 584);
    ASSERT_EQ(MarkerLines(), std::set<int>({288, 584}));
    const QImage plot = *form->PlotBitmap;
    form->btnZoom->click();
    QImage expected = plot;
    DrawOverlay(expected, PlotGeometry{1168, 550}, PlotPalette(), 500, -1, -1, 300);
    AddBandwidth(expected);
    EXPECT_EQ(Shown(), expected);
    EXPECT_EQ(*form->PlotBitmap, plot);
}

TEST_F(MarkersTest, BmpHoldsThePlotWithoutTheOverlay)
{
    // Before the first sweep: the empty plot.
    answer = dir.filePath("empty.bmp");
    form->BMPSave->click();
    EXPECT_EQ(QImage(answer).convertToFormat(QImage::Format_RGB888), *form->PlotBitmap);

    DeliverTenthsSweep();
    Click(Qt::LeftButton, 584);
    Click(Qt::RightButton, 700);
    answer = dir.filePath("sweep.bmp");
    form->BMPSave->click();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1]->defaultSuffix(), "bmp");
    EXPECT_EQ(dialogs[1]->nameFilters(), QStringList{"Bitmap files (*.bmp)"});
    // Uncompressed 24 bits at the panel's size, the plot picture without markers.
    const QByteArray b = ReadAll(answer);
    ASSERT_GE(b.size(), 54);
    const auto u32 = [&b](int at) { return qFromLittleEndian<quint32>(b.constData() + at); };
    EXPECT_EQ(b.left(2), QByteArray("BM"));
    EXPECT_EQ(QList<quint32>({u32(18), u32(22), u32(28) & 0xFFFF, u32(30)}), QList<quint32>({1168, 550, 24, 0}));
    const QImage saved = QImage(answer).convertToFormat(QImage::Format_RGB888);
    EXPECT_EQ(saved, *form->PlotBitmap);
    EXPECT_TRUE(ColumnsWith(saved, MarkerBlue).empty() && ColumnsWith(saved, MinSwrGreen).empty());
    EXPECT_NE(Shown(), saved);

    // The next save offers the name chosen last; cancelling writes nothing.
    answer.clear();
    form->BMPSave->click();
    ASSERT_EQ(offered.size(), 3);
    EXPECT_EQ(QFileInfo(offered[2]).fileName(), "sweep.bmp");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"empty.bmp", "sweep.bmp"}));
}

TEST_F(MarkersTest, FailedSavesNameThePathAndKeepWhatWasThere)
{
    DeliverTenthsSweep();
    // A folder without write permission; root ignores permissions, and Windows has none of
    // this kind, so they get a path below a regular file instead.
#ifdef _WIN32
    const bool belowAFile = true;
    const QString reason; // the system's own words, in the user's language
#else
    const bool belowAFile = geteuid() == 0;
    const QString reason = QString::fromLocal8Bit(std::strerror(belowAFile ? ENOTDIR : EACCES));
#endif
    ASSERT_TRUE(WriteAll(dir.filePath("plain"), "x"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    for (const char* name : {"/plot.bmp", "/table.csv", "/sweep.s1p"}) {
        answer = dir.filePath(belowAFile ? "plain" : "locked") + name;
        errors.clear();
        answer.endsWith(".bmp") ? form->BMPSaveClick()
        : answer.endsWith(".csv") ? form->Button1Click()
                                  : form->SaveTouchstone1Click();
        ASSERT_EQ(errors.size(), 1) << name;
        // The path as the system writes it (with backslashes on Windows), then the reason.
        const QString path = QDir::toNativeSeparators(answer);
        const qsizetype at = errors[0].indexOf(path + ": ");
        EXPECT_TRUE(at >= 0 && errors[0].size() > at + path.size() + 2 && errors[0].contains(reason))
            << errors[0].toStdString();
    }

#ifndef _WIN32 // no file size limit to make a save fail half-way
    // A save that fails half-way (the file size limit) leaves the earlier file as it was,
    // and no temporary file.
    QDir(dir.path()).mkdir("keep");
    answer = dir.filePath("keep/old.bmp");
    ASSERT_TRUE(WriteAll(answer, "previous picture"));
    errors.clear();
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    form->BMPSaveClick();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(answer)) << errors[0].toStdString();
    EXPECT_EQ(ReadAll(answer), QByteArray("previous picture"));
    EXPECT_EQ(QDir(dir.filePath("keep")).entryList(QDir::Files), QStringList{"old.bmp"});
#endif
}

TEST_F(MarkersTest, CsvHoldsTheSweepOnDisplay)
{
    // Before the first sweep there is nothing to save: no dialog, no file.
    answer = dir.filePath("none.csv");
    form->Button1->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("no sweep")) << errors[0].toStdString();
    EXPECT_TRUE(dialogs.empty());
    errors.clear();

    // Ten samples between 10 and 20 MHz with varied counts.
    DeliverSweep(10000, 20000, 10, [](int i) { return Counts(60 + 95 * i, 100 + 90 * i); });
    answer = dir.filePath("sweep.csv");
    form->Button1->click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0]->defaultSuffix(), "csv");
    EXPECT_EQ(dialogs[0]->nameFilters(), QStringList{"CSV files (*.csv)"});

    const QList<QByteArray> lines = ReadAll(answer).split('\n');
    ASSERT_EQ(lines.size(), 12); // header, ten samples, the empty rest after the last newline
    EXPECT_TRUE(lines[0].startsWith("Frequency (MHz),SWR,")) << lines[0].toStdString();
    // Each value, rounded to its read-out's format, is what marker 1 on that sample shows.
    const int decimals[10] = {3, 2, 1, 1, 2, 2, 2, 1, 1, 1};
    for (int i = 0; i < 10; ++i) {
        Click(Qt::LeftButton, ML + static_cast<int>(llrintl(98.8L * i)));
        ASSERT_EQ(form->Marker1Index, i);
        const QStringList readouts = Row("marker1_");
        const QList<QByteArray> fields = lines[1 + i].split(',');
        ASSERT_EQ(fields.size(), 10) << lines[1 + i].toStdString();
        for (int c = 0; c < 10; ++c) {
            const std::optional<Extended> value = ParseDecimal(fields[c].toStdString());
            ASSERT_TRUE(value.has_value()) << fields[c].toStdString();
            EXPECT_EQ(QString::fromStdString(FormatFixed(*value, decimals[c])), readouts[c]) << i << " " << c;
        }
    }
}

TEST_F(MarkersTest, TouchstoneHoldsTheSweepOnDisplayAndAnotherReaderReadsItBack)
{
    QStringList items;
    for (QAction* item : form->File1->actions())
        items << (item->isSeparator() ? QStringLiteral("-") : item->text());
    EXPECT_EQ(items, QStringList({"&Open Setup...", "Open &Reference...", "&Save Setup...", "-", "Save &Touchstone...",
                                  "Save &Picture...", "-", "E&xit"}));

    // Before the first sweep there is nothing to save: no dialog, no file.
    answer = dir.filePath("none.s1p");
    form->SaveTouchstone1->trigger();
    EXPECT_EQ(errors, QStringList{"There is no sweep to save yet."});
    EXPECT_TRUE(dialogs.empty());
    errors.clear();

    // The 500 MHz analyser's clock and a calibration, so that the comments show them;
    // 20 samples with varied counts, the phase up to its largest count.
    TypeInto(form->eDDSFreq, QStringLiteral("1250000000"));
    TypeInto(form->eCalRL, QStringLiteral("1.5"));
    Leave();
    const auto sample = [](int i) { return Counts(i == 19 ? 1023 : 3 + 53 * i, 1000 - 47 * i); };
    for (const bool descending : {false, true}) {
        SCOPED_TRACE(descending ? "from 14.35 down to 14 MHz" : "from 14 to 14.35 MHz");
        descending ? DeliverSweep(14350, 14000, 20, sample) : DeliverSweep(14000, 14350, 20, sample);
        answer = dir.filePath(descending ? "down.s1p" : "up.s1p");
        const std::string before = UtcTimeText(std::chrono::system_clock::now());
        form->SaveTouchstone1->trigger();
        const std::string after = UtcTimeText(std::chrono::system_clock::now());
        ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        EXPECT_EQ(dialogs.back()->defaultSuffix(), "s1p");
        EXPECT_EQ(dialogs.back()->nameFilters(), QStringList{"Touchstone files (*.s1p)"});

        // The comments at the top, then the option line.
        const QList<QByteArray> lines = ReadAll(answer).split('\n');
        ASSERT_GE(lines.size(), 6);
        EXPECT_EQ(lines[0], "! Kestrin VNA " KESTRIN_VERSION);
        ASSERT_TRUE(lines[1].startsWith("! Saved ")) << lines[1].toStdString();
        const std::string saved = lines[1].mid(8).toStdString();
        EXPECT_TRUE(before <= saved && saved <= after) << saved;
        EXPECT_EQ(lines[2], "! Port "); // a sweep handed over by no port
        EXPECT_EQ(lines[3], descending ? "! Sweep: start 14.35 MHz, end 14 MHz, 20 steps, DDS clock 1250000000 Hz, "
                                         "R.L. calibration 1.5 dB"
                                       : "! Sweep: start 14 MHz, end 14.35 MHz, 20 steps, DDS clock 1250000000 Hz, "
                                         "R.L. calibration 1.5 dB");
        EXPECT_TRUE(lines[4].startsWith("! ") && lines[4].contains("between 0 and 180 degrees"));
        EXPECT_EQ(lines[5], "# MHz S MA R 50");

#ifndef _WIN32 // the reader is a Linux program
        // scikit-rf's points, in ascending frequency, against the samples the window holds.
        bool ok = false;
        const std::vector<TouchstonePoint> points = ReadWithScikitRf(answer.toStdString(), ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(points.size(), 20u);
        for (int k = 0; k < 20; ++k) {
            const TVNAEntry& e = *form->VNAList->GetEntry(descending ? 19 - k : k);
            const TouchstonePoint& p = points[size_t(k)];
            EXPECT_NEAR(p.Hz, double(e.FreqMHz) * 1e6, 1e-12 * p.Hz) << k;
            EXPECT_NEAR(p.Mag, double(e.Rho), 1e-12 * p.Mag) << k;
            EXPECT_NEAR(p.Deg, double(e.PhaseDeg), 1e-9) << k;
        }
        EXPECT_NEAR((descending ? points.front() : points.back()).Deg, 179.82421875, 1e-9) << "phase count 1023";
#endif
    }
}

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
