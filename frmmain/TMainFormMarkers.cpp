// Markers set with the mouse, zoom to the markers, and the picture and CSV files.
#include "frmmain/TMainForm.h"

#include <QFileDialog>

#include <algorithm>
#include <climits>
#include <chrono>
#include <string>

#include "acquisition/SweepRequest.h"
#include "measure/NumberText.h"
#include "measure/Readouts.h"
#include "measure/Touchstone.h"
#include "platform/AtomicFile.h"
#include "plot/PlotDraw.h"

namespace {

// kHz from MHz, rounded halves to even and kept inside the 32-bit range.
int32_t KHz32FromMHz(Extended mHz)
{
    return static_cast<int32_t>(std::clamp<long long>(KHzFromMHz(mHz), INT32_MIN, INT32_MAX));
}

} // namespace

void TMainForm::panelMouseDown(QObject*, Qt::MouseButton button, Qt::KeyboardModifiers, int x, int)
{
    if (!DataShown)
        return;

    int32_t* index = nullptr;
    Extended* freqMHz = nullptr;
    if (button == Qt::LeftButton) {
        index = &Marker1Index;
        freqMHz = &Marker1FreqMHz;
    } else if (button == Qt::RightButton) {
        index = &Marker2Index;
        freqMHz = &Marker2FreqMHz;
    }

    if (index != nullptr) {
        // A click wins over a marker of a setup still waiting for its sweep.
        (button == Qt::LeftButton ? setupMarker1_ : setupMarker2_).reset();
        // The layout and the samples as the last redraw left them: the list, not
        // ShownSteps, which a hand-over may already have changed for the next redraw.
        const int i = MarkerIndexFromX(Geometry(), VNAList->Count(), x);
        if (i < 0) {
            *index = -1;
            *freqMHz = 0;
        } else {
            *index = i;
            *freqMHz = VNAList->GetEntry(i)->FreqMHz;
        }
    }

    RecomputeAndRedraw();
}

void TMainForm::btnZoomClick()
{
    if (Marker1Index < 0 || Marker2Index < 0)
        return;

    const bool marker1First = Marker1Index <= Marker2Index;
    ApplyBand(KHz32FromMHz(marker1First ? Marker1FreqMHz : Marker2FreqMHz),
              KHz32FromMHz(marker1First ? Marker2FreqMHz : Marker1FreqMHz));

    Marker1Index = -1;
    Marker1FreqMHz = 0;
    Marker2Index = -1;
    Marker2FreqMHz = 0;
    setupMarker1_.reset();
    setupMarker2_.reset();
    // Nothing is redrawn: the lines stay on screen until the panel is next painted.
    ComposeShownPicture();
}

void TMainForm::BMPSaveClick()
{
    const QString path = AskFilePath(SaveDialog1, true, QStringLiteral("bmp"), QStringLiteral("Bitmap files (*.bmp)"));
    if (path.isEmpty())
        return;

    // The plot in logical pixels, whatever the screen's scale: the same file at every scale.
    QString error;
    if (!SaveBmpFile(FilePicture(), path, error))
        ShowError(error);
}

void TMainForm::Button1Click()
{
    if (!DataShown) {
        ShowError(QStringLiteral("There is no sweep to save yet."));
        return;
    }
    const QString path = AskFilePath(CsvSaveDialog, true, QStringLiteral("csv"), QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;

    const std::string csv = SweepCsv(*VNAList);
    std::string error;
    if (!kestrin::SaveFileAtomically(path.toStdString(), csv, error))
        ShowError(QString::fromStdString(error));
}

void TMainForm::SaveTouchstone1Click()
{
    if (!DataShown) {
        ShowError(QStringLiteral("There is no sweep to save yet."));
        return;
    }
    const QString path = AskFilePath(TouchstoneSaveDialog, true, QStringLiteral("s1p"),
                                     QStringLiteral("Touchstone files (*.s1p)"));
    if (path.isEmpty())
        return;

    // The samples as the last redraw computed them, with the settings they came from.
    TouchstoneSource source;
    source.Program = "Kestrin VNA " KESTRIN_VERSION;
    source.SavedAt = UtcTimeText(std::chrono::system_clock::now());
    source.Port = listPort_;
    source.Shape = listSettings_;
    source.DdsClockHz = ClockForTuningFactor(listSettings_.TuningFactor);
    source.RLCalDb = listRLCalDb_;
    source.Averaged = Average.Depth() > 1 ? Average.Count() : 1;
    const std::string text = SweepTouchstone(*VNAList, source);
    std::string error;
    if (!kestrin::SaveFileAtomically(path.toStdString(), text, error))
        ShowError(QString::fromStdString(error));
}

void TMainForm::Exit1Click()
{
    close();
}
