// Markers set with the mouse, zoom to the markers, and the picture and CSV files.
#include "frmmain/TMainForm.h"

#include <QFileDialog>

#include <climits>
#include <cmath>
#include <string>

#include "measure/NumberText.h"
#include "measure/Readouts.h"
#include "plot/PlotDraw.h"

namespace {

// Sets up the save dialog in slot for one kind of file; a dialog not made yet is made as
// a child of the window, so that it lives as long as the window and offers the name
// chosen last time.
// kHz from MHz, rounded halves to even and kept inside the 32-bit range.
int32_t KHzFromMHz(Extended mhz)
{
    const Extended khz = mhz * 1000;
    if (!(khz > static_cast<Extended>(INT32_MIN)))
        return INT32_MIN;
    if (!(khz < static_cast<Extended>(INT32_MAX)))
        return INT32_MAX;
    return static_cast<int32_t>(llrintl(khz));
}

// The chosen path, empty when the person cancels.
// Shows the save dialog kept in slot (made on first use, living with the window) and
// returns the chosen path, empty when cancelled; the dialog offers it again next time.
QString AskSavePath(TMainForm& form, QFileDialog*& slot, const QString& suffix, const QString& filter)
{
    if (slot == nullptr)
        slot = new QFileDialog(&form);
    QFileDialog& dialog = *slot;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    dialog.setNameFilter(filter);
    QString path;
    if (form.SaveDialogRun)
        path = form.SaveDialogRun(dialog);
    else if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        path = dialog.selectedFiles().constFirst();
    if (!path.isEmpty())
        dialog.selectFile(path);
    return path;
}

QString EditText(int32_t khz)
{
    return QString::fromStdString(FormatGeneral(static_cast<Extended>(khz) / 1000));
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
    const int32_t startKHz = KHzFromMHz(marker1First ? Marker1FreqMHz : Marker2FreqMHz);
    const int32_t endKHz = KHzFromMHz(marker1First ? Marker2FreqMHz : Marker1FreqMHz);
    {
        // The worker copies the range from its own thread at the start of each sweep.
        std::lock_guard<std::mutex> lock(*SweepLock);
        SweepStartKHz = startKHz;
        SweepEndKHz = endKHz;
    }
    eFstart->setText(EditText(startKHz));
    eFend->setText(EditText(endKHz));

    Marker1Index = -1;
    Marker1FreqMHz = 0;
    Marker2Index = -1;
    Marker2FreqMHz = 0;
}

void TMainForm::BMPSaveClick()
{
    const QString path = AskSavePath(*this, SaveDialog1, QStringLiteral("bmp"), QStringLiteral("Bitmap files (*.bmp)"));
    if (path.isEmpty())
        return;

    QString error;
    if (!SaveBmpFile(*PlotBitmap, path, error))
        ShowError(error);
}

void TMainForm::Button1Click()
{
    if (!DataShown) {
        ShowError(QStringLiteral("There is no sweep to save yet."));
        return;
    }
    const QString path = AskSavePath(*this, CsvSaveDialog, QStringLiteral("csv"), QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;

    const std::string csv = SweepCsv(*VNAList);
    QString error;
    if (!SaveTextFile(QByteArray(csv.data(), static_cast<qsizetype>(csv.size())), path, error))
        ShowError(error);
}
