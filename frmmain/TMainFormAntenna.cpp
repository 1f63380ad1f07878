// What antenna builders asked for after setups: a Touchstone file as the reference,
// averaging of noisy sweeps, the SWR bandwidth in the overlay, and a picture to post.
#include "frmmain/TMainForm.h"

#include <QActionGroup>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <chrono>

#include "measure/Bandwidth.h"
#include "measure/NumberText.h"
#include "measure/Sweep.h"
#include "measure/TouchstoneReader.h"
#include "plot/PlotDraw.h"
#include "plot/TPanelPlus.h"

namespace {

// A reference file larger than this is no one-port sweep; it is not read into memory.
constexpr qint64 kMaxReferenceBytes = 16 << 20;

const Extended kBandwidthChoices[] = {0, 1.5L, 2, 3};

} // namespace

void TMainForm::CreateAntennaMenus()
{
    OpenReference1 = new QAction(QStringLiteral("Open &Reference..."), this);
    OpenReference1->setObjectName(QStringLiteral("OpenReference1"));
    // Beside Open Setup: after it, before Save Setup.
    File1->insertAction(SaveSetup1, OpenReference1);
    connect(OpenReference1, &QAction::triggered, this, &TMainForm::OpenReference1Click);

    SavePicture1 = new QAction(QStringLiteral("Save &Picture..."), this);
    SavePicture1->setObjectName(QStringLiteral("SavePicture1"));
    const QList<QAction*> items = File1->actions();
    const qsizetype afterTouchstone = items.indexOf(SaveTouchstone1) + 1;
    File1->insertAction(afterTouchstone < items.size() ? items[afterTouchstone] : nullptr, SavePicture1);
    connect(SavePicture1, &QAction::triggered, this, &TMainForm::SavePicture1Click);

    View1->addSeparator();
    Average1 = View1->addMenu(QStringLiteral("&Average"));
    Average1->setObjectName(QStringLiteral("Average1"));
    auto* averageGroup = new QActionGroup(this);
    for (int depth : AverageChoices) {
        QAction* item = Average1->addAction(depth == 1 ? QStringLiteral("&Off")
                                                       : QStringLiteral("&%1 sweeps").arg(depth));
        item->setCheckable(true);
        item->setChecked(depth == 1);
        averageGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, depth] {
            SetAverageDepth(depth);
            RecomputeAndRedraw();
        });
        AverageItems.push_back(item);
    }

    SwrBandwidth1 = View1->addMenu(QStringLiteral("SWR &bandwidth"));
    SwrBandwidth1->setObjectName(QStringLiteral("SwrBandwidth1"));
    auto* bandwidthGroup = new QActionGroup(this);
    for (Extended limit : kBandwidthChoices) {
        const QString text = limit == 0 ? QStringLiteral("&Off")
                                        : QStringLiteral("SWR \u2264 &%1").arg(QString::fromStdString(LimitText(limit)));
        QAction* item = SwrBandwidth1->addAction(text);
        item->setCheckable(true);
        item->setChecked(limit == BandwidthSwr);
        bandwidthGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, limit] {
            SetBandwidthSwr(limit);
            ShowPlot();
        });
        BandwidthItems.push_back(item);
    }
}

void TMainForm::SetAverageDepth(int depth)
{
    Average.SetDepth(depth);
    for (size_t k = 0; k < AverageItems.size(); ++k)
        AverageItems[k]->setChecked(AverageChoices[k] == Average.Depth());
}

void TMainForm::SetBandwidthSwr(Extended limit)
{
    BandwidthSwr = limit;
    for (size_t k = 0; k < BandwidthItems.size(); ++k)
        BandwidthItems[k]->setChecked(kBandwidthChoices[k] == limit);
}

void TMainForm::RebuildDisplayedSweep(MarkerState& marker1, MarkerState& marker2)
{
    // Every sweep taken goes into the mean; one that differs in range, steps, clock, R.L. Cal,
    // phase scale or model starts it afresh, and so does a changed R.L. Cal with the same sweep.
    const AverageKey key{displayedSweep_.StartKHz, displayedSweep_.EndKHz, displayedSweep_.Steps,
                         displayedSweep_.TuningFactor, RLCalDb, PhaseScale, VNASelect->currentIndex()};
    if (heldSweepNumber_ != averagedSweepNumber_ || !Average.Holds(key)) {
        if (heldSweepNumber_ == averagedSweepNumber_)
            Average.Clear();
        Average.Add(key, displayedRaw_.data());
        averagedSweepNumber_ = heldSweepNumber_;
    }
    if (Average.Depth() > 1)
        Average.Rebuild(*VNAList, marker1, marker2, MinSwrIndex);
    else
        RebuildSweep(*VNAList, displayedRaw_.data(), displayedSweep_, RLCalDb, PhaseScale, marker1, marker2,
                     MinSwrIndex);
}

void TMainForm::DrawAntennaOverlay()
{
    if (!DataShown || ShownPicture.isNull() || VNAList->Count() == 0)
        return;
    const PlotGeometry g = Geometry();
    const FrequencyAxis axis{displayedSweep_.StartKHz, displayedSweep_.EndKHz, displayedSweep_.Steps};
    if (BandwidthSwr > 0) {
        const SwrBandwidth bw = FindSwrBandwidth(*VNAList, MinSwrIndex, BandwidthSwr);
        DrawSwrBandwidth(ShownPicture, g, Palette(), axis, bw.Found, bw.Low.FreqMHz, bw.High.FreqMHz, BandwidthSwr,
                         QString::fromStdString(BandwidthText(bw, BandwidthSwr)));
    }
    if (Average.Depth() > 1)
        DrawCornerText(ShownPicture, g, Palette(),
                       QStringLiteral("Average %1 of %2").arg(Average.Count()).arg(Average.Depth()));
}

void TMainForm::ShowTitledError(const QString& title, const QString& message)
{
    if (TitledErrorBox)
        TitledErrorBox(title, message);
    else if (ErrorBox)
        ErrorBox(title + QStringLiteral(": ") + message);
    else
        QMessageBox::critical(this, title, message);
}

bool TMainForm::OpenReferenceFile(const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString cannot = QStringLiteral("Cannot read %1 as a reference. ").arg(info.absoluteFilePath());
    const int ports = TouchstonePortsOfName(name.toStdString());
    if (ports > 1) {
        ShowTitledError(name, cannot + QStringLiteral("It is a %1-port file; a reference is a one-port "
                                                      "Touchstone file (.s1p).")
                                           .arg(ports));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowTitledError(name, cannot + file.errorString());
        return false;
    }
    if (file.size() > kMaxReferenceBytes) {
        ShowTitledError(name, cannot + QStringLiteral("The file is too large for a one-port sweep (over 16 MiB)."));
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        ShowTitledError(name, cannot + file.errorString());
        return false;
    }
    const TouchstoneReading reading = ReadTouchstoneText(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (!reading.Error.empty()) {
        ShowTitledError(name, cannot + QString::fromStdString(reading.Error));
        return false;
    }
    auto kept = std::make_unique<KeptSweep>();
    TouchstoneList(reading.Points, kept->List);
    Reference = std::move(kept);
    ReferenceFromFile = true;
    referencePath_ = path;
    Clearreference1->setEnabled(true);
    RecomputeAndRedraw();
    return true;
}

void TMainForm::OpenReference1Click()
{
    const QString path = AskFilePath(ReferenceOpenDialog, false, QStringLiteral("s1p"),
                                     QStringLiteral("Touchstone one-port files (*.s1p *.S1P);;All files (*)"),
                                     referencePath_);
    if (!path.isEmpty())
        OpenReferenceFile(path);
}

std::vector<PictureLine> TMainForm::PictureLines() const
{
    // The Values box as it stands: the headings, then Lowest SWR (bold but for its
    // frequency, as there), Marker 1 and Marker 2.
    std::vector<PictureLine> lines;
    const QLabel* const titles[] = {nullptr, Label1, Label2, Label3};
    for (size_t row = 0; row < 4; ++row) {
        PictureLine line;
        line.Table = true;
        line.Cells.push_back(titles[row] != nullptr ? titles[row]->text() : QString());
        for (const ReadoutColumn& column : readoutColumns_)
            line.Cells.push_back(column.Labels[row]->text());
        if (row == 1)
            line.BoldFrom = 2;
        lines.push_back(std::move(line));
    }
    PictureLine sweep;
    sweep.Cells.push_back(QStringLiteral("Sweep %1 - %2 MHz, %3 steps%4")
                              .arg(QString::fromStdString(FormatMHz(listSettings_.StartKHz)),
                                   QString::fromStdString(FormatMHz(listSettings_.EndKHz)))
                              .arg(listSettings_.Steps)
                              .arg(Average.Depth() > 1 ? QStringLiteral(", mean of %1 sweeps").arg(Average.Count())
                                                       : QString()));
    lines.push_back(sweep);
    PictureLine date;
    QString now = QString::fromStdString(UtcTimeText(std::chrono::system_clock::now())).left(16);
    date.Cells.push_back(now.replace(QLatin1Char('T'), QLatin1Char(' ')) + QStringLiteral(" UTC"));
    lines.push_back(date);
    return lines;
}

QImage TMainForm::PictureWithReadouts() const
{
    return PictureWithText(ShownPicture, Palette(), PictureLines());
}

bool TMainForm::SavePictureFile(const QString& path)
{
    QString error;
    if (!SavePngFile(PictureWithReadouts(), path, error)) {
        ShowError(error);
        return false;
    }
    return true;
}

void TMainForm::SavePicture1Click()
{
    if (!DataShown) {
        ShowError(QStringLiteral("There is no sweep to save yet."));
        return;
    }
    const QString path = AskFilePath(PictureSaveDialog, true, QStringLiteral("png"), QStringLiteral("PNG pictures (*.png)"));
    if (!path.isEmpty())
        SavePictureFile(path);
}
