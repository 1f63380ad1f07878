// The main window right after start-up, its layout, wiring, redraw and close.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "frmmain/TMainForm.h"
#include "plot/TPanelPlus.h"

namespace {

// The client area the layout was described in; group boxes sit 3 pixels above its bottom.
constexpr int GroupTop(int clientHeight) { return clientHeight - 3 - 98; }

bool HasColour(const QImage& img, QColor c)
{
    const QImage rgb = img.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            if (line[3 * x] == c.red() && line[3 * x + 1] == c.green() && line[3 * x + 2] == c.blue())
                return true;
    }
    return false;
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = new TMainForm;
        form->show();
        QApplication::processEvents();
    }
    void TearDown() override { delete form.data(); }

    template <typename T> T* Child(const char* name)
    {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Puts the same raw sample into every step of a held sweep and delivers it as the
    // worker does: under the lock, then the posted sweep-done message.
    void DeliverSweep(int startKHz, int endKHz, int steps, const uint8_t sample[4])
    {
        {
            std::lock_guard<std::mutex> lock(*form->SweepLock);
            form->ShownStartKHz = startKHz;
            form->ShownEndKHz = endKHz;
            form->ShownSteps = steps;
            for (int i = 0; i < steps; ++i)
                std::memcpy(form->RawSweepBuffer.get() + 4 * i, sample, 4);
        }
        QCoreApplication::postEvent(form, new QEvent(static_cast<QEvent::Type>(WM_SWEEPDONE)));
        QApplication::processEvents();
    }

    QPointer<TMainForm> form;
};

} // namespace

TEST(WindowSize, NinetyPercentOfTheScreenWithMinimum)
{
    EXPECT_EQ(InitialWindowSize(QSize(1920, 1080)), QSize(1728, 972));
    EXPECT_EQ(InitialWindowSize(QSize(1000, 600)), QSize(900, 600));
    EXPECT_EQ(InitialWindowSize(QSize(1366, 768)), QSize(1229, 691));
    EXPECT_EQ(InitialWindowSize(QSize(800, 1200)), QSize(900, 1080));
}

TEST_F(MainFormTest, StartsWithTheDefaults)
{
    EXPECT_EQ(form->windowTitle(), "Kestrin VNA mod by Dovrel");
    EXPECT_EQ(form->eFstart->text(), "0.1");
    EXPECT_EQ(form->eFend->text(), "180");
    EXPECT_EQ(form->eSteps->text(), "500");
    EXPECT_EQ(form->eCalRL->text(), "0");
    EXPECT_EQ(form->eDDSFreq->text(), "400000000");
    EXPECT_EQ(form->eCorL->text(), "100");
    EXPECT_EQ(form->eCorL2->text(), "100");
    EXPECT_EQ(form->VNASelect->currentText(), "Corvel - 180MHz");
    EXPECT_EQ(form->VNASelect->count(), 2);
    EXPECT_EQ(form->btnStart->text(), "Start");
    EXPECT_FALSE(form->btnZoom->isEnabled());
    EXPECT_TRUE(form->VNASelect->isEnabled());
    EXPECT_TRUE(form->cbComPort->isEnabled());

    EXPECT_EQ(form->SweepStartKHz, 100);
    EXPECT_EQ(form->SweepEndKHz, 180000);
    EXPECT_EQ(form->SweepSteps, 500);
    EXPECT_EQ(form->DdsClockHz, 400000000);
    EXPECT_EQ(form->TuningFactor, 4294967296000.0L / 400000000);
    EXPECT_EQ(form->ShownTuningFactor, form->TuningFactor);
    EXPECT_EQ(form->PhaseScale, 0.17578125L);
    EXPECT_EQ(form->CorL1Value, 100);
    EXPECT_EQ(form->CorL2Value, 100);
    EXPECT_EQ(form->Marker1Index, -1);
    EXPECT_EQ(form->Marker2Index, -1);
    EXPECT_EQ(form->MinSwrIndex, -1);
    EXPECT_EQ(form->ComThread, nullptr);
    EXPECT_FALSE(form->DataShown);
    for (int i = 0; i < RawSweepBufferSize; ++i)
        ASSERT_EQ(form->RawSweepBuffer[i], 0) << i;

    // No read-out before the first sweep.
    for (QLabel* cell : {form->lowswr_F, form->lowswr_Q, form->marker1_F, form->marker2_C,
                         form->lblCalcCorLfreq, form->lblResultCalcLorC2})
        EXPECT_TRUE(cell->text().isEmpty()) << cell->objectName().toStdString();
}

TEST_F(MainFormTest, BandMenuIsOneOptionalRadioGroup)
{
    const char* names[] = {"N130MHz1", "N1180Mhz1", "N1500MHz1", "N160M1", "N80M1", "N40M1", "N30M1", "N20M1",
                           "N17M1", "N15M1", "N12M1", "N10M1", "N6M1", "N2M1", "N70CM1"};
    const char* captions[] = {"1-30 MHz", "1-180 MHz", "1-500 MHz", "160M", "80M", "40M", "30M", "20M",
                              "17M", "15M", "12M", "10M", "6M", "2M", "70CM"};
    const QList<QAction*> items = form->Band1->actions();
    ASSERT_EQ(items.size(), 15);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(items[i]->objectName(), names[i]);
        EXPECT_EQ(items[i]->text(), captions[i]);
        EXPECT_TRUE(items[i]->isCheckable());
        EXPECT_FALSE(items[i]->isChecked()) << names[i];
        EXPECT_EQ(items[i]->actionGroup(), items[0]->actionGroup());
    }
    QStringList menus;
    for (QAction* a : form->MainMenu1->actions())
        menus << a->text();
    EXPECT_EQ(menus, QStringList({"File", "Band", "Calibration", "Generator"}));

    // Choosing an item checks it and clears the others; choosing it again clears it.
    items[3]->trigger();
    items[4]->trigger();
    EXPECT_FALSE(items[3]->isChecked());
    EXPECT_TRUE(items[4]->isChecked());
    items[4]->trigger();
    for (QAction* a : items)
        EXPECT_FALSE(a->isChecked()) << a->objectName().toStdString();
}

TEST_F(MainFormTest, ControlsSitWhereTheLayoutPutsThem)
{
    struct Place {
        const char* name;
        QRect rect;
    };
    const Place topRow[] = {
        {"VNASelect", {5, 8, 121, 21}}, {"btnStart", {143, 5, 75, 25}}, {"Label12", {225, 11, 41, 13}},
        {"cbComPort", {272, 8, 89, 21}}, {"Label13", {398, 11, 27, 13}}, {"eSteps", {431, 8, 61, 21}},
        {"Label14", {520, 11, 38, 13}}, {"eCalRL", {564, 8, 51, 21}}, {"Label15", {621, 11, 12, 13}},
        {"Label16", {646, 11, 47, 13}}, {"eDDSFreq", {699, 8, 82, 21}}, {"Label17", {787, 11, 16, 13}},
        {"btnZoom", {809, 5, 75, 25}}, {"BMPSave", {889, 5, 75, 25}}, {"Button1", {969, 5, 75, 25}},
    };
    for (const Place& p : topRow) {
        if (QWidget* w = Child<QWidget>(p.name)) {
            EXPECT_EQ(w->geometry(), p.rect) << p.name;
        }
    }

    const int client = form->centralwidget->height();
    const Place groups[] = {
        {"GroupBox2", {8, GroupTop(client), 145, 98}}, {"GroupBox1", {154, GroupTop(client), 534, 98}},
        {"GroupBox3", {689, GroupTop(client), 247, 98}}, {"GroupBox4", {937, GroupTop(client), 185, 98}},
        {"GroupBox5", {1122, GroupTop(client), 185, 98}},
    };
    for (const Place& p : groups) {
        if (QWidget* w = Child<QGroupBox>(p.name)) {
            EXPECT_EQ(w->geometry(), p.rect) << p.name;
        }
    }
    EXPECT_EQ(form->GroupBox2->title(), " Settings ");
    EXPECT_EQ(form->GroupBox1->title(), " Values ");
    EXPECT_EQ(form->GroupBox3->title(), " Plot ");
    EXPECT_EQ(form->GroupBox4->title(), "Calculate L or C for Marker 1");
    EXPECT_EQ(form->GroupBox5->title(), "Calculate L or C for Marker 2");
    EXPECT_EQ(form->eFstart->parentWidget(), form->GroupBox2);
    EXPECT_EQ(form->eFstart->width(), 90);
    EXPECT_EQ(form->eFend->width(), 90);

    // The read-out grid: ten columns, a header at 13 and rows at 32, 51, 70.
    struct Column {
        const char* suffix;
        const char* header;
        const char* caption;
        int left, width;
    };
    const Column columns[] = {
        {"F", "Label4", "Frequency", 72, 62}, {"SWR", "Label5", "SWR", 140, 36}, {"RL", "Label7", "R.L.", 182, 34},
        {"Phase", "Label8", "Phase", 222, 34}, {"Z", "Label6", "|Z|", 262, 38}, {"Rs", "Label9", "Rs", 306, 38},
        {"Xs", "Label10", "|Xs|", 350, 38}, {"L", "Label18", "L(uH)", 394, 43}, {"C", "Label19", "C(pF)", 438, 43},
        {"Q", "Label23", "Q", 482, 38},
    };
    const struct {
        const char* prefix;
        int top;
    } rows[] = {{"lowswr_", 32}, {"marker1_", 51}, {"marker2_", 70}};
    for (const Column& c : columns) {
        QLabel* header = Child<QLabel>(c.header);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->text(), c.caption);
        EXPECT_EQ(header->y(), 13);
        EXPECT_EQ(header->geometry().right(), c.left + c.width - 1) << c.header;
        for (const auto& r : rows) {
            const std::string name = std::string(r.prefix) + c.suffix;
            QLabel* cell = Child<QLabel>(name.c_str());
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->parentWidget(), form->GroupBox1);
            EXPECT_EQ(QRect(cell->x(), cell->y(), cell->width(), 13), QRect(c.left, r.top, c.width, 13)) << name;
            EXPECT_TRUE(cell->alignment() & Qt::AlignRight) << name;
            const bool bold = std::strcmp(r.prefix, "lowswr_") == 0 && std::strcmp(c.suffix, "F") != 0;
            EXPECT_EQ(cell->font().bold(), bold) << name;
        }
    }
    EXPECT_EQ(form->Label1->text(), "Lowest SWR");
    EXPECT_EQ(form->Label3->text(), "Marker 2");
    EXPECT_FALSE(form->Label4->font().bold());
    for (QLabel* l : {form->Label12, form->Label13, form->Label14, form->Label16, form->Label26, form->Label28})
        EXPECT_TRUE(l->alignment() & Qt::AlignRight) << l->objectName().toStdString();

    EXPECT_EQ(form->eSteps->toolTip(), "Steps between 10 and 4000");

    // Every other named part of the window, and the save dialog that outlives each export.
    for (const char* name : {"Label11", "Label20", "Label21", "Label22", "Label24", "Label25", "Label27", "Label29",
                             "Label30", "Label32", "Label33", "Label34", "Label36", "lblCalcCorLfreq",
                             "lblResultCalcLorC", "lblCalcCorL2freq", "lblResultCalcLorC2"})
        Child<QLabel>(name);
    ASSERT_NE(form->SaveDialog1, nullptr);
    EXPECT_EQ(form->SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(form->SaveDialog1->isVisible());

    // Plot choices: six visible, three hidden; SWR, Phase, Z and Xs checked.
    for (QCheckBox* b : {form->cbSWR, form->cbPhase, form->cbZ, form->cbXs})
        EXPECT_TRUE(b->isVisible() && b->isChecked()) << b->objectName().toStdString();
    for (QCheckBox* b : {form->cbRL, form->cbRs})
        EXPECT_TRUE(b->isVisible() && !b->isChecked()) << b->objectName().toStdString();
    for (QCheckBox* b : {form->cbRFint, form->cbRFext1, form->cbRFext2})
        EXPECT_FALSE(b->isVisible()) << b->objectName().toStdString();
    EXPECT_TRUE(form->rbCalcL->isChecked() && form->rbCalcL2->isChecked());
    EXPECT_EQ(form->Label20->text(), "C");
    EXPECT_EQ(form->Label27->text(), "uH");
    EXPECT_EQ(form->Label36->text(), "uH");

    // Window font: Tahoma, 11 pixels.
    EXPECT_EQ(form->font().family(), "Tahoma");
    EXPECT_EQ(form->font().pixelSize(), 11);
    if (QFile::exists("/usr/share/wine/fonts/tahoma.ttf")) {
        EXPECT_EQ(QFontInfo(form->lowswr_SWR->font()).family(), "Tahoma");
        EXPECT_EQ(QFontInfo(form->lowswr_SWR->font()).pixelSize(), 11);
    }
}

TEST_F(MainFormTest, TabOrderFollowsTheLayout)
{
    const QStringList expected = {"btnStart", "cbComPort", "eFstart", "eFend", "cbSWR", "cbRL", "cbPhase",
                                  "cbZ", "cbXs", "cbRs", "eSteps", "eCalRL", "btnZoom", "eDDSFreq",
                                  "rbCalcL", "rbCalcC", "eCorL", "VNASelect", "rbCalcL2", "rbCalcC2",
                                  "eCorL2", "BMPSave", "Button1"};
    QStringList chain;
    QWidget* w = form->btnStart;
    do {
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w != form->btnStart);
    EXPECT_EQ(chain, expected);
}

TEST_F(MainFormTest, EveryEventIsWiredToItsHandler)
{
    // A connection that already exists cannot be made again as a unique one.
    const struct {
        const char* sender;
        const char* signal;
        const char* slot;
    } wiring[] = {
        {"btnStart", SIGNAL(clicked()), SLOT(btnStartClick())},
        {"btnZoom", SIGNAL(clicked()), SLOT(btnZoomClick())},
        {"BMPSave", SIGNAL(clicked()), SLOT(BMPSaveClick())},
        {"Button1", SIGNAL(clicked()), SLOT(Button1Click())},
        {"cbSWR", SIGNAL(clicked()), SLOT(cbPlotClick())}, {"cbRL", SIGNAL(clicked()), SLOT(cbPlotClick())},
        {"cbPhase", SIGNAL(clicked()), SLOT(cbPlotClick())}, {"cbZ", SIGNAL(clicked()), SLOT(cbPlotClick())},
        {"cbXs", SIGNAL(clicked()), SLOT(cbPlotClick())}, {"cbRs", SIGNAL(clicked()), SLOT(cbPlotClick())},
        {"cbRFint", SIGNAL(clicked()), SLOT(cbPlotClick())}, {"cbRFext1", SIGNAL(clicked()), SLOT(cbPlotClick())},
        {"cbRFext2", SIGNAL(clicked()), SLOT(cbPlotClick())},
        {"eFstart", SIGNAL(Exit()), SLOT(eFstartExit())}, {"eFend", SIGNAL(Exit()), SLOT(eFendExit())},
        {"eFstart", SIGNAL(KeyPress(char&)), SLOT(eFstartEndKeyPress(char&))},
        {"eFend", SIGNAL(KeyPress(char&)), SLOT(eFstartEndKeyPress(char&))},
        {"eSteps", SIGNAL(Exit()), SLOT(eStepsExit())},
        {"eSteps", SIGNAL(KeyPress(char&)), SLOT(eDDSFreqKeyPress(char&))},
        {"eDDSFreq", SIGNAL(KeyPress(char&)), SLOT(eDDSFreqKeyPress(char&))},
        {"eDDSFreq", SIGNAL(Exit()), SLOT(eDDSFreqExit())},
        {"eCalRL", SIGNAL(Exit()), SLOT(eCalRLExit())}, {"eCalRL", SIGNAL(KeyPress(char&)), SLOT(eCalRLKeyPress(char&))},
        {"eCorL", SIGNAL(Exit()), SLOT(eCorLExit())}, {"eCorL", SIGNAL(KeyPress(char&)), SLOT(eCorLKeyPress(char&))},
        {"eCorL2", SIGNAL(Exit()), SLOT(eCorL2Exit())}, {"eCorL2", SIGNAL(KeyPress(char&)), SLOT(eCorL2KeyPress(char&))},
        {"rbCalcL", SIGNAL(clicked()), SLOT(rbCalcLClick())}, {"rbCalcC", SIGNAL(clicked()), SLOT(rbCalcLClick())},
        {"rbCalcL2", SIGNAL(clicked()), SLOT(rbCalcL2Click())}, {"rbCalcC2", SIGNAL(clicked()), SLOT(rbCalcL2Click())},
        {"VNASelect", SIGNAL(activated(int)), SLOT(VNASelectChange())},
        {"N130MHz1", SIGNAL(triggered()), SLOT(N130MHz1Click())}, {"N1180Mhz1", SIGNAL(triggered()), SLOT(N1180Mhz1Click())},
        {"N1500MHz1", SIGNAL(triggered()), SLOT(N1500MHz1Click())}, {"N160M1", SIGNAL(triggered()), SLOT(N160M1Click())},
        {"N80M1", SIGNAL(triggered()), SLOT(N80M1Click())}, {"N40M1", SIGNAL(triggered()), SLOT(N40M1Click())},
        {"N30M1", SIGNAL(triggered()), SLOT(N30M1Click())}, {"N20M1", SIGNAL(triggered()), SLOT(N20M1Click())},
    };
    for (const auto& w : wiring) {
        QObject* sender = form->findChild<QObject*>(QString::fromLatin1(w.sender));
        ASSERT_NE(sender, nullptr) << w.sender;
        const QMetaObject::Connection again =
            QObject::connect(sender, w.signal, form, w.slot, Qt::UniqueConnection);
        EXPECT_FALSE(again) << w.sender << " " << w.signal << " is not wired to " << w.slot;
        if (again)
            QObject::disconnect(again);
    }
    // The port list has no handler: the same check sees a connection it could make.
    const QMetaObject::Connection unwired =
        QObject::connect(form->cbComPort, SIGNAL(activated(int)), form, SLOT(VNASelectChange()), Qt::UniqueConnection);
    EXPECT_TRUE(unwired);
    QObject::disconnect(unwired);
}

TEST_F(MainFormTest, EmptyPlotFollowsThePanel)
{
    TPanelPlus* panel = form->PlotPanel;
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->parentWidget(), form->centralwidget);
    EXPECT_EQ(panel->cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(panel->pos(), QPoint(8, 39));

    // After the first show the layout follows the panel, not the 988 x 470 of creation.
    EXPECT_EQ(form->PlotWidth, panel->width() - 180);
    EXPECT_EQ(form->PlotHeight, panel->height() - 80);
    EXPECT_EQ(form->PlotBitmap->size(), panel->size());
    EXPECT_EQ(form->PlotBitmap->format(), QImage::Format_RGB888);
    // Scales and grid only: background inside, no trace colour anywhere.
    EXPECT_EQ(form->PlotBitmap->pixelColor(form->PlotBitmap->width() / 2, 45), form->BackgroundColor);
    EXPECT_FALSE(HasColour(*form->PlotBitmap, form->XsColor));
    EXPECT_FALSE(HasColour(*form->PlotBitmap, form->RsColor));

    // Resizing the window: the panel grows with it, the group boxes keep their left edge
    // and their distance from the bottom, and the redraw follows.
    const QSize before = panel->size();
    form->resize(form->width() + 200, form->height() + 100);
    QApplication::processEvents();
    EXPECT_EQ(panel->size(), before + QSize(200, 100));
    EXPECT_EQ(form->PlotWidth, panel->width() - 180);
    EXPECT_EQ(form->PlotBitmap->size(), panel->size());
    EXPECT_EQ(form->GroupBox3->geometry(), QRect(689, GroupTop(form->centralwidget->height()), 247, 98));
    EXPECT_EQ(panel->geometry().bottom() + 1 + 104, form->centralwidget->height());
    EXPECT_EQ(panel->geometry().right() + 1 + 5, form->centralwidget->width());
}

TEST_F(MainFormTest, SweepShowsReadoutsAndChosenTraces)
{
    // Phase and return-loss counts 512: 90 degrees, 10 dB.
    const uint8_t sample[4] = {0x00, 0x02, 0x00, 0x02};
    form->Marker1FreqMHz = 10;
    DeliverSweep(10000, 20000, 10, sample);
    ASSERT_TRUE(form->DataShown);
    ASSERT_EQ(form->VNAList->Count(), 10);
    EXPECT_EQ(form->Marker1Index, 0);

    const QStringList expected = {"10.000", "1.92", "10.0", "90.0", "50.00", "40.91", "28.75", "0.5", "553.6", "0.7"};
    const QStringList marker1 = {form->marker1_F->text(), form->marker1_SWR->text(), form->marker1_RL->text(),
                                 form->marker1_Phase->text(), form->marker1_Z->text(), form->marker1_Rs->text(),
                                 form->marker1_Xs->text(), form->marker1_L->text(), form->marker1_C->text(),
                                 form->marker1_Q->text()};
    EXPECT_EQ(marker1, expected);
    // Equal SWR everywhere: the last sample is the lowest.
    EXPECT_EQ(form->lowswr_F->text(), "19.000");
    EXPECT_EQ(form->lowswr_SWR->text(), "1.92");
    EXPECT_TRUE(form->marker2_F->text().isEmpty());
    EXPECT_TRUE(form->marker2_Q->text().isEmpty());
    // Marker 1 calculator: 10 MHz with 100 pF resonates with 2.533 uH.
    EXPECT_EQ(form->lblCalcCorLfreq->text(), "10.000");
    EXPECT_EQ(form->lblResultCalcLorC->text(), "2.533");
    EXPECT_EQ(form->lblCalcCorL2freq->text(), "0.000");
    EXPECT_TRUE(form->lblResultCalcLorC2->text().isEmpty());

    // Xs is drawn while its box is checked; a click on the box redraws without it.
    EXPECT_TRUE(HasColour(*form->PlotBitmap, form->XsColor));
    form->cbXs->click();
    EXPECT_FALSE(HasColour(*form->PlotBitmap, form->XsColor));
    form->cbRs->click();
    EXPECT_TRUE(HasColour(*form->PlotBitmap, form->RsColor));

    // A sweep that no longer covers the marker drops it and empties its row.
    DeliverSweep(12000, 20000, 10, sample);
    EXPECT_EQ(form->Marker1Index, -1);
    EXPECT_EQ(form->Marker1FreqMHz, 0);
    EXPECT_TRUE(form->marker1_F->text().isEmpty());
    EXPECT_TRUE(form->marker1_C->text().isEmpty());
    EXPECT_EQ(form->lblCalcCorLfreq->text(), "0.000");
    EXPECT_TRUE(form->lblResultCalcLorC->text().isEmpty());
}

TEST_F(MainFormTest, CloseIsNeverRefusedAndFreesTheWindow)
{
    EXPECT_TRUE(form->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
}

int main(int argc, char** argv)
{
    // A locale with ',' as decimal separator: the window must still write '.'.
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    QApplication app(argc, argv);
    RegisterWindowFont();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
