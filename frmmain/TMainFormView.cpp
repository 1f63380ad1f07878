// The View menu and the plot's reading aids: a reference sweep to compare with, the
// frequency scale, and the values under the cursor; the Help menu's About box.
#include "frmmain/TMainForm.h"

#include <QMessageBox>
#include <QToolTip>

#include <limits>

#include "measure/Readouts.h"
#include "measure/Sweep.h"
#include "plot/PlotDraw.h"
#include "plot/TPanelPlus.h"

namespace {

bool SameShape(const SweepShape& a, const SweepShape& b)
{
    return a.StartKHz == b.StartKHz && a.EndKHz == b.EndKHz && a.Steps == b.Steps;
}

} // namespace

void TMainForm::Keepasreference1Click()
{
    if (!DataShown || VNAList->Count() == 0)
        return;
    // What the screen shows: the settings, bytes and calibration of the last redraw, which
    // a hand-over or an edited calibration since then has not changed.
    auto kept = std::make_unique<KeptSweep>();
    kept->Settings = displayedSweep_;
    kept->Raw = displayedRaw_;
    kept->RLCalDb = displayedRLCalDb_;
    MarkerState noMarker1, noMarker2;
    int32_t lowest = -1;
    RebuildSweep(kept->List, kept->Raw.data(), kept->Settings, kept->RLCalDb, PhaseScale, noMarker1, noMarker2,
                 lowest);
    // While averaging, the screen shows the mean: that is what is kept.
    if (Average.Depth() > 1 && kept->List.Count() == VNAList->Count())
        for (int32_t i = 0; i < VNAList->Count(); ++i)
            *kept->List.GetEntry(i) = *VNAList->GetEntry(i);
    const bool replacesFile = ReferenceFromFile;
    Reference = std::move(kept);
    ReferenceFromFile = false;
    Clearreference1->setEnabled(true);
    // Nothing to redraw: the reference lies under the live traces it was made from, unless
    // it takes the place of one read from a file.
    if (replacesFile)
        RecomputeAndRedraw();
}

void TMainForm::Clearreference1Click()
{
    Reference.reset();
    ReferenceFromFile = false;
    Clearreference1->setEnabled(false);
    RecomputeAndRedraw();
}

void TMainForm::Frequencyscale1Click()
{
    RecomputeAndRedraw();
}

void TMainForm::AboutKestrinVNA1Click()
{
    QMessageBox::about(this, QStringLiteral("About Kestrin VNA"),
                       QStringLiteral("<p><b>Kestrin VNA %1</b></p>"
                                      "<p>Sweeps a DDS-based antenna analyser (a one-port vector network "
                                      "analyser) on a serial port and shows SWR, return loss, phase and "
                                      "impedance over frequency.</p>"
                                      "<p>Licence: GPL-3.0-or-later</p>")
                           .arg(QStringLiteral(KESTRIN_VERSION)));
}

void TMainForm::panelMouseMove(QObject*, Qt::KeyboardModifiers, int x, int y)
{
    ShowCursorTip(QPoint(x, y));
}

void TMainForm::panelMouseLeave(QObject*)
{
    HideCursorTip();
}

QString TMainForm::CursorTipText(QPoint at) const
{
    const int n = VNAList->Count();
    if (!DataShown || n == 0)
        return {};
    const PlotGeometry g = Geometry();
    if (at.x() < g.ML || at.x() > g.ML + g.PW() || at.y() < g.MT || at.y() > g.H - g.MB)
        return {};
    // The sample a click here would put a marker on, from the list on screen.
    const int i = MarkerIndexFromX(g, n, at.x());
    if (i < 0)
        return {};
    return QString::fromStdString(CursorReadout(*VNAList->GetEntry(i)));
}

void TMainForm::ShowCursorTip(QPoint at)
{
    const QString text = CursorTipText(at);
    if (text.isEmpty()) {
        HideCursorTip();
        return;
    }
    // A one-pixel rectangle at the cursor makes the tip move with every move, not only
    // when its text changes; it stays until the cursor leaves or the data change shape.
    QToolTip::showText(PlotPanel->mapToGlobal(at), text, PlotPanel, QRect(at, QSize(1, 1)),
                       std::numeric_limits<int>::max());
    cursorTip_ = CursorTip{at, text, displayedSweep_, PlotWidth, PlotHeight};
}

void TMainForm::HideCursorTip()
{
    if (!cursorTip_)
        return;
    cursorTip_.reset();
    QToolTip::hideText();
}

void TMainForm::RefreshCursorTip()
{
    if (!cursorTip_)
        return;
    // A tip that Qt closed by itself (a click, a key, another tooltip) stays closed.
    if (!QToolTip::isVisible() || QToolTip::text() != cursorTip_->Text) {
        cursorTip_.reset();
        return;
    }
    if (!SameShape(cursorTip_->Shape, displayedSweep_) || cursorTip_->PW != PlotWidth || cursorTip_->PH != PlotHeight) {
        HideCursorTip();
        return;
    }
    ShowCursorTip(cursorTip_->At);
}
