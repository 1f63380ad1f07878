// Typing the sweep settings into the window, band presets, analyser models and the
// L/C calculators, through the real widgets of the shown window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <ostream>

#include "frmmain/TMainForm.h"

// Readable QString values in failure messages.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = new TMainForm;
        form->ErrorBox = [this](const QString& message) {
            messages << message;
        };
        form->show();
        QApplication::setActiveWindow(form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    }
    void TearDown() override { delete form.data(); }

    // Selects the field's text and types over it, as a person would.
    void TypeInto(QLineEdit* field, const QString& text)
    {
        field->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, text);
    }

    // Moves the focus away from the settings edits: the field left commits.
    void Leave() { form->btnStart->setFocus(Qt::MouseFocusReason); }

    // Puts text into the field through the clipboard, which no key filter sees.
    void PasteInto(QLineEdit* field, const QString& text)
    {
        QApplication::clipboard()->setText(text);
        field->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }

    int32_t Locked(const int32_t& field)
    {
        std::lock_guard<std::mutex> lock(*form->SweepLock);
        return field;
    }

    QPointer<TMainForm> form;
    QStringList messages;
};

const QString TooHigh = QStringLiteral("Frequency can not be higher than 550 MHz.");
const QString TooLow = QStringLiteral("Frequency can not be lower than 0 MHz.");
const QString BadSteps = QStringLiteral("Steps must be between 10 and 4000.");
const QString BadClock = QStringLiteral("DDS frequency must be between 1 and 1300000000 Hz.");

} // namespace

TEST_F(SettingsTest, StartFrequencyIsStoredInKHzRoundedAndRangeChecked)
{
    TypeInto(form->eFstart, "550");
    Leave();
    EXPECT_EQ(Locked(form->SweepStartKHz), 550000);
    EXPECT_EQ(form->eFstart->text(), "550");

    TypeInto(form->eFstart, "7.1");
    Leave();
    EXPECT_EQ(form->SweepStartKHz, 7100);
    EXPECT_EQ(form->eFstart->text(), "7.1");

    TypeInto(form->eFstart, "550.0004");
    Leave();
    EXPECT_EQ(form->SweepStartKHz, 550000);
    EXPECT_TRUE(messages.isEmpty());

    // Rejected: the stored start comes back in MHz and the field has the focus again.
    TypeInto(form->eFstart, "550.001");
    Leave();
    EXPECT_EQ(messages, QStringList{TooHigh});
    EXPECT_EQ(form->SweepStartKHz, 550000);
    EXPECT_EQ(form->eFstart->text(), "550");
    EXPECT_EQ(QApplication::focusWidget(), form->eFstart);
}

TEST_F(SettingsTest, FrequencyKeysAllowDigitsAndOnePoint)
{
    TypeInto(form->eFstart, "-1,2.5.6+e 7");
    EXPECT_EQ(form->eFstart->text(), "12.567");
    Leave();
    EXPECT_EQ(form->SweepStartKHz, 12567);

    TypeInto(form->eFend, ".5.");
    EXPECT_EQ(form->eFend->text(), ".5");
    // Backspace is a control key and gets through, after which a point may be typed again.
    QTest::keyClick(form->eFend, Qt::Key_Backspace);
    QTest::keyClick(form->eFend, Qt::Key_Backspace);
    QTest::keyClicks(form->eFend, "3.25");
    Leave();
    EXPECT_EQ(form->SweepEndKHz, 3250);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SettingsTest, PastedFrequenciesAreParsedWhole)
{
    const int32_t start = form->SweepStartKHz;
    PasteInto(form->eFstart, "-1");
    EXPECT_EQ(form->eFstart->text(), "-1");
    Leave();
    EXPECT_EQ(messages, QStringList{TooLow});
    EXPECT_EQ(form->SweepStartKHz, start);
    EXPECT_EQ(form->eFstart->text(), "0.1");

    // Far beyond the 32-bit range it stays too high instead of wrapping round.
    messages.clear();
    form->eFend->setText("1e12");
    form->eFend->setFocus(Qt::MouseFocusReason);
    Leave();
    EXPECT_EQ(messages, QStringList{TooHigh});
    EXPECT_EQ(form->SweepEndKHz, 180000);
    EXPECT_EQ(form->eFend->text(), "180");

    messages.clear();
    PasteInto(form->eFend, " 2.5E1 ");
    Leave();
    EXPECT_EQ(form->SweepEndKHz, 25000);

    // Text that is no number stores 0 without a message, the field stays as it is.
    PasteInto(form->eFend, "abc");
    Leave();
    EXPECT_EQ(form->SweepEndKHz, 0);
    EXPECT_EQ(form->eFend->text(), "abc");

    form->SweepEndKHz = 180000;
    TypeInto(form->eFend, "");
    Leave();
    EXPECT_EQ(form->SweepEndKHz, 0);
    EXPECT_EQ(form->eFend->text(), "");
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SettingsTest, EnterCommitsNothingAndTabDoes)
{
    TypeInto(form->eFstart, "30");
    QTest::keyClick(form->eFstart, Qt::Key_Return);
    EXPECT_EQ(form->SweepStartKHz, 100);
    EXPECT_EQ(form->eFstart->text(), "30");
    QTest::keyClick(form->eFstart, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->eFend);
    EXPECT_EQ(form->SweepStartKHz, 30000);

    // An end below the start is stored as typed.
    TypeInto(form->eFend, "1");
    QTest::keyClick(form->eFend, Qt::Key_Tab);
    EXPECT_EQ(form->SweepEndKHz, 1000);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SettingsTest, RejectionReturnsTheFocusWithoutLooping)
{
    // Tab from a bad start to the end field: one message, the end field commits its
    // unchanged text when the focus is taken back, and the focus ends on the start.
    TypeInto(form->eFstart, "600");
    QTest::keyClick(form->eFstart, Qt::Key_Tab);
    EXPECT_EQ(messages, QStringList{TooHigh});
    EXPECT_EQ(QApplication::focusWidget(), form->eFstart);
    EXPECT_EQ(form->eFstart->text(), "0.1");
    EXPECT_EQ(form->SweepEndKHz, 180000);

    // A box that moves the focus itself while it is up causes no second message.
    messages.clear();
    form->ErrorBox = [this](const QString& message) {
        messages << message;
        if (messages.size() == 1) { // a nested box would mean the guard failed: do not loop
            form->eSteps->setFocus(Qt::OtherFocusReason);
            form->eFend->setFocus(Qt::OtherFocusReason);
        }
    };
    form->eFend->setText("-5");
    form->eFend->setFocus(Qt::MouseFocusReason);
    form->eSteps->setText("1");
    Leave();
    EXPECT_EQ(messages, QStringList{TooLow});
    EXPECT_EQ(form->eFend->text(), "180");
    EXPECT_EQ(form->SweepSteps, 500);
}

TEST_F(SettingsTest, WithoutARecorderTheModalErrorBoxShows)
{
    form->ErrorBox = nullptr;
    QString title, text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int boxes = 0;
    // Answers the box once it is up, as a person pressing OK would.
    std::function<void()> answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            QTimer::singleShot(10, answer);
            return;
        }
        ++boxes;
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    };
    QTimer::singleShot(0, answer);
    TypeInto(form->eFstart, "600");
    QTest::keyClick(form->eFstart, Qt::Key_Tab);

    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(text, TooHigh);
    EXPECT_EQ(buttons, QMessageBox::Ok);
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(form->eFstart->text(), "0.1");
    EXPECT_EQ(form->SweepStartKHz, 100);
    // The window, active again once the box has gone, gives the focus to the start field.
    EXPECT_EQ(form->focusWidget(), form->eFstart);
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    EXPECT_EQ(QApplication::focusWidget(), form->eFstart);
    EXPECT_EQ(form->SweepEndKHz, 180000);
}

TEST_F(SettingsTest, StepsAreAWholeNumberFrom10To4000)
{
    TypeInto(form->eSteps, "1.0-,a");
    EXPECT_EQ(form->eSteps->text(), "10");
    Leave();
    EXPECT_EQ(Locked(form->SweepSteps), 10);

    TypeInto(form->eSteps, "4000");
    Leave();
    EXPECT_EQ(form->SweepSteps, 4000);
    EXPECT_TRUE(messages.isEmpty());

    for (const char* bad : {"9", "4001", ""}) {
        messages.clear();
        TypeInto(form->eSteps, bad);
        Leave();
        EXPECT_EQ(messages, QStringList{BadSteps}) << bad;
        EXPECT_EQ(form->SweepSteps, 4000) << bad;
        EXPECT_EQ(form->eSteps->text(), "4000") << bad;
        EXPECT_EQ(QApplication::focusWidget(), form->eSteps) << bad;
    }

    // Leading zeros are accepted and the text stays as typed.
    messages.clear();
    TypeInto(form->eSteps, "0500");
    Leave();
    EXPECT_EQ(form->SweepSteps, 500);
    EXPECT_EQ(form->eSteps->text(), "0500");
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SettingsTest, DdsClockSetsTheTuningFactor)
{
    TypeInto(form->eDDSFreq, "1");
    Leave();
    EXPECT_EQ(form->DdsClockHz, 1);
    EXPECT_EQ(form->TuningFactor, 4294967296000.0L);

    TypeInto(form->eDDSFreq, "1300000000");
    Leave();
    EXPECT_EQ(form->DdsClockHz, 1300000000);
    EXPECT_NEAR(static_cast<double>(form->TuningFactor), 3303.821, 0.001);
    EXPECT_EQ(form->TuningFactor, 4294967296000.0L / 1300000000.0L);
    EXPECT_TRUE(messages.isEmpty());

    const Extended factor = form->TuningFactor;
    for (const char* bad : {"0", "1300000001", "99999999999"}) {
        messages.clear();
        TypeInto(form->eDDSFreq, bad);
        Leave();
        EXPECT_EQ(messages, QStringList{BadClock}) << bad;
        EXPECT_EQ(form->DdsClockHz, 1300000000) << bad;
        EXPECT_EQ(form->TuningFactor, factor) << bad;
        EXPECT_EQ(form->eDDSFreq->text(), "1300000000") << bad;
    }
}

TEST_F(SettingsTest, CalibrationTakesACommaAsPointAndAnyText)
{
    TypeInto(form->eCalRL, "1,5");
    EXPECT_EQ(form->eCalRL->text(), "1.5");
    Leave();
    EXPECT_EQ(form->RLCalDb, 1.5L);

    TypeInto(form->eCalRL, "-3");
    Leave();
    EXPECT_EQ(form->RLCalDb, -3.0L);

    TypeInto(form->eCalRL, "1.2.3x");
    Leave();
    EXPECT_EQ(form->eCalRL->text(), "1.2.3");
    EXPECT_EQ(form->RLCalDb, 0.0L);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SettingsTest, BandPresetsSetTheRange)
{
    form->N160M1->trigger();
    EXPECT_EQ(Locked(form->SweepStartKHz), 1900);
    EXPECT_EQ(Locked(form->SweepEndKHz), 2000);
    EXPECT_EQ(form->eFstart->text(), "1.9");
    EXPECT_EQ(form->eFend->text(), "2");
    EXPECT_TRUE(form->N160M1->isChecked());

    // Chosen again: the mark goes, the range is stored again.
    form->SweepStartKHz = 5;
    form->N160M1->trigger();
    EXPECT_FALSE(form->N160M1->isChecked());
    EXPECT_EQ(form->SweepStartKHz, 1900);

    const struct {
        QAction* item;
        int32_t start, end;
        const char *startText, *endText;
    } bands[] = {
        {form->N130MHz1, 1000, 30000, "1", "30"},       {form->N1180Mhz1, 1000, 180000, "1", "180"},
        {form->N1500MHz1, 1000, 500000, "1", "500"},    {form->N80M1, 3600, 3800, "3.6", "3.8"},
        {form->N40M1, 7000, 7500, "7", "7.5"},          {form->N30M1, 10000, 10200, "10", "10.2"},
        {form->N20M1, 14100, 14300, "14.1", "14.3"},    {form->N17M1, 18068, 18168, "18.068", "18.168"},
        {form->N15M1, 21000, 21450, "21", "21.45"},     {form->N12M1, 24890, 24990, "24.89", "24.99"},
        {form->N10M1, 28000, 29700, "28", "29.7"},      {form->N6M1, 50000, 52000, "50", "52"},
        {form->N2M1, 144000, 146000, "144", "146"},     {form->N70CM1, 430000, 440000, "430", "440"},
    };
    for (const auto& b : bands) {
        b.item->trigger();
        EXPECT_EQ(form->SweepStartKHz, b.start) << b.startText;
        EXPECT_EQ(form->SweepEndKHz, b.end) << b.endText;
        EXPECT_EQ(form->eFstart->text(), b.startText);
        EXPECT_EQ(form->eFend->text(), b.endText);
        EXPECT_TRUE(b.item->isChecked()) << b.startText;
    }
    // Steps, clock and calibration are not a band's business.
    EXPECT_EQ(form->SweepSteps, 500);
    EXPECT_EQ(form->DdsClockHz, 400000000);
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
    EXPECT_EQ(form->VNASelect->currentIndex(), 1);
    EXPECT_EQ(form->RLCalDb, 0.0L);
    EXPECT_EQ(form->eCalRL->text(), "0");
    EXPECT_EQ(Locked(form->SweepEndKHz), 500000);
    EXPECT_EQ(Locked(form->SweepSteps), 500);
    EXPECT_EQ(form->DdsClockHz, 1250000000);
    EXPECT_EQ(form->TuningFactor, 4294967296000.0L / 1250000000.0L);
    EXPECT_EQ(form->eFend->text(), "500");
    EXPECT_EQ(form->eSteps->text(), "500");
    EXPECT_EQ(form->eDDSFreq->text(), "1250000000");
    EXPECT_EQ(form->SweepStartKHz, 250000);

    // Back to the 180 MHz model: the end falls below the start without a message.
    QTest::keyClick(form->VNASelect, Qt::Key_Up);
    EXPECT_EQ(form->SweepEndKHz, 180000);
    EXPECT_EQ(form->DdsClockHz, 400000000);
    EXPECT_NEAR(static_cast<double>(form->TuningFactor), 10737.41824, 1e-9);
    EXPECT_EQ(form->eDDSFreq->text(), "400000000");
    EXPECT_TRUE(messages.isEmpty());
}

namespace {

// A window holding a sweep of 0 to 20 MHz, delivered as the worker delivers one.
class CalculatorTest : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        {
            std::lock_guard<std::mutex> lock(*form->SweepLock);
            form->ShownStartKHz = 0;
            form->ShownEndKHz = 20000;
            form->ShownSteps = 100;
            std::memset(form->RawSweepBuffer.get(), 0, 400);
        }
        QCoreApplication::postEvent(form, new QEvent(static_cast<QEvent::Type>(WM_SWEEPDONE)));
        QApplication::processEvents();
        ASSERT_TRUE(form->DataShown);
    }

    // Markers are set with the mouse elsewhere; here the lasting frequency is put in place.
    void Marker1At(Extended mhz)
    {
        form->Marker1FreqMHz = mhz;
        Redraw();
    }

    // A click on the box of a plot check box redraws.
    void Redraw()
    {
        QTest::mouseClick(form->cbSWR, Qt::LeftButton, {}, QPoint(6, form->cbSWR->height() / 2));
    }
};

} // namespace

TEST_F(CalculatorTest, ResultsAtTheMarkerInThreePrecisions)
{
    Marker1At(10);
    EXPECT_EQ(form->lblCalcCorLfreq->text(), "10.000");
    EXPECT_EQ(form->lblResultCalcLorC->text(), "2.533");
    Marker1At(14.2L);
    EXPECT_EQ(form->lblResultCalcLorC->text(), "1.256");
    Marker1At(1.8L);
    EXPECT_EQ(form->lblResultCalcLorC->text(), "78.18");
    Marker1At(0.1L);
    EXPECT_EQ(form->lblResultCalcLorC->text(), "25330.3");

    // Marker 2 is unset.
    EXPECT_EQ(form->lblCalcCorL2freq->text(), "0.000");
    EXPECT_EQ(form->lblResultCalcLorC2->text(), "");
}

TEST_F(CalculatorTest, CalculateCSwapsCaptionsAndTakesTheTypedValue)
{
    Marker1At(0.1L);
    QTest::mouseClick(form->rbCalcC, Qt::LeftButton);
    EXPECT_EQ(form->Label20->text(), "L");
    EXPECT_EQ(form->Label21->text(), "uH");
    EXPECT_EQ(form->Label25->text(), "C");
    EXPECT_EQ(form->Label27->text(), "pF");
    // No redraw of its own: the result keeps its number for now.
    EXPECT_EQ(form->lblResultCalcLorC->text(), "25330.3");

    TypeInto(form->eCorL, "1-a");
    Leave();
    EXPECT_EQ(form->CorL1Value, 1.0L);
    EXPECT_EQ(form->lblResultCalcLorC->text(), "25330.3");
    Redraw();
    EXPECT_EQ(form->lblResultCalcLorC->text(), "2533029.6");

    QTest::mouseClick(form->rbCalcL, Qt::LeftButton);
    EXPECT_EQ(form->Label20->text(), "C");
    EXPECT_EQ(form->Label21->text(), "pF");
    EXPECT_EQ(form->Label25->text(), "L");
    EXPECT_EQ(form->Label27->text(), "uH");

    // The second calculator has its own buttons and labels.
    QTest::mouseClick(form->rbCalcC2, Qt::LeftButton);
    EXPECT_EQ(form->Label29->text(), "L");
    EXPECT_EQ(form->Label36->text(), "pF");
    EXPECT_EQ(form->Label20->text(), "C");
}

TEST_F(CalculatorTest, KnownValueEditsParseOrStoreZero)
{
    TypeInto(form->eCorL2, "12,5");
    EXPECT_EQ(form->eCorL2->text(), "12.5");
    Leave();
    EXPECT_EQ(form->CorL2Value, 12.5L);

    Marker1At(10);
    PasteInto(form->eCorL, "abc");
    Leave();
    EXPECT_EQ(form->CorL1Value, 0.0L);
    EXPECT_EQ(form->eCorL->text(), "abc");
    Redraw();
    EXPECT_EQ(form->lblCalcCorLfreq->text(), "10.000");
    EXPECT_EQ(form->lblResultCalcLorC->text(), "");
    EXPECT_TRUE(messages.isEmpty());
}

int main(int argc, char** argv)
{
    // A locale with ',' as decimal separator: the entries still read and write '.'.
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
