// Entry of the sweep settings, band presets, analyser model and the L/C calculator inputs.
#include "frmmain/TMainForm.h"

#include <QLineEdit>

#include <climits>
#include <cmath>
#include <iterator>
#include <optional>
#include <string>

#include "acquisition/SettingsRules.h"
#include "acquisition/SweepRequest.h"
#include "measure/NumberText.h"

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

// A stored frequency as the edits show it.
QString MHzText(int32_t kHz) { return Text(FormatMHz(kHz)); }

QString IntegerText(int32_t value) { return Text(std::to_string(value)); }

// A decimal number typed or pasted into an edit; text that does not parse counts as 0.
Extended DecimalOf(const QLineEdit* field) { return ParseDecimal(field->text().toStdString()).value_or(0); }

int32_t WholeOf(const QLineEdit* field) { return ParseWhole32(field->text().toStdString()).value_or(0); }

bool IsControl(unsigned char c) { return c >= 1 && c < 32; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// The calculators' known-value edits: control keys, digits, '.' and ',' (typed as '.').
void CalculatorKeyFilter(char& key)
{
    const auto c = static_cast<unsigned char>(key);
    if (c == ',')
        key = '.';
    else if (!IsControl(c) && !IsDigit(c) && c != '.')
        key = 0;
}

} // namespace

void TMainForm::RejectEntry(QLineEdit* field, const QString& message, const QString& stored)
{
    // The box takes the focus while it is up; that is not the person leaving a field.
    errorBoxOpen_ = true;
    ++entryRejections_;
    ShowError(message);
    field->setText(stored);
    errorBoxOpen_ = false;
    field->setFocus(Qt::OtherFocusReason);
}

void TMainForm::eFstartEndKeyPress(char& key)
{
    const auto c = static_cast<unsigned char>(key);
    if (c < 32 || IsDigit(c))
        return;
    // A decimal comma typed out of habit is the point, not a character to drop: "7,1" is 7.1 MHz.
    if (c == ',')
        key = '.';
    if (key == '.') {
        auto* field = qobject_cast<QLineEdit*>(sender());
        if (field == nullptr)
            field = qobject_cast<QLineEdit*>(focusWidget());
        if (field == nullptr || !field->text().contains(QLatin1Char('.')))
            return;
    }
    key = 0;
}

void TMainForm::FrequencyExit(QLineEdit* field, int32_t& storedKHz)
{
    if (errorBoxOpen_)
        return;
    const std::optional<Extended> mHz = ParseDecimal(field->text().toStdString());
    // Kept at full size, so that a huge number is rejected as too high.
    const long long kHz = KHzFromMHz(mHz.value_or(0));
    if (const std::string refusal = kestrin::FrequencyRejection(kHz); !refusal.empty()) {
        RejectEntry(field, Text(refusal), MHzText(storedKHz));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(*SweepLock);
        storedKHz = static_cast<int32_t>(kHz);
    }
    // Text that did not parse sweeps from 0: the field says so instead of staying empty.
    if (!mHz)
        field->setText(QStringLiteral("0"));
}

void TMainForm::eFstartExit()
{
    FrequencyExit(eFstart, SweepStartKHz);
}

void TMainForm::eFendExit()
{
    FrequencyExit(eFend, SweepEndKHz);
}

void TMainForm::eDDSFreqKeyPress(char& key)
{
    const auto c = static_cast<unsigned char>(key);
    if (!IsControl(c) && !IsDigit(c))
        key = 0;
}

void TMainForm::eStepsExit()
{
    if (errorBoxOpen_)
        return;
    const int32_t steps = WholeOf(eSteps);
    if (const std::string refusal = kestrin::StepsRejection(steps); !refusal.empty()) {
        RejectEntry(eSteps, Text(refusal), IntegerText(SweepSteps));
        return;
    }
    std::lock_guard<std::mutex> lock(*SweepLock);
    SweepSteps = steps;
}

void TMainForm::CheckDdsClock()
{
    const int32_t clockHz = WholeOf(eDDSFreq);
    if (const std::string refusal = kestrin::DdsClockRejection(clockHz); !refusal.empty()) {
        RejectEntry(eDDSFreq, Text(refusal), IntegerText(DdsClockHz));
        return;
    }
    const Extended factor = TuningFactorForClock(clockHz);
    std::lock_guard<std::mutex> lock(*SweepLock);
    DdsClockHz = clockHz;
    TuningFactor = factor;
}

void TMainForm::eDDSFreqExit()
{
    if (errorBoxOpen_)
        return;
    CheckDdsClock();
}

void TMainForm::eCalRLKeyPress(char& key)
{
    const auto c = static_cast<unsigned char>(key);
    if (c == ',')
        key = '.';
    else if (!IsControl(c) && !IsDigit(c) && c != '-' && c != '.')
        key = 0;
}

void TMainForm::eCalRLExit()
{
    if (errorBoxOpen_)
        return;
    RLCalDb = DecimalOf(eCalRL);
}

void TMainForm::eCorLKeyPress(char& key)
{
    CalculatorKeyFilter(key);
}

void TMainForm::eCorLExit()
{
    if (errorBoxOpen_)
        return;
    CorL1Value = DecimalOf(eCorL);
}

void TMainForm::eCorL2KeyPress(char& key)
{
    CalculatorKeyFilter(key);
}

void TMainForm::eCorL2Exit()
{
    if (errorBoxOpen_)
        return;
    CorL2Value = DecimalOf(eCorL2);
}

void TMainForm::rbCalcLClick()
{
    const bool calcL = rbCalcL->isChecked();
    Label20->setText(calcL ? QStringLiteral("C") : QStringLiteral("L"));
    Label21->setText(calcL ? QStringLiteral("pF") : QStringLiteral("uH"));
    Label25->setText(calcL ? QStringLiteral("L") : QStringLiteral("C"));
    Label27->setText(calcL ? QStringLiteral("uH") : QStringLiteral("pF"));
}

void TMainForm::rbCalcL2Click()
{
    const bool calcL = rbCalcL2->isChecked();
    Label29->setText(calcL ? QStringLiteral("C") : QStringLiteral("L"));
    Label30->setText(calcL ? QStringLiteral("pF") : QStringLiteral("uH"));
    Label34->setText(calcL ? QStringLiteral("L") : QStringLiteral("C"));
    Label36->setText(calcL ? QStringLiteral("uH") : QStringLiteral("pF"));
}

void TMainForm::VNASelectChange()
{
    const int item = VNASelect->currentIndex();
    if (item >= 0 && item < static_cast<int>(std::size(kestrin::AnalyserModels))) {
        const kestrin::AnalyserModel& model = kestrin::AnalyserModels[item];
        std::lock_guard<std::mutex> lock(*SweepLock);
        RLCalDb = 0;
        SweepEndKHz = model.EndKHz;
        SweepSteps = model.Steps;
        DdsClockHz = model.DdsClockHz;
    }
    eDDSFreq->setText(Text(FormatGeneral(DdsClockHz)));
    eCalRL->setText(Text(FormatGeneral(RLCalDb)));
    eFend->setText(MHzText(SweepEndKHz));
    eSteps->setText(Text(FormatGeneral(SweepSteps)));
    // The clock goes through the same check as a typed one, which sets the tuning factor.
    CheckDdsClock();
}

void TMainForm::ApplyBand(int32_t startKHz, int32_t endKHz)
{
    // The worker copies the range from its own thread at the start of each sweep.
    {
        std::lock_guard<std::mutex> lock(*SweepLock);
        SweepStartKHz = startKHz;
        SweepEndKHz = endKHz;
    }
    eFstart->setText(MHzText(SweepStartKHz));
    eFend->setText(MHzText(SweepEndKHz));
}

void TMainForm::N130MHz1Click() { ApplyBand(1000, 30000); }
void TMainForm::N1180Mhz1Click() { ApplyBand(1000, 180000); }
void TMainForm::N1500MHz1Click() { ApplyBand(1000, 500000); }
void TMainForm::N160M1Click() { ApplyBand(1900, 2000); }
void TMainForm::N80M1Click() { ApplyBand(3600, 3800); }
void TMainForm::N40M1Click() { ApplyBand(7000, 7500); }
void TMainForm::N30M1Click() { ApplyBand(10000, 10200); }
void TMainForm::N20M1Click() { ApplyBand(14100, 14300); }
void TMainForm::N17M1Click() { ApplyBand(18068, 18168); }
void TMainForm::N15M1Click() { ApplyBand(21000, 21450); }
void TMainForm::N12M1Click() { ApplyBand(24890, 24990); }
void TMainForm::N10M1Click() { ApplyBand(28000, 29700); }
void TMainForm::N6M1Click() { ApplyBand(50000, 52000); }
void TMainForm::N2M1Click() { ApplyBand(144000, 146000); }
void TMainForm::N70CM1Click() { ApplyBand(430000, 440000); }
