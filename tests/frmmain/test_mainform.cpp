// The main window after start-up: defaults, layout, the empty plot, a sweep's read-outs
// and traces; the hand-off of calls to its event loop. Closing is shown by the worker
// tests, during a sweep.
#include "frmmain/FormFixture.h"
#ifndef _WIN32
#include "platform/PortList_linux.h"
#endif
#include "platform/PortTable.h"
#include "platform/Synchronize.h"
#include "plot/TPanelPlus.h"

#include <QComboBox>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

using MainFormTest = FormTest;

// Group boxes sit 3 pixels above the bottom of the client area.
int GroupTop(const TMainForm& f) { return f.centralwidget->height() - 3 - 98; }

// Whether colour c appears strictly inside the plot frame, where only traces are coloured so.
bool InPlot(const TMainForm& f, const QColor& c)
{
    const QImage plot = f.PlotBitmap->copy(f.MarginLeft + 1, f.MarginTop + 1, f.PlotWidth - 1, f.PlotHeight - 1);
    return !ColumnsWith(plot, c).empty();
}

} // namespace

TEST(WindowSize, NinetyPercentOfTheScreenWithMinimum)
{
    EXPECT_EQ(InitialWindowSize(QSize(1920, 1080)), QSize(1728, 972));
    EXPECT_EQ(InitialWindowSize(QSize(1000, 600)), QSize(900, 600));
}

TEST_F(MainFormTest, StartsWithTheDefaults)
{
    EXPECT_EQ(form->windowTitle(), "Kestrin VNA mod by Dovrel");
    const QStringList edits = {form->eFstart->text(), form->eFend->text(), form->eSteps->text(), form->eCalRL->text(),
                               form->eDDSFreq->text(), form->eCorL->text(), form->eCorL2->text()};
    EXPECT_EQ(edits, QStringList({"0.1", "180", "500", "0", "400000000", "100", "100"}));
    EXPECT_EQ(form->VNASelect->currentText(), "Corvel - 180MHz");
    EXPECT_EQ(form->btnStart->text(), "Start");
    EXPECT_FALSE(form->btnZoom->isEnabled());
    for (QAction* band : form->Band1->actions())
        EXPECT_FALSE(band->isChecked()) << band->objectName().toStdString();
    // Plot choices (which traces they show is checked with a sweep): the last three hidden.
    EXPECT_FALSE(form->cbRFint->isVisible() || form->cbRFext1->isVisible() || form->cbRFext2->isVisible());
    // No read-out before the first sweep.
    EXPECT_EQ(Row("lowswr_") + Row("marker1_") + Row("marker2_"), QStringList(30, QString()));
}

TEST_F(MainFormTest, EveryNamedControlSitsWhereTheLayoutPutsIt)
{
    QStringList menus, bands;
    for (QAction* a : form->MainMenu1->actions())
        menus << a->text();
    for (QAction* a : form->Band1->actions())
        bands << a->objectName() + " " + a->text();
    // Each caption with its mnemonic ('&' before the underlined character).
    EXPECT_EQ(menus, QStringList({"&File", "&Band", "&Calibration", "&Generator", "&View", "&Help"}));
    EXPECT_EQ(bands, QStringList({"N130MHz1 1-30 M&Hz", "N1180Mhz1 1-180 MH&z", "N1500MHz1 1-500 &MHz",
                                  "N160M1 &160M", "N80M1 &80M", "N40M1 &40M", "N30M1 &30M", "N20M1 &20M",
                                  "N17M1 1&7M", "N15M1 1&5M", "N12M1 12&M", "N10M1 1&0M", "N6M1 &6M", "N2M1 &2M",
                                  "N70CM1 70&CM"}));

    const int g = GroupTop(*form);
    const struct {
        const char* name;
        QRect rect;
        const char* title = nullptr;
    } places[] = {
        {"VNASelect", {5, 8, 121, 21}}, {"btnStart", {143, 5, 75, 25}}, {"Label12", {225, 11, 41, 13}},
        {"cbComPort", {272, 8, 89, 21}}, {"Label13", {398, 11, 27, 13}}, {"eSteps", {431, 8, 61, 21}},
        {"Label14", {520, 11, 38, 13}}, {"eCalRL", {564, 8, 51, 21}}, {"Label15", {621, 11, 12, 13}},
        {"Label16", {646, 11, 47, 13}}, {"eDDSFreq", {699, 8, 82, 21}}, {"Label17", {787, 11, 16, 13}},
        {"btnZoom", {809, 5, 75, 25}}, {"BMPSave", {889, 5, 75, 25}}, {"Button1", {969, 5, 75, 25}},
        {"GroupBox2", {8, g, 145, 98}, " Settings "}, {"GroupBox1", {154, g, 534, 98}, " Values "},
        {"GroupBox3", {689, g, 247, 98}, " Plot "}, {"GroupBox4", {937, g, 185, 98}, "Calculate L or C for Marker 1"},
        {"GroupBox5", {1122, g, 185, 98}, "Calculate L or C for Marker 2"},
    };
    for (const auto& p : places) {
        QWidget* w = form->findChild<QWidget*>(p.name);
        ASSERT_NE(w, nullptr) << p.name;
        // A right-aligned caption that the platform's font draws wider than its place grows
        // to the left, keeping its right edge (none does with the fonts of the Linux build).
        QRect rect = p.rect;
        if (const auto* label = qobject_cast<QLabel*>(w); label && (label->alignment() & Qt::AlignRight))
            rect.setLeft(rect.left() - std::max(0, label->fontMetrics().horizontalAdvance(label->text()) - rect.width()));
        EXPECT_EQ(w->geometry(), rect) << p.name;
        if (p.title) {
            EXPECT_EQ(qobject_cast<QGroupBox*>(w)->title(), p.title);
        }
    }
    EXPECT_EQ(form->PlotPanel->pos(), QPoint(8, 39));
    EXPECT_EQ(form->PlotPanel->cursor().shape(), Qt::CrossCursor);

    // The read-out grid: ten columns under their headers, rows at 32, 51 and 70, right-aligned;
    // the lowest-SWR row bold except its frequency.
    const struct {
        const char *suffix, *header, *caption;
        int left, width;
    } columns[] = {
        {"F", "Label4", "Frequency", 72, 62}, {"SWR", "Label5", "SWR", 140, 36}, {"RL", "Label7", "R.L.", 182, 34},
        {"Phase", "Label8", "Phase", 222, 34}, {"Z", "Label6", "|Z|", 262, 38}, {"Rs", "Label9", "Rs", 306, 38},
        {"Xs", "Label10", "|Xs|", 350, 38}, {"L", "Label18", "L(uH)", 394, 43}, {"C", "Label19", "C(pF)", 438, 43},
        {"Q", "Label23", "Q", 482, 38},
    };
    for (const auto& c : columns) {
        const QLabel* header = form->findChild<QLabel*>(c.header);
        ASSERT_NE(header, nullptr) << c.header;
        EXPECT_EQ(header->text(), c.caption);
        EXPECT_EQ(QPoint(header->geometry().right(), header->y()), QPoint(c.left + c.width - 1, 13)) << c.header;
        for (const auto& [prefix, top] : {std::pair{"lowswr_", 32}, {"marker1_", 51}, {"marker2_", 70}}) {
            const QString name = QString(prefix) + c.suffix;
            const QLabel* cell = form->findChild<QLabel*>(name);
            ASSERT_NE(cell, nullptr) << name.toStdString();
            EXPECT_EQ(QRect(cell->x(), cell->y(), cell->width(), 13), QRect(c.left, top, c.width, 13)) << name.toStdString();
            EXPECT_TRUE(cell->alignment() & Qt::AlignRight) << name.toStdString();
            EXPECT_EQ(cell->font().bold(), top == 32 && c.header != std::string("Label4")) << name.toStdString();
        }
    }
    // Window font: Tahoma, 11 pixels.
    EXPECT_EQ(form->font().family(), "Tahoma");
    EXPECT_EQ(form->font().pixelSize(), 11);

    // The tab order.
    const QStringList expected = {"btnStart", "cbComPort", "eFstart", "eFend", "cbSWR", "cbRL", "cbPhase", "cbZ",
                                  "cbXs", "cbRs", "eSteps", "eCalRL", "btnZoom", "eDDSFreq", "rbCalcL", "rbCalcC",
                                  "eCorL", "VNASelect", "rbCalcL2", "rbCalcC2", "eCorL2", "BMPSave", "Button1"};
    QStringList chain = {"btnStart"};
    for (QWidget* w = form->btnStart->nextInFocusChain(); w != form->btnStart; w = w->nextInFocusChain())
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain << w->objectName();
    EXPECT_EQ(chain, expected);
}

TEST_F(MainFormTest, EmptyPlotFollowsThePanel)
{
    TPanelPlus* panel = form->PlotPanel;
    // After the first show the layout follows the panel, not the 988 x 470 of creation.
    EXPECT_EQ(QSize(form->PlotWidth, form->PlotHeight), panel->size() - QSize(180, 80));

    // Resizing: the panel grows with the window, the group boxes keep their place above the
    // bottom, and the picture follows.
    const QSize before = panel->size();
    form->resize(form->size() + QSize(200, 100));
    QApplication::processEvents();
    EXPECT_EQ(panel->size(), before + QSize(200, 100));
    EXPECT_EQ(form->PlotBitmap->size(), panel->size());
    EXPECT_EQ(form->GroupBox3->geometry(), QRect(689, GroupTop(*form), 247, 98));
    EXPECT_EQ(panel->geometry().bottomRight() + QPoint(1 + 5, 1 + 104),
              QPoint(form->centralwidget->width(), form->centralwidget->height()));
}

TEST_F(MainFormTest, SweepShowsReadoutsAndChosenTraces)
{
    const QImage empty = *form->PlotBitmap;
    // Phase and return-loss counts 512: 90 degrees, 10 dB; marker 1 at the first sample.
    form->Marker1FreqMHz = 10;
    DeliverSweep(10000, 20000, 10, [](int) { return Counts(512, 512); });
    EXPECT_EQ(Row("marker1_"), QStringList({"10.000", "1.92", "10.0", "90.0", "50.00", "40.91", "28.75", "0.5",
                                            "553.6", "0.7"}));

    // A click on a box redraws at once: an unchecked trace appears, a checked one goes; with
    // every box cleared and the frequency scale switched off only the empty plot is left.
    const std::pair<QCheckBox*, QColor> traces[] = {{form->cbSWR, form->SwrColor}, {form->cbRL, form->RlColor},
                                                    {form->cbPhase, form->PhaseColor}, {form->cbZ, form->ZColor},
                                                    {form->cbXs, form->XsColor}, {form->cbRs, form->RsColor}};
    for (const auto& [box, colour] : traces) {
        EXPECT_EQ(InPlot(*form, colour), box->isChecked()) << box->objectName().toStdString();
        if (!box->isChecked()) {
            box->click();
            EXPECT_TRUE(InPlot(*form, colour)) << box->objectName().toStdString();
        }
    }
    for (const auto& [box, colour] : traces) {
        box->click();
        EXPECT_FALSE(InPlot(*form, colour)) << box->objectName().toStdString();
    }
    form->Frequencyscale1->trigger();
    EXPECT_EQ(*form->PlotBitmap, empty);
}

// Long values widen their columns to the left; with a 31-digit return loss the grid runs
// out of room and the Values box widens, pushing the boxes to its right along.
TEST_F(MainFormTest, ReadoutsShowEveryDigitAndNeighbouringTextsKeepApart)
{
    const QList<QLabel*> headers = {form->Label4, form->Label5,  form->Label7,  form->Label8,  form->Label6,
                                    form->Label9, form->Label10, form->Label18, form->Label19, form->Label23};
    const QStringList columns = {"F", "SWR", "RL", "Phase", "Z", "Rs", "Xs", "L", "C", "Q"};
    const auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        // The row titles are left-aligned: each must fit its label too ("Lowest SWR").
        for (const QLabel* title : {form->Label1, form->Label2, form->Label3})
            EXPECT_LE(title->fontMetrics().horizontalAdvance(title->text()), title->width()) << title->objectName().toStdString();
        for (const QString row : {"", "lowswr_", "marker1_", "marker2_"}) {
            // Texts are right-aligned: each must fit its label and start clear of the one before.
            int previousEnd = form->Label1->x() + form->Label1->fontMetrics().horizontalAdvance(form->Label1->text());
            for (int c = 0; c < columns.size(); ++c) {
                const QLabel* cell = row.isEmpty() ? headers[c] : form->findChild<QLabel*>(row + columns[c]);
                const int textWidth = cell->fontMetrics().horizontalAdvance(cell->text());
                EXPECT_LE(textWidth, cell->width()) << cell->objectName().toStdString();
                EXPECT_GT(cell->x() + cell->width() - textWidth, previousEnd) << cell->objectName().toStdString();
                previousEnd = cell->x() + cell->width();
            }
            EXPECT_LT(previousEnd, form->GroupBox1->width());
        }
        EXPECT_LT(form->GroupBox1->x() + form->GroupBox1->width(), form->GroupBox3->x());
    };
    // R.L. Cal 0.01953125 dB: pure reactances a kHz or two above 0, C of ten digits and more.
    form->RLCalDb = 0.01953125L;
    form->Marker1FreqMHz = 0.002L;
    DeliverSweep(1, 11, 10, [](int i) { return Counts(i % 2 ? 1023 : 1, 341); });
    ASSERT_GE(Row("marker1_")[8].size(), 12);
    check("reactances");
#ifndef _WIN32 // the fonts of Windows may draw the digits wider, and the box widen with them
    EXPECT_EQ(form->GroupBox3->x(), 689);
#endif

    form->RLCalDb = 1e30L;
    form->cbSWR->click(); // a redraw with the new calibration
    ASSERT_GE(Row("lowswr_")[2].size(), 31);
    check("a return loss of 31 digits");
    EXPECT_GT(form->GroupBox3->x(), 689);
}

// The window's event loop runs a call handed over from another thread: the event posted
// for it arrives while nothing pumps the queue; an exception goes back to the caller.
TEST(WindowSynchronize, HandOversRunInTheEventLoop)
{
    QEventLoop loop;
    bool ranInLoop = false;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        kestrin::Synchronize([&] {
            ranInLoop = kestrin::IsUiThread() && loop.isRunning();
            loop.quit();
        });
        EXPECT_THROW(kestrin::Synchronize([] { throw std::runtime_error("from the UI thread"); }), std::runtime_error);
        returned = true;
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 20000));
    worker.join();
    EXPECT_TRUE(ranInLoop);
}

#ifndef _WIN32 // the port list of Linux, from a folder that stands for /dev
TEST_F(MainFormTest, OpeningThePortListFillsItAnewAndKeepsTheChosenPort)
{
    QTemporaryDir root;
    const fs::path dev = fs::path(root.path().toStdString()) / "dev";
    fs::create_directories(dev / "pts");
    // A port as a test bench makes one: a link in /dev to a pseudo-terminal.
    const auto plugIn = [&](const std::string& name, int pts) {
        std::ofstream(dev / "pts" / std::to_string(pts)).put('\n');
        fs::create_symlink("/dev/pts/" + std::to_string(pts), dev / name);
    };
    form->EnumeratePorts = [&] { return kestrin::LinuxPortProvider(root.path().toStdString()).Enumerate(); };
    QComboBox* list = form->cbComPort;
    // Opens the drop-down as a person does, closes it again and tells what it listed.
    const auto open = [&] {
        QTest::mouseClick(list, Qt::LeftButton);
        list->hidePopup();
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->itemText(i);
        return texts;
    };

    plugIn("ttyACM0", 1);
    EXPECT_EQ(open(), QStringList({"ttyACM0", "Simulator"}));
    EXPECT_EQ(list->currentText(), "ttyACM0");
    // The closed field names the full path of the port Start opens.
    EXPECT_EQ(list->toolTip().toStdString(), (dev / "ttyACM0").string() + "\nLink to /dev/pts/1");

    // Plugged in after the choice: listed, and the choice stays.
    list->setCurrentIndex(list->findText("Simulator"));
    plugIn("ttyUSB9", 2);
    EXPECT_EQ(open(), QStringList({"ttyACM0", "ttyUSB9", "Simulator"}));
    EXPECT_EQ(list->currentText(), "Simulator");
    EXPECT_EQ(list->toolTip(), "");

    // The chosen port goes: the rule chooses again, and its number leads nowhere.
    list->setCurrentIndex(list->findText("ttyUSB9"));
    const int gone = list->currentData().toInt();
    fs::remove(dev / "ttyUSB9");
    EXPECT_EQ(open(), QStringList({"ttyACM0", "Simulator"}));
    EXPECT_EQ(list->currentText(), "ttyACM0");
    EXPECT_FALSE(kestrin::FindPort(gone).has_value());
    EXPECT_TRUE(errors.isEmpty());
}
#endif

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
