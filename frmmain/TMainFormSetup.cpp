// Setups: the sweep settings, markers, traces, calculators and frequency scale saved to a
// file and opened again from the File menu.
#include "frmmain/TMainForm.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <iterator>

#include "acquisition/SettingsRules.h"
#include "acquisition/SweepRequest.h"
#include "frmmain/TEdit.h"
#include "measure/NumberText.h"
#include "platform/AtomicFile.h"

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

const QString SetupFilter = QStringLiteral("Kestrin VNA setup (*.kvsetup)");

} // namespace

kestrin::SweepSetup TMainForm::CurrentSetup() const
{
    kestrin::SweepSetup s;
    s.Model = VNASelect->currentIndex();
    {
        std::lock_guard<std::mutex> lock(*SweepLock);
        s.StartKHz = SweepStartKHz;
        s.EndKHz = SweepEndKHz;
        s.Steps = SweepSteps;
    }
    s.DdsClockHz = DdsClockHz;
    s.RLCalDb = RLCalDb;
    s.Marker1MHz = setupMarker1_.value_or(Marker1FreqMHz);
    s.Marker2MHz = setupMarker2_.value_or(Marker2FreqMHz);
    const QCheckBox* const traces[kestrin::SetupTraceCount] = {cbSWR, cbRL, cbPhase, cbZ, cbXs, cbRs};
    for (int t = 0; t < kestrin::SetupTraceCount; ++t)
        s.Traces[size_t(t)] = traces[t]->isChecked();
    s.Calculator1 = {rbCalcL->isChecked(), CorL1Value};
    s.Calculator2 = {rbCalcL2->isChecked(), CorL2Value};
    s.FrequencyScale = Frequencyscale1->isChecked();
    s.Average = Average.Depth();
    s.BandwidthSwr = BandwidthSwr;
    return s;
}

void TMainForm::ApplySetup(const kestrin::SweepSetup& s)
{
    // The model first, as if chosen: it sets the end, steps, clock and calibration that the
    // file's own values then replace.
    if (s.Model && *s.Model != VNASelect->currentIndex()) {
        VNASelect->setCurrentIndex(*s.Model);
        VNASelectChange();
    }
    {
        // The worker takes the range, steps and tuning factor at the start of its next sweep,
        // with the markers' turn.
        std::lock_guard<std::mutex> lock(*SweepLock);
        SweepStartKHz = s.StartKHz.value_or(SweepStartKHz);
        SweepEndKHz = s.EndKHz.value_or(SweepEndKHz);
        SweepSteps = s.Steps.value_or(SweepSteps);
        if (s.DdsClockHz) {
            DdsClockHz = *s.DdsClockHz;
            TuningFactor = TuningFactorForClock(DdsClockHz);
        }
        if (s.Marker1MHz || s.Marker2MHz)
            ++setupGeneration_;
    }
    RLCalDb = s.RLCalDb.value_or(RLCalDb);
    eFstart->setText(Text(FormatMHz(SweepStartKHz)));
    eFend->setText(Text(FormatMHz(SweepEndKHz)));
    eSteps->setText(Text(std::to_string(SweepSteps)));
    eDDSFreq->setText(Text(std::to_string(DdsClockHz)));
    eCalRL->setText(Text(FormatGeneral(RLCalDb)));

    // The markers leave the sweep on display; a frequency waits for the next sweep.
    auto takeMarker = [](const std::optional<Extended>& mHz, int32_t& index, Extended& freqMHz,
                         std::optional<Extended>& waiting) {
        if (!mHz)
            return;
        index = -1;
        freqMHz = 0;
        waiting.reset();
        if (*mHz != 0)
            waiting = *mHz;
    };
    takeMarker(s.Marker1MHz, Marker1Index, Marker1FreqMHz, setupMarker1_);
    takeMarker(s.Marker2MHz, Marker2Index, Marker2FreqMHz, setupMarker2_);

    QCheckBox* const traces[kestrin::SetupTraceCount] = {cbSWR, cbRL, cbPhase, cbZ, cbXs, cbRs};
    for (int t = 0; t < kestrin::SetupTraceCount; ++t)
        if (s.Traces[size_t(t)])
            traces[t]->setChecked(*s.Traces[size_t(t)]);

    auto takeCalculator = [](const kestrin::SetupCalculator& c, QRadioButton* calcL, QRadioButton* calcC,
                             QLineEdit* edit, Extended& value) {
        if (c.FindsL)
            (*c.FindsL ? calcL : calcC)->setChecked(true);
        if (c.Value) {
            value = *c.Value;
            edit->setText(Text(FormatGeneral(value)));
        }
    };
    takeCalculator(s.Calculator1, rbCalcL, rbCalcC, eCorL, CorL1Value);
    takeCalculator(s.Calculator2, rbCalcL2, rbCalcC2, eCorL2, CorL2Value);
    rbCalcLClick();
    rbCalcL2Click();

    if (s.FrequencyScale)
        Frequencyscale1->setChecked(*s.FrequencyScale);
    if (s.Average)
        SetAverageDepth(*s.Average);
    if (s.BandwidthSwr)
        SetBandwidthSwr(*s.BandwidthSwr);
    RecomputeAndRedraw();
}

bool TMainForm::OpenSetupFile(const QString& path)
{
    const kestrin::SetupReading reading = kestrin::ReadSetupFile(path.toStdString());
    if (!reading.Error.empty()) {
        ShowError(Text(reading.Error));
        return false;
    }
    // The model is locked while a sweep runs; a setup with another one waits for Stop.
    const std::optional<int>& model = reading.Setup.Model;
    if (ComThread != nullptr && model && *model != VNASelect->currentIndex()) {
        ShowError(QStringLiteral("Cannot open %1: its analyser model, %2, can be chosen only while no sweep "
                                 "runs. Press Stop, then open the setup again.")
                      .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), QString::fromLatin1(kestrin::AnalyserModels[*model].Name)));
        return false;
    }
    ApplySetup(reading.Setup);
    setupPath_ = path;
    return true;
}

bool TMainForm::SaveSetupFile(const QString& path)
{
    const std::string text = kestrin::SetupText(CurrentSetup());
    std::string error;
    if (!kestrin::SaveFileAtomically(path.toStdString(), text, error)) {
        ShowError(QString::fromStdString(error));
        return false;
    }
    setupPath_ = path;
    return true;
}

bool TMainForm::CommitFocusedEntry()
{
    // A value typed but not yet committed (the shortcut leaves the focus where it is) is
    // taken as leaving the field would take it.
    auto* field = qobject_cast<TEdit*>(focusWidget());
    if (field == nullptr)
        return true;
    const int rejectedBefore = entryRejections_;
    emit field->Exit();
    return entryRejections_ == rejectedBefore;
}

void TMainForm::OpenSetup1Click()
{
    const QString path = AskFilePath(SetupOpenDialog, false, QString::fromLatin1(kestrin::SetupFileSuffix), SetupFilter, setupPath_);
    if (!path.isEmpty())
        OpenSetupFile(path);
}

void TMainForm::SaveSetup1Click()
{
    if (!CommitFocusedEntry())
        return;
    const QString path = AskFilePath(SetupSaveDialog, true, QString::fromLatin1(kestrin::SetupFileSuffix), SetupFilter, setupPath_);
    if (!path.isEmpty())
        SaveSetupFile(path);
}
