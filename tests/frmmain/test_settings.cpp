// Typing the sweep settings into the shown window, band presets, analyser models and the
// L/C calculators, through the real widgets; the edit's own events.
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <vector>

#include "frmmain/FormFixture.h"
#include "frmmain/TEdit.h"

namespace {

class SettingsTest : public FormTest {
protected:
    // Puts text into the field through the clipboard, which no key filter sees.
    void PasteInto(QLineEdit* field, const QString& text)
    {
        QApplication::clipboard()->setText(text);
        field->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }
};

const QString TooHigh = QStringLiteral("Frequency can not be higher than 550 MHz.");
const QString TooLow = QStringLiteral("Frequency can not be lower than 0 MHz.");
const QString BadSteps = QStringLiteral("Steps must be between 10 and 4000.");
const QString BadClock = QStringLiteral("DDS frequency must be between 1 and 1300000000 Hz.");

} // namespace

TEST_F(SettingsTest, EntriesAreFilteredParsedAndRangeChecked)
{
    // What each edit stores (the DDS clock as its tuning factor), read under the worker's lock.
    const auto stored = [this](const QLineEdit* e) -> Extended {
        std::lock_guard<std::mutex> lock(*form->SweepLock);
        if (e == form->eFstart || e == form->eFend)
            return e == form->eFstart ? form->SweepStartKHz : form->SweepEndKHz;
        if (e == form->eSteps || e == form->eDDSFreq)
            return e == form->eSteps ? form->SweepSteps : form->TuningFactor;
        return form->RLCalDb;
    };
    // Run in order: a rejected entry brings back what the row before stored.
    const struct {
        QLineEdit* edit;
        bool pasted;
        const char *input, *shown;
        Extended value;
        QString message;
    } rows[] = {
        {form->eFstart, false, "550", "550", 550000, {}},
        {form->eFstart, false, "550.0004", "550.0004", 550000, {}},
        {form->eFstart, false, "550.001", "550", 550000, TooHigh},
        // '-', a second '.' (also one typed as ','), '+', 'e' and blanks typed do nothing.
        {form->eFstart, false, "-12.5,.6+e 7", "12.567", 12567, {}},
        // Pasted text reaches the check unfiltered; far beyond 32 bits it does not wrap round.
        {form->eFstart, true, "-1", "12.567", 12567, TooLow},
        {form->eFend, true, "1e12", "180", 180000, TooHigh},
        // Text that does not parse stores 0, and the field says so.
        {form->eFend, false, "", "0", 0, {}},
        {form->eFend, true, "7.1.2", "0", 0, {}},
        {form->eSteps, false, "1.0-,a", "10", 10, {}},
        {form->eSteps, false, "4000", "4000", 4000, {}},
        {form->eSteps, false, "9", "4000", 4000, BadSteps},
        {form->eSteps, false, "4001", "4000", 4000, BadSteps},
        {form->eSteps, false, "", "4000", 4000, BadSteps},
        {form->eDDSFreq, false, "1", "1", 4294967296000.0L, {}},
        {form->eDDSFreq, false, "1300000000", "1300000000", 3303.821L, {}},
        {form->eDDSFreq, false, "0", "1300000000", 3303.821L, BadClock},
        {form->eDDSFreq, false, "1300000001", "1300000000", 3303.821L, BadClock},
        {form->eDDSFreq, false, "99999999999", "1300000000", 3303.821L, BadClock},
        {form->eCalRL, false, "1,5", "1.5", 1.5L, {}},
        {form->eCalRL, false, "1.2.3x", "1.2.3", 0, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.edit->objectName().toStdString() + (r.pasted ? " pasted " : " typed ") + r.input);
        errors.clear();
        r.pasted ? PasteInto(r.edit, r.input) : TypeInto(r.edit, r.input);
        Leave();
        EXPECT_EQ(r.edit->text(), r.shown);
        EXPECT_NEAR(static_cast<double>(stored(r.edit)), static_cast<double>(r.value), 0.0005);
        EXPECT_EQ(errors, r.message.isEmpty() ? QStringList() : QStringList{r.message});
        // A rejected field gets the focus back.
        EXPECT_EQ(QApplication::focusWidget() == r.edit, !r.message.isEmpty());
    }
}

TEST_F(SettingsTest, ADecimalCommaIsThePointAndAnEmptyFrequencyReadsZero)
{
    TypeInto(form->eFstart, "7,1");
    QTest::keyClick(form->eFstart, Qt::Key_Tab);
    EXPECT_EQ(form->eFstart->text(), "7.1");
    EXPECT_EQ(form->SweepStartKHz, 7100);
    // Tab went on to the end field: emptied and left, it reads what is stored.
    ASSERT_EQ(QApplication::focusWidget(), form->eFend);
    TypeInto(form->eFend, "");
    QTest::keyClick(form->eFend, Qt::Key_Tab);
    EXPECT_EQ(form->eFend->text(), "0");
    EXPECT_EQ(form->SweepEndKHz, 0);
    // Only one point, whichever key typed it.
    TypeInto(form->eFstart, "7,1,2");
    QTest::keyClick(form->eFstart, Qt::Key_Tab);
    EXPECT_EQ(form->eFstart->text(), "7.12");
    EXPECT_EQ(form->SweepStartKHz, 7120);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(SettingsTest, EnterCommitsNothingTabDoesAndARejectionTakesTheFocusBackOnce)
{
    TypeInto(form->eFstart, "30");
    QTest::keyClick(form->eFstart, Qt::Key_Return);
    EXPECT_EQ(form->SweepStartKHz, 100);
    // Tab commits; an end below the start is stored as typed.
    QTest::keyClick(form->eFstart, Qt::Key_Tab);
    QTest::keyClicks(form->eFend, "1");
    QTest::keyClick(form->eFend, Qt::Key_Tab);
    EXPECT_EQ(QList<int>({form->SweepStartKHz, form->SweepEndKHz}), QList<int>({30000, 1000}));

    // A box that moves the focus itself while it is up causes no second message.
    form->ErrorBox = [this](const QString& message) {
        errors << message;
        if (errors.size() == 1) { // a nested box would mean the guard failed: do not loop
            form->eSteps->setFocus(Qt::OtherFocusReason);
            form->eFend->setFocus(Qt::OtherFocusReason);
        }
    };
    form->eFend->setText("-5");
    form->eFend->setFocus(Qt::MouseFocusReason);
    form->eSteps->setText("1");
    Leave();
    EXPECT_EQ(errors, QStringList{TooLow});
    EXPECT_EQ(form->SweepSteps, 500);
}

TEST_F(SettingsTest, WithoutARecorderTheModalErrorBoxShows)
{
    form->ErrorBox = nullptr;
    QStringList seen;
    // Presses OK once the box is up, as a person would.
    std::function<void()> answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return QTimer::singleShot(10, answer);
        seen << box->windowTitle() << box->text();
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        box->button(QMessageBox::Ok)->click();
    };
    QTimer::singleShot(0, answer);
    TypeInto(form->eFstart, "600");
    QTest::keyClick(form->eFstart, Qt::Key_Tab);
    // One box, though the end field lost the focus to it and then to the start field.
    EXPECT_EQ(seen, QStringList({"Error", TooHigh}));
    EXPECT_EQ(form->eFstart->text(), "0.1");
    // The window, active again once the box has gone, gives the focus to the start field.
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form, 20000));
    EXPECT_EQ(QApplication::focusWidget(), form->eFstart);
}

// Delete is an editing key, not a typed character: X11 gives it the text 127, Windows none.
TEST_F(SettingsTest, DeleteAndUndoEditEveryNumberFieldOnBothPlatforms)
{
    for (QLineEdit* field : {form->eFstart, form->eFend, form->eSteps, form->eDDSFreq, form->eCalRL, form->eCorL,
                             form->eCorL2}) {
        for (const QString& deleteText : {QString(QChar(0x7f)), QString()}) {
            SCOPED_TRACE(field->objectName().toStdString() + (deleteText.isEmpty() ? " Windows" : " X11"));
            TypeInto(field, "71");
            QTest::keyClick(field, Qt::Key_Home);
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_Delete, deleteText, Qt::NoModifier);
            EXPECT_EQ(field->text(), "1");
            QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
            EXPECT_EQ(field->text(), "71");
        }
    }
    Leave();
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(SettingsTest, BandPresetsSetTheRange)
{
    const struct {
        QAction* item;
        int32_t start, end;
        const char *startText, *endText;
    } bands[] = {
        {form->N160M1, 1900, 2000, "1.9", "2"},      {form->N130MHz1, 1000, 30000, "1", "30"},
        {form->N1180Mhz1, 1000, 180000, "1", "180"}, {form->N1500MHz1, 1000, 500000, "1", "500"},
        {form->N80M1, 3600, 3800, "3.6", "3.8"},     {form->N40M1, 7000, 7500, "7", "7.5"},
        {form->N30M1, 10000, 10200, "10", "10.2"},   {form->N20M1, 14100, 14300, "14.1", "14.3"},
        {form->N17M1, 18068, 18168, "18.068", "18.168"}, {form->N15M1, 21000, 21450, "21", "21.45"},
        {form->N12M1, 24890, 24990, "24.89", "24.99"}, {form->N10M1, 28000, 29700, "28", "29.7"},
        {form->N6M1, 50000, 52000, "50", "52"},      {form->N2M1, 144000, 146000, "144", "146"},
        {form->N70CM1, 430000, 440000, "430", "440"},
    };
    for (const auto& b : bands) {
        b.item->trigger();
        std::lock_guard<std::mutex> lock(*form->SweepLock);
        EXPECT_EQ(QList<int>({form->SweepStartKHz, form->SweepEndKHz}), QList<int>({b.start, b.end})) << b.startText;
        EXPECT_EQ(form->eFstart->text() + " " + form->eFend->text(), QString(b.startText) + " " + b.endText);
        const QList<QAction*> all = form->Band1->actions();
        EXPECT_TRUE(b.item->isChecked() && std::count_if(all.begin(), all.end(), [](QAction* a) { return a->isChecked(); }) == 1);
    }
    // Chosen again, the checked band loses its mark and its range is stored again.
    form->SweepStartKHz = 5;
    form->N70CM1->trigger();
    EXPECT_FALSE(form->N70CM1->isChecked());
    EXPECT_EQ(form->SweepStartKHz, 430000);
}

// The menus from the keyboard: every title and item has a mnemonic, Exit the Quit keys.
TEST_F(SettingsTest, AltBAndADigitChooseABandAndEveryMenuItemHasAMnemonic)
{
    for (QAction* title : form->MainMenu1->actions()) {
        EXPECT_FALSE(QKeySequence::mnemonic(title->text()).isEmpty()) << title->text().toStdString();
        for (QAction* item : title->menu()->actions())
            EXPECT_TRUE(item->isSeparator() || !QKeySequence::mnemonic(item->text()).isEmpty())
                << item->text().toStdString();
    }
    EXPECT_EQ(form->Exit1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    QTest::keyClick(form->btnStart, Qt::Key_B, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    EXPECT_EQ(QApplication::activePopupWidget(), form->Band1);
    QTest::keyClick(form->Band1, Qt::Key_4);
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 5000));
    EXPECT_TRUE(form->N40M1->isChecked());
    EXPECT_EQ(form->eFstart->text() + " " + form->eFend->text(), "7 7.5");
    {
        std::lock_guard<std::mutex> lock(*form->SweepLock);
        EXPECT_EQ(QList<int>({form->SweepStartKHz, form->SweepEndKHz}), QList<int>({7000, 7500}));
    }

    // F10 opens the first menu; Alt pressed and released alone moves to the menu bar's first title.
    QTest::keyClick(form->btnStart, Qt::Key_F10);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    EXPECT_EQ(QApplication::activePopupWidget(), form->File1);
    QTest::keyClick(form->File1, Qt::Key_Escape);
    QTest::keyClick(form->MainMenu1, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 5000));
    form->btnStart->setFocus(Qt::MouseFocusReason);
    QTest::keyPress(form->btnStart, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(form->btnStart, Qt::Key_Alt);
    EXPECT_EQ(form->MainMenu1->activeAction(), form->File1->menuAction());
}

// The Calibration and Generator menus have no items: clicked, they open no (empty) popup,
// and their titles look like the others.
TEST_F(SettingsTest, AMenuWithoutItemsOpensNothing)
{
    for (QMenu* menu : {form->Calibration1, form->Generator1}) {
        SCOPED_TRACE(menu->objectName().toStdString());
        ASSERT_TRUE(menu->actions().isEmpty());
        EXPECT_TRUE(menu->menuAction()->isEnabled());
        const QRect title = form->MainMenu1->actionGeometry(menu->menuAction());
        QTest::mouseClick(form->MainMenu1, Qt::LeftButton, Qt::NoModifier, title.center());
        QApplication::processEvents();
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_FALSE(menu->isVisible());
    }
    // A menu with items still opens.
    QTest::mouseClick(form->MainMenu1, Qt::LeftButton, Qt::NoModifier,
                      form->MainMenu1->actionGeometry(form->Band1->menuAction()).center());
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    EXPECT_EQ(QApplication::activePopupWidget(), form->Band1);
    QTest::keyClick(form->Band1, Qt::Key_Escape);
}

TEST_F(SettingsTest, ModelSetsEndStepsClockAndResetsCalibration)
{
    TypeInto(form->eCalRL, "2");
    TypeInto(form->eFstart, "250");
    TypeInto(form->eSteps, "1000");
    Leave();
    ASSERT_EQ(form->RLCalDb, 2.0L);

    form->VNASelect->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(form->VNASelect, Qt::Key_Down);
    EXPECT_EQ(form->RLCalDb, 0.0L);
    EXPECT_EQ(QStringList({form->eCalRL->text(), form->eFend->text(), form->eSteps->text(), form->eDDSFreq->text()}),
              QStringList({"0", "500", "500", "1250000000"}));
    std::lock_guard<std::mutex> lock(*form->SweepLock);
    EXPECT_EQ(QList<int>({form->SweepStartKHz, form->SweepEndKHz, form->SweepSteps, form->DdsClockHz}),
              QList<int>({250000, 500000, 500, 1250000000}));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(SettingsTest, CalculatorsAtTheMarkerInThreePrecisions)
{
    DeliverSweep(0, 20000, 100, [](int) { return Counts(0, 0); });
    // A click on a plot check box redraws; the marker's lasting frequency is put in place.
    const auto redraw = [this] { QTest::mouseClick(form->cbSWR, Qt::LeftButton, {}, QPoint(6, form->cbSWR->height() / 2)); };
    const struct {
        Extended mhz;
        const char* result;
    } cases[] = {{10, "2.533"}, {14.2L, "1.256"}, {1.8L, "78.18"}, {0.1L, "25330.3"}};
    for (const auto& c : cases) {
        form->Marker1FreqMHz = c.mhz;
        redraw();
        EXPECT_EQ(form->lblResultCalcLorC->text(), c.result) << c.result;
    }
    // Marker 2 is unset.
    EXPECT_EQ(form->lblCalcCorL2freq->text(), "0.000");
    EXPECT_EQ(form->lblResultCalcLorC2->text(), "");

    // "Calculate C" swaps the captions at once; the typed 1 uH counts from the next redraw.
    const auto captions = [this] {
        return QStringList({form->Label20->text(), form->Label21->text(), form->Label25->text(), form->Label27->text(),
                            form->Label29->text(), form->Label36->text()});
    };
    EXPECT_EQ(captions(), QStringList({"C", "pF", "L", "uH", "C", "uH"}));
    QTest::mouseClick(form->rbCalcC, Qt::LeftButton);
    EXPECT_EQ(captions(), QStringList({"L", "uH", "C", "pF", "C", "uH"}));
    TypeInto(form->eCorL, "1-a");
    Leave();
    EXPECT_EQ(form->lblResultCalcLorC->text(), "25330.3");
    redraw();
    EXPECT_EQ(form->lblResultCalcLorC->text(), "2533029.6");

    // The second calculator has its own buttons.
    QTest::mouseClick(form->rbCalcC2, Qt::LeftButton);
    EXPECT_EQ(captions(), QStringList({"L", "uH", "C", "pF", "L", "pF"}));
    EXPECT_TRUE(errors.isEmpty());
}

// The edit's events the window's filters and exit handlers use. Typed into above: each key
// seen before it reaches the text, replaced or dropped.
TEST(TEdit, CharacterOutsideTheSingleByteSetReachesTheFilterAsOneItRejects)
{
    TEdit edit;
    std::vector<int> seen;
    QObject::connect(&edit, &TEdit::KeyPress, &edit, [&](char& key) {
        seen.push_back(static_cast<unsigned char>(key));
        if (key == 0x7f)
            key = 0;
    });
    for (const auto& [key, text] : {std::pair{Qt::Key_1, QString("1")}, {Qt::Key_unknown, QString(QChar(0x20AC))}}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(&edit, &press);
    }
    EXPECT_EQ(edit.text(), "1");
    EXPECT_EQ(seen, (std::vector<int>{'1', 0x7f}));
}

TEST(TEdit, ExitOnlyWhenTheFocusMovesWithinTheWindow)
{
    TEdit edit;
    int exits = 0;
    QObject::connect(&edit, &TEdit::Exit, &edit, [&] { ++exits; });
    // A message box or a menu taking the focus is not leaving the field.
    for (Qt::FocusReason reason : {Qt::TabFocusReason, Qt::BacktabFocusReason, Qt::MouseFocusReason,
                                   Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(&edit, &out);
    }
    EXPECT_EQ(exits, 3);
}

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
