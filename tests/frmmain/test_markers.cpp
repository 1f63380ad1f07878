// Markers set with the mouse on the real panel, the overlay the window shows, zoom,
// and the picture and CSV files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

#include "frmmain/TMainForm.h"
#include "measure/NumberText.h"
#include "plot/PlotDraw.h"
#include "plot/TPanelPlus.h"

namespace {

const QColor MarkerBlue(0, 0, 255);
const QColor MinSwrGreen(0, 255, 0);
constexpr int ML = 90, MT = 40, MB = 40;

bool IsColour(const QImage& img, int x, int y, const QColor& c) { return img.pixelColor(x, y) == c; }

// Columns that hold colour c anywhere in rows from..to-1.
std::set<int> ColumnsWith(const QImage& img, const QColor& c, int from, int to)
{
    std::set<int> columns;
    for (int y = from; y < to; ++y)
        for (int x = 0; x < img.width(); ++x)
            if (IsColour(img, x, y, c))
                columns.insert(x);
    return columns;
}

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

uint32_t U32(const QByteArray& b, int at)
{
    uint32_t v;
    std::memcpy(&v, b.constData() + at, 4);
    return v;
}

uint16_t U16(const QByteArray& b, int at)
{
    uint16_t v;
    std::memcpy(&v, b.constData() + at, 2);
    return v;
}

// Limits the size of files this process may write (root included), so that a save fails
// half-way; lifted again on destruction.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

// A sample with phase count 512 and the given return-loss count: a higher count is a
// lower SWR.
struct Sample {
    uint8_t bytes[4];
};
Sample WithRl(int rlCount, int phaseCount = 512)
{
    return {{static_cast<uint8_t>(phaseCount & 0xFF), static_cast<uint8_t>(phaseCount >> 8),
             static_cast<uint8_t>(rlCount & 0xFF), static_cast<uint8_t>(rlCount >> 8)}};
}

class MarkersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = new TMainForm;
        form->show();
        QApplication::processEvents();
        // The panel of the window description: 1168 x 550, so PW = 988.
        form->resize(form->size() + QSize(1168, 550) - form->PlotPanel->size());
        QApplication::processEvents();
        ASSERT_EQ(form->PlotPanel->size(), QSize(1168, 550));
        ASSERT_EQ(form->PlotWidth, 988);
        form->ErrorBox = [this](const QString& message) { errors << message; };
        form->SaveDialogRun = [this](QFileDialog& dialog) {
            dialogs.push_back(&dialog);
            offered << (dialog.selectedFiles().isEmpty() ? QString() : dialog.selectedFiles().constFirst());
            suffixes << dialog.defaultSuffix();
            filters << dialog.nameFilters().join(QLatin1Char('|'));
            return answer;
        };
    }
    void TearDown() override { delete form; }

    // Delivers a sweep as the worker does: under the lock, then the posted sweep-done message.
    void DeliverSweep(int startKHz, int endKHz, int steps, const std::function<Sample(int)>& sample)
    {
        {
            std::lock_guard<std::mutex> lock(*form->SweepLock);
            form->ShownStartKHz = startKHz;
            form->ShownEndKHz = endKHz;
            form->ShownSteps = steps;
            for (int i = 0; i < steps; ++i)
                std::memcpy(form->RawSweepBuffer.get() + 4 * i, sample(i).bytes, 4);
        }
        QCoreApplication::postEvent(form, new QEvent(static_cast<QEvent::Type>(WM_SWEEPDONE)));
        QApplication::processEvents();
    }

    // 500 samples from 1 MHz in steps of 0.1 MHz, the lowest SWR at sample lowest.
    void DeliverTenthsSweep(int lowest = 499)
    {
        DeliverSweep(1000, 51000, 500, [lowest](int i) { return WithRl(i == lowest ? 1000 : 512); });
    }

    void Click(Qt::MouseButton button, int x, int y = 300)
    {
        QTest::mouseClick(form->PlotPanel, button, Qt::NoModifier, QPoint(x, y));
    }

    // What the panel shows now.
    QImage Shown() { return form->PlotPanel->grab().toImage().convertToFormat(QImage::Format_RGB888); }

    // Plot columns with a marker line, read between the top and the bottom frame line.
    std::set<int> MarkerLines() { return ColumnsWith(Shown(), MarkerBlue, MT, 550 - MB); }

    TMainForm* form = nullptr;
    QStringList errors;
    QString answer;
    std::vector<QFileDialog*> dialogs;
    QStringList offered, suffixes, filters;
};

TEST_F(MarkersTest, ClickPlacesMarkersAndTheWindowShowsTheirLines)
{
    DeliverTenthsSweep();
    const QImage plain = *form->PlotBitmap;

    Click(Qt::LeftButton, 584);
    EXPECT_EQ(form->Marker1Index, 250);
    EXPECT_EQ(form->Marker1FreqMHz, form->VNAList->GetEntry(250)->FreqMHz);
    EXPECT_EQ(form->marker1_F->text(), "26.000");
    EXPECT_EQ(form->lblCalcCorLfreq->text(), "26.000");

    const QImage shown = Shown();
    EXPECT_EQ(ColumnsWith(shown, MarkerBlue, MT, 550 - MB), std::set<int>{584});
    // Dashed: blue dashes with gaps in the background colour.
    int blue = 0, gap = 0;
    for (int y = MT; y < 550 - MB; ++y) {
        blue += IsColour(shown, 584, y, MarkerBlue);
        gap += IsColour(shown, 584, y, form->BackgroundColor);
    }
    EXPECT_GT(blue, 100);
    EXPECT_GT(gap, 50);
    // "m1" hangs below the bottom frame line from x = 579 on.
    const std::set<int> label = ColumnsWith(shown, MarkerBlue, 550 - MB, 550);
    ASSERT_FALSE(label.empty());
    EXPECT_GE(*label.begin(), 579);
    EXPECT_LE(*label.begin(), 581);
    EXPECT_LE(*label.rbegin(), 579 + 20);
    EXPECT_TRUE(IsColour(shown, 579, 550 - MB, form->BackgroundColor)) << "the label cell is opaque";

    // The shown picture is the plot picture with exactly this overlay; the picture stays clean.
    QImage expected = *form->PlotBitmap;
    PlotGeometry g;
    g.W = 1168;
    g.H = 550;
    PlotPalette p;
    DrawOverlay(expected, g, p, 500, 250, -1, 499);
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(*form->PlotBitmap, plain);
    EXPECT_TRUE(ColumnsWith(*form->PlotBitmap, MarkerBlue, 0, 550).empty());

    Click(Qt::LeftButton, 585);
    EXPECT_EQ(form->Marker1Index, 251);
    EXPECT_EQ(form->marker1_F->text(), "26.100");

    // The right button moves marker 2 only; a click in the top margin counts like any other.
    Click(Qt::RightButton, 288, 10);
    EXPECT_EQ(form->Marker1Index, 251);
    EXPECT_EQ(form->Marker2Index, 100);
    EXPECT_EQ(form->marker2_F->text(), "11.000");
    EXPECT_EQ(MarkerLines(), (std::set<int>{288, 586}));
}

TEST_F(MarkersTest, ClicksAtTheEdgesOfThePlot)
{
    // The lowest SWR away from the last sample, whose green line would cover marker 1's.
    DeliverTenthsSweep(100);

    // The right frame line selects the last sample.
    Click(Qt::LeftButton, ML + 988);
    EXPECT_EQ(form->Marker1Index, 499);
    EXPECT_EQ(form->marker1_F->text(), "50.900");
    EXPECT_EQ(MarkerLines(), std::set<int>{ML + 986});

    // Left of the plot: the marker goes, with its row and its line.
    Click(Qt::LeftButton, ML - 1);
    EXPECT_EQ(form->Marker1Index, -1);
    EXPECT_EQ(form->Marker1FreqMHz, 0);
    EXPECT_TRUE(form->marker1_F->text().isEmpty());
    EXPECT_TRUE(form->marker1_SWR->text().isEmpty());
    EXPECT_TRUE(MarkerLines().empty());

    // Right of the plot likewise.
    Click(Qt::RightButton, 600);
    ASSERT_EQ(form->Marker2Index, 258);
    Click(Qt::RightButton, ML + 989);
    EXPECT_EQ(form->Marker2Index, -1);
    EXPECT_TRUE(form->marker2_F->text().isEmpty());

    // The left frame line selects sample 0: its read-outs, but no line.
    Click(Qt::LeftButton, ML);
    EXPECT_EQ(form->Marker1Index, 0);
    EXPECT_EQ(form->marker1_F->text(), "1.000");
    EXPECT_TRUE(MarkerLines().empty());
    EXPECT_TRUE(ColumnsWith(Shown(), MarkerBlue, 0, 550).empty()) << "no label either";
}

TEST_F(MarkersTest, MiddleClickOnlyRedraws)
{
    DeliverTenthsSweep();
    Click(Qt::LeftButton, 584);
    Click(Qt::RightButton, 288);
    ASSERT_EQ(form->marker1_SWR->text(), "1.92");

    // New samples in the buffer show only with the next redraw, which the middle click runs.
    {
        std::lock_guard<std::mutex> lock(*form->SweepLock);
        for (int i = 0; i < 500; ++i)
            std::memcpy(form->RawSweepBuffer.get() + 4 * i, WithRl(0).bytes, 4);
    }
    Click(Qt::MiddleButton, 700);
    EXPECT_EQ(form->Marker1Index, 250);
    EXPECT_EQ(form->Marker2Index, 100);
    EXPECT_EQ(form->marker1_SWR->text(), "1.22");
    EXPECT_EQ(MarkerLines(), (std::set<int>{288, 584}));
}

TEST_F(MarkersTest, ClickReadsTheSweepOnDisplayWhileTheNextWaits)
{
    DeliverTenthsSweep(100);
    // A longer sweep handed over, its message not yet handled: the click still means the
    // 500 samples on display, and the sample under it lies at 26 MHz.
    {
        std::lock_guard<std::mutex> lock(*form->SweepLock);
        form->ShownSteps = 4000;
    }
    Click(Qt::LeftButton, 584);
    EXPECT_EQ(form->Marker1FreqMHz, 26);
    // The redraw of the click has taken the new sweep: 4000 samples of 12.5 kHz.
    EXPECT_EQ(form->VNAList->Count(), 4000);
    EXPECT_EQ(form->Marker1Index, 2000);
    EXPECT_EQ(form->marker1_F->text(), "26.000");
}

TEST_F(MarkersTest, ClicksBeforeTheFirstSweepDoNothing)
{
    Click(Qt::LeftButton, 584);
    Click(Qt::RightButton, 584);
    EXPECT_EQ(form->Marker1Index, -1);
    EXPECT_EQ(form->Marker1FreqMHz, 0);
    EXPECT_EQ(form->Marker2Index, -1);
    EXPECT_EQ(form->Marker2FreqMHz, 0);
    EXPECT_TRUE(form->marker1_F->text().isEmpty());
    EXPECT_EQ(Shown(), *form->PlotBitmap);
}

TEST_F(MarkersTest, LowestSwrLine)
{
    DeliverTenthsSweep(100);
    ASSERT_EQ(form->MinSwrIndex, 100);
    EXPECT_EQ(ColumnsWith(Shown(), MinSwrGreen, MT, 550 - MB), std::set<int>{288});

    DeliverTenthsSweep(0);
    ASSERT_EQ(form->MinSwrIndex, 0);
    EXPECT_EQ(form->lowswr_F->text(), "1.000");
    EXPECT_TRUE(ColumnsWith(Shown(), MinSwrGreen, 0, 550).empty());
}

TEST_F(MarkersTest, ZoomTakesTheRangeBetweenTheMarkers)
{
    // 500 samples of 25 kHz from 7 MHz: sample 281 lies at 14.025 MHz.
    DeliverSweep(7000, 19500, 500, [](int) { return WithRl(512); });

    // One marker is not enough.
    Click(Qt::LeftButton, ML + 555);
    ASSERT_EQ(form->Marker1Index, 281);
    form->btnZoomClick();
    EXPECT_EQ(form->SweepStartKHz, 100);
    EXPECT_EQ(form->SweepEndKHz, 180000);
    EXPECT_EQ(form->eFstart->text(), "0.1");
    EXPECT_EQ(form->Marker1Index, 281);

    // Marker 2 left of marker 1 gives the start.
    Click(Qt::RightButton, ML);
    ASSERT_EQ(form->Marker2Index, 0);
    const QImage before = *form->PlotBitmap;
    form->btnZoomClick();
    EXPECT_EQ(form->SweepStartKHz, 7000);
    EXPECT_EQ(form->SweepEndKHz, 14025);
    EXPECT_EQ(form->eFstart->text(), "7");
    EXPECT_EQ(form->eFend->text(), "14.025");
    EXPECT_EQ(form->SweepSteps, 500);
    EXPECT_EQ(form->Marker1Index, -1);
    EXPECT_EQ(form->Marker1FreqMHz, 0);
    EXPECT_EQ(form->Marker2Index, -1);
    EXPECT_EQ(form->Marker2FreqMHz, 0);
    // Nothing redrawn: the read-outs still show the old markers; the sweep on display is unchanged.
    EXPECT_EQ(form->marker1_F->text(), "14.025");
    EXPECT_EQ(*form->PlotBitmap, before);
    EXPECT_EQ(form->ShownStartKHz, 7000);
    EXPECT_EQ(form->ShownEndKHz, 19500);

    // Marker 1 left of marker 2, both on one sample: start equals end.
    Click(Qt::LeftButton, ML + 198);
    Click(Qt::RightButton, ML + 198);
    ASSERT_EQ(form->Marker1Index, 100);
    form->btnZoomClick();
    EXPECT_EQ(form->SweepStartKHz, 9500);
    EXPECT_EQ(form->SweepEndKHz, 9500);
    EXPECT_EQ(form->eFstart->text(), "9.5");
    EXPECT_EQ(form->eFend->text(), "9.5");
}

class SaveTest : public MarkersTest {
protected:
    QTemporaryDir dir;

    // A place where no file can be created, and the reason the system gives for it, in
    // the language of the locale.
    // Root ignores directory permissions, so it gets a path below a regular file.
    std::pair<QString, QString> Unwritable()
    {
        if (geteuid() == 0) {
            WriteAll(dir.filePath("plain"), "x");
            return {dir.filePath("plain/plot.bmp"), QString::fromLocal8Bit(std::strerror(ENOTDIR))};
        }
        QDir(dir.path()).mkdir("locked");
        QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        return {dir.filePath("locked/plot.bmp"), QString::fromLocal8Bit(std::strerror(EACCES))};
    }
    void TearDown() override
    {
        QFile::setPermissions(dir.filePath("locked"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        MarkersTest::TearDown();
    }
};

TEST_F(SaveTest, BmpHoldsThePlotWithoutTheOverlay)
{
    ASSERT_TRUE(dir.isValid());
    DeliverTenthsSweep(100);
    Click(Qt::LeftButton, 584);
    Click(Qt::RightButton, 700);
    ASSERT_FALSE(MarkerLines().empty());

    answer = dir.filePath("sweep.bmp");
    form->BMPSave->click();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0], form->SaveDialog1);
    EXPECT_EQ(dialogs[0]->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(suffixes[0], "bmp");
    EXPECT_EQ(filters[0], "Bitmap files (*.bmp)");
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    const QByteArray b = ReadAll(answer);
    ASSERT_GE(b.size(), 54);
    EXPECT_EQ(b.left(2), QByteArray("BM"));
    EXPECT_EQ(static_cast<int32_t>(U32(b, 18)), 1168);
    EXPECT_EQ(static_cast<int32_t>(U32(b, 22)), 550);
    EXPECT_EQ(U16(b, 28), 24);
    EXPECT_EQ(U32(b, 30), 0u); // no compression
    const QImage saved = QImage(answer).convertToFormat(QImage::Format_RGB888);
    EXPECT_EQ(saved, *form->PlotBitmap);
    EXPECT_TRUE(ColumnsWith(saved, MarkerBlue, 0, 550).empty());
    EXPECT_TRUE(ColumnsWith(saved, MinSwrGreen, 0, 550).empty());
    EXPECT_NE(saved, Shown());

    // The next save offers the name chosen last; cancelling writes nothing.
    answer.clear();
    form->BMPSave->click();
    ASSERT_EQ(offered.size(), 2);
    EXPECT_EQ(QFileInfo(offered[1]).fileName().toStdString(), "sweep.bmp");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"sweep.bmp"});
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(SaveTest, TheWindowsOwnDialogAnswers)
{
    form->SaveDialogRun = nullptr;
    auto answerWith = [](const std::function<void(QFileDialog&)>& act) {
        QTimer::singleShot(0, [act] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            act(*dialog);
        });
    };
    // A name without extension gets the default one.
    answerWith([this](QFileDialog& d) {
        d.selectFile(dir.filePath("picture"));
        static_cast<QDialog&>(d).accept();
    });
    form->BMPSaveClick();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"picture.bmp"});

    answerWith([](QFileDialog& d) { d.reject(); });
    form->BMPSaveClick();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"picture.bmp"});
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(SaveTest, BmpBeforeTheFirstSweepHoldsTheEmptyPlot)
{
    answer = dir.filePath("empty.bmp");
    form->BMPSaveClick();
    const QImage saved = QImage(answer).convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(saved.size(), QSize(1168, 550));
    EXPECT_EQ(saved, *form->PlotBitmap);
    EXPECT_EQ(saved.pixelColor(600, 200), form->BackgroundColor);
    EXPECT_TRUE(ColumnsWith(saved, form->XsColor, 0, 550).empty());
}

TEST_F(SaveTest, FailedSavesNameThePathAndKeepWhatWasThere)
{
    DeliverTenthsSweep();
    const auto [path, reason] = Unwritable();
    answer = path;
    form->BMPSaveClick();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(path)) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(reason)) << errors[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(path));

    answer = QFileInfo(path).path() + "/table.csv";
    form->Button1Click();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].contains(answer)) << errors[1].toStdString();
    EXPECT_TRUE(errors[1].contains(reason)) << errors[1].toStdString();

    // A save that fails half-way leaves the earlier file as it was, and no temporary file.
    QDir(dir.path()).mkdir("keep");
    answer = dir.filePath("keep/old.bmp");
    ASSERT_TRUE(WriteAll(answer, "previous picture"));
    {
        const FileSizeLimit limit(4096);
        form->BMPSaveClick();
    }
    ASSERT_EQ(errors.size(), 3);
    EXPECT_TRUE(errors[2].contains(answer)) << errors[2].toStdString();
    EXPECT_EQ(ReadAll(answer), QByteArray("previous picture"));
    EXPECT_EQ(QDir(dir.filePath("keep")).entryList(QDir::Files), QStringList{"old.bmp"});
}

TEST_F(SaveTest, ErrorBoxIsAModalBoxWithOneOkButton)
{
    form->ErrorBox = nullptr;
    const auto [path, reason] = Unwritable();
    answer = path;
    QString title, text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        icon = box->icon();
        box->accept();
    });
    form->BMPSaveClick();
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(buttons, QMessageBox::Ok);
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(text.contains(path)) << text.toStdString();
    EXPECT_TRUE(text.contains(reason)) << text.toStdString();
}

TEST_F(SaveTest, CsvHoldsTheSweepOnDisplay)
{
    // Before the first sweep there is nothing to save: no dialog, no file.
    answer = dir.filePath("none.csv");
    form->Button1->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("no sweep")) << errors[0].toStdString();
    EXPECT_TRUE(dialogs.empty());
    EXPECT_FALSE(QFileInfo::exists(answer));
    errors.clear();

    // Ten samples between 10 and 20 MHz with varied counts.
    DeliverSweep(10000, 20000, 10, [](int i) { return WithRl(100 + 90 * i, 60 + 95 * i); });
    answer = dir.filePath("sweep.csv");
    form->Button1->click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_NE(dialogs[0], form->SaveDialog1);
    EXPECT_EQ(suffixes[0], "csv");
    EXPECT_EQ(filters[0], "CSV files (*.csv)");

    const QList<QByteArray> lines = ReadAll(answer).split('\n');
    ASSERT_EQ(lines.size(), 12); // header, ten samples, the empty rest after the last newline
    EXPECT_TRUE(lines[0].startsWith("Frequency (MHz),SWR,")) << lines[0].toStdString();
    EXPECT_EQ(lines[0].count(','), 9);
    EXPECT_TRUE(lines[11].isEmpty());

    const int decimals[10] = {3, 2, 1, 1, 2, 2, 2, 1, 1, 1};
    for (int i = 0; i < 10; ++i) {
        const QList<QByteArray> fields = lines[1 + i].split(',');
        ASSERT_EQ(fields.size(), 10) << lines[1 + i].toStdString();
        // Marker 1 on sample i shows its read-outs.
        Click(Qt::LeftButton, ML + static_cast<int>(llrintl(98.8L * i)));
        ASSERT_EQ(form->Marker1Index, i);
        const QString readouts[10] = {form->marker1_F->text(),  form->marker1_SWR->text(), form->marker1_RL->text(),
                                      form->marker1_Phase->text(), form->marker1_Z->text(), form->marker1_Rs->text(),
                                      form->marker1_Xs->text(), form->marker1_L->text(),   form->marker1_C->text(),
                                      form->marker1_Q->text()};
        const TVNAEntry& e = *form->VNAList->GetEntry(i);
        const Extended exact[10] = {e.FreqMHz, e.SWR, e.RLdB, e.PhaseDeg, e.Z, e.Rs, e.Xs, e.LuH, e.CpF, e.Q};
        for (int c = 0; c < 10; ++c) {
            const std::optional<Extended> value = ParseDecimal(fields[c].toStdString());
            ASSERT_TRUE(value.has_value()) << fields[c].toStdString();
            EXPECT_EQ(QString::fromStdString(FormatFixed(*value, decimals[c])), readouts[c])
                << "sample " << i << " column " << c;
            EXPECT_EQ(*value, exact[c]) << "sample " << i << " column " << c << ": the value reads back exactly";
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    // A locale with ',' as decimal separator: edits and files must still use '.'.
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    QApplication app(argc, argv);
    RegisterWindowFont();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
