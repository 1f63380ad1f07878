#include "frmmain/TMainForm.h"

#include <QCloseEvent>
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QStyleFactory>
#include <QWindow>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <optional>
#include <utility>

#include "acquisition/SettingsRules.h"
#include "measure/NumberText.h"
#include "measure/Readouts.h"
#include "measure/Sweep.h"
#include "plot/PlotDraw.h"
#include "plot/TPanelPlus.h"

namespace {

// Where the window description puts things: a client area of 1181 x 693, the plot
// panel at 8, 39, 1168 x 550 anchored to all four sides, and the bottom group boxes
// 3 pixels above the bottom, anchored to the left and bottom.
constexpr int DescribedClientWidth = 1181;
constexpr int DescribedClientHeight = 693;
constexpr QRect DescribedPanel(8, 39, 1168, 550);
constexpr int GroupBoxBottomGap = 3;

QString Text(const std::string& s) { return QString::fromStdString(s); }

// Width of a label's text as the window's font draws it; 0 for no text.
int TextWidth(const QLabel* label)
{
    return label->text().isEmpty() ? 0 : label->fontMetrics().horizontalAdvance(label->text());
}

void SetRow(QLabel* f, QLabel* swr, QLabel* rl, QLabel* phase, QLabel* z, QLabel* rs, QLabel* xs,
            QLabel* l, QLabel* c, QLabel* q, const ReadoutRow* row)
{
    // Column order of the read-outs: frequency, SWR, R.L., phase, |Z|, Rs, |Xs|, L, C, Q.
    f->setText(row ? Text(row->F) : QString());
    swr->setText(row ? Text(row->SWR) : QString());
    rl->setText(row ? Text(row->RL) : QString());
    phase->setText(row ? Text(row->Phase) : QString());
    z->setText(row ? Text(row->Z) : QString());
    rs->setText(row ? Text(row->Rs) : QString());
    xs->setText(row ? Text(row->Xs) : QString());
    q->setText(row ? Text(row->Q) : QString());
    l->setText(row ? Text(row->L) : QString());
    c->setText(row ? Text(row->C) : QString());
}

} // namespace

void RegisterWindowFont()
{
    const QString tahoma = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
    if (QFile::exists(tahoma))
        QFontDatabase::addApplicationFont(tahoma);
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    setupUi(this);
    CreateAntennaMenus();
    // Exit on the platform's Quit keys, Ctrl+Q where the platform names none.
    Exit1->setShortcuts(QKeySequence::Quit);
    if (Exit1->shortcuts().isEmpty())
        Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // F10 opens the first menu, as desktops have it (Alt alone and the mnemonics the menu
    // bar handles itself).
    connect(new QShortcut(QKeySequence(Qt::Key_F10), this), &QShortcut::activated, this,
            [this] { MainMenu1->setActiveAction(File1->menuAction()); });
    // Tahoma 8 point is 11 pixels high on the screens the layout was made for.
    QFont windowFont = font();
    windowFont.setPixelSize(11);
    setFont(windowFont);
    // Group box captions sit on the frame line, above the contents placed below them.
    if (QStyle* framed = QStyleFactory::create(QStringLiteral("Windows"))) {
        framed->setParent(this);
        for (QGroupBox* box : {GroupBox1, GroupBox2, GroupBox3, GroupBox4, GroupBox5})
            box->setStyle(framed);
    }
    // A right-aligned caption never loses its first letters: where the window's font draws it
    // wider than its label (another system's font rendering), the label grows to the left.
    for (QLabel* label : ClientArea->findChildren<QLabel*>()) {
        const int grow = TextWidth(label) - label->contentsRect().width();
        if (label->text().isEmpty() || label->wordWrap() || !(label->alignment() & Qt::AlignRight) || grow <= 0)
            continue;
        label->setGeometry(label->geometry().adjusted(-grow, 0, 0, 0));
    }
    // The controls reach from the left margin to the right edge of the rightmost one; the
    // client area is never laid out narrower, nor lower than the smallest window leaves it.
    for (QWidget* control : ClientArea->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        controlsWidth_ = std::max(controlsWidth_, control->x() + control->width());
    controlsWidth_ += DescribedPanel.left();
    describedControlsWidth_ = controlsWidth_;
    readoutColumns_ = {
        {{Label4, lowswr_F, marker1_F, marker2_F}},         {{Label5, lowswr_SWR, marker1_SWR, marker2_SWR}},
        {{Label7, lowswr_RL, marker1_RL, marker2_RL}},      {{Label8, lowswr_Phase, marker1_Phase, marker2_Phase}},
        {{Label6, lowswr_Z, marker1_Z, marker2_Z}},         {{Label9, lowswr_Rs, marker1_Rs, marker2_Rs}},
        {{Label10, lowswr_Xs, marker1_Xs, marker2_Xs}},     {{Label18, lowswr_L, marker1_L, marker2_L}},
        {{Label19, lowswr_C, marker1_C, marker2_C}},        {{Label23, lowswr_Q, marker1_Q, marker2_Q}},
    };
    for (ReadoutColumn& column : readoutColumns_) {
        column.Right = column.Labels[0]->x() + column.Labels[0]->width();
        column.Width = column.Labels[0]->width();
    }
    // The read-outs' row titles are left-aligned: one that the font draws wider than its label
    // grows to the right ("Lowest SWR" under Windows' font rendering); the columns keep clear
    // of it (LayOutReadouts).
    for (QLabel* title : {Label1, Label2, Label3})
        title->resize(std::max(title->width(), TextWidth(title)), title->height());
    describedValuesWidth_ = GroupBox1->width();
    describedBoxesRightX_ = {GroupBox3->x(), GroupBox4->x(), GroupBox5->x()};
    // The window description's client area becomes the view of a scroll area without a
    // frame, so that at offset 0 everything sits where the description puts it.
    ClientScroll = new QScrollArea(this);
    ClientScroll->setObjectName(QStringLiteral("ClientScroll"));
    ClientScroll->setFrameShape(QFrame::NoFrame);
    ClientScroll->setFocusPolicy(Qt::NoFocus); // no tab stop of its own
    QWidget* view = takeCentralWidget();
    ClientScroll->setViewport(view);
    view->setBackgroundRole(QPalette::Window);
    ClientScroll->setWidgetResizable(true);
    ClientArea->setMinimumSize(Needs().ClientMinimum());
    ClientScroll->setWidget(ClientArea);
    setCentralWidget(ClientScroll);
    resize(DescribedClientWidth, DescribedClientHeight + MainMenu1->sizeHint().height());
    // A menu described without items (Calibration, Generator) shows its title and opens
    // nothing: no empty popup.
    for (QMenu* menu : MainMenu1->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
        if (menu->actions().isEmpty()) {
            // The menu bar opens no disabled menu; the title stays as enabled as it was.
            menu->setEnabled(false);
            menu->menuAction()->setEnabled(true);
        }
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    // Installed after the scroll area's own filter on its view, so that it runs first: that
    // one takes the resize for itself.
    centralwidget->installEventFilter(this);
    FormCreate();
}

TMainForm::~TMainForm()
{
    FormDestroy();
}

QString TMainForm::FileDialogFolder() const
{
    if (!fileFolder_.isEmpty())
        return fileFolder_;
    // Not the working folder: started from the Start menu that is the program's own folder,
    // where a person cannot (or should not) save.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString TMainForm::AskFilePath(QFileDialog*& slot, bool save, const QString& suffix, const QString& filter,
                               const QString& offer)
{
    if (slot == nullptr)
        slot = new QFileDialog(this);
    QFileDialog& dialog = *slot;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(suffix);
    dialog.setNameFilter(filter);
    const QString folder = FileDialogFolder();
    const QString chosenBefore = !offer.isEmpty() ? offer : slot->property("kestrinChosen").toString();
    if (!chosenBefore.isEmpty() && QFileInfo(chosenBefore).absoluteDir() == QDir(folder))
        dialog.selectFile(chosenBefore);
    else
        dialog.setDirectory(folder);
    QString path;
    if (const auto& run = save ? SaveDialogRun : OpenDialogRun)
        path = run(dialog);
    else if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        path = dialog.selectedFiles().constFirst();
    if (!path.isEmpty()) {
        dialog.setProperty("kestrinChosen", path);
        fileFolder_ = QFileInfo(path).absolutePath();
    }
    return path;
}

void TMainForm::OpenSetupWhenShown(const QString& path)
{
    QTimer::singleShot(0, this, [this, path] {
        if (OpenSetupFile(path))
            fileFolder_ = QFileInfo(path).absolutePath();
    });
}

void TMainForm::FormCreate()
{
    PlotPanel = new TPanelPlus(ClientArea);
    PlotPanel->setCursor(Qt::CrossCursor);
    PlotPanel->setGeometry(DescribedPanel);
    connect(PlotPanel, &TPanelPlus::MouseDown, this, &TMainForm::panelMouseDown);
    connect(PlotPanel, &TPanelPlus::Paint, this, &TMainForm::PanelPaint);
    connect(PlotPanel, &TPanelPlus::Resize, this, &TMainForm::PanelResize);
    connect(PlotPanel, &TPanelPlus::MouseMove, this, &TMainForm::panelMouseMove);
    connect(PlotPanel, &TPanelPlus::MouseLeave, this, &TMainForm::panelMouseLeave);
    connect(PlotPanel, &TPanelPlus::DevicePixelRatioChange, this, &TMainForm::PanelRatioChange);

    // Numbers are read and written with '.' whatever the system locale says.
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());

    DataShown = false;
    RLCalDb = kestrin::DefaultRLCalDb;
    CorL1Value = 100;
    CorL2Value = 100;

    const PlotPalette palette; // the plot's default colours
    BackgroundColor = palette.Background;
    SwrColor = palette.Swr;
    RlColor = palette.Rl;
    PhaseColor = palette.Phase;
    ZColor = palette.Z;
    XsColor = palette.Xs;
    RsColor = palette.Rs;

    SweepStartKHz = kestrin::DefaultStartKHz;
    SweepEndKHz = kestrin::DefaultEndKHz;
    SweepSteps = kestrin::DefaultSteps;
    DdsClockHz = kestrin::DefaultDdsClockHz;
    TuningFactor = TuningFactorForClock(DdsClockHz);

    Shown = Requested;

    PhaseScale = DefaultPhaseScale;

    const PlotGeometry layout; // the plot's default margins
    MarginTop = layout.MT;
    MarginBottom = layout.MB;
    MarginLeft = layout.ML;
    MarginRight = layout.MR;
    PlotWidth = PlotPanel->width() - MarginLeft - MarginRight;
    PlotHeight = PlotPanel->height() - MarginTop - MarginBottom;

    Marker1Index = -1;
    Marker1FreqMHz = 0;
    Marker2Index = -1;
    Marker2FreqMHz = 0;
    MinSwrIndex = -1;

    ComThread = nullptr;

    VNAList = new TVNAList;
    SweepLock = std::make_unique<std::mutex>();
    RawSweepBuffer = std::make_unique<uint8_t[]>(RawSweepBufferSize); // value-initialised: all 0
    PlotBitmap = std::make_unique<QImage>();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TMainForm::FormShow()
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // The window frame, where the window system has told it already, takes room too.
        QSize frame;
        if (const QWindow* window = windowHandle())
            frame = QSize(window->frameMargins().left() + window->frameMargins().right(),
                          window->frameMargins().top() + window->frameMargins().bottom());
        const QRect available = screen->availableGeometry();
        resize(OpeningWindowSize(screen->size(), available.size() - frame, Needs()));
        const QRect area = screen->geometry();
        QRect outer(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2,
                    width() + frame.width(), height() + frame.height());
        // Centred, but clear of the task bars where it fits between them.
        if (outer.width() <= available.width())
            outer.moveLeft(std::clamp(outer.left(), available.left(), available.right() + 1 - outer.width()));
        if (outer.height() <= available.height())
            outer.moveTop(std::clamp(outer.top(), available.top(), available.bottom() + 1 - outer.height()));
        move(outer.topLeft());
    }
    eFstart->setText(Text(FormatMHz(SweepStartKHz)));
    eFend->setText(Text(FormatMHz(SweepEndKHz)));
    FillPortList();
    RecomputeAndRedraw();
}

void TMainForm::ShowError(const QString& message)
{
    if (ErrorBox)
        ErrorBox(message);
    else
        QMessageBox::critical(this, QStringLiteral("Error"), message);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery()) {
        FormClose();
        event->accept();
    } else {
        event->ignore();
    }
}

bool TMainForm::FormCloseQuery()
{
    StopComThread();
    return true;
}

void TMainForm::FormClose()
{
    // The window is freed once closed.
    setAttribute(Qt::WA_DeleteOnClose);
}

void TMainForm::FormDestroy()
{
    // A window destroyed without a close request still ends its worker first.
    StopComThread();
    SweepLock.reset();
    RawSweepBuffer.reset();
    PlotBitmap.reset();
    delete VNAList;
    VNAList = nullptr;
    delete PlotPanel;
    PlotPanel = nullptr;
}

void TMainForm::customEvent(QEvent* event)
{
    if (event->type() == static_cast<QEvent::Type>(WM_SWEEPDONE)) {
        WMSweepDone();
        return;
    }
    if (event->type() == static_cast<QEvent::Type>(WM_COMTHREADENDED)) {
        WMComThreadEnded();
        return;
    }
    QMainWindow::customEvent(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == centralwidget && event->type() == QEvent::Resize)
        AnchorControls();
    return QMainWindow::eventFilter(watched, event);
}

WindowNeeds TMainForm::Needs() const
{
    WindowNeeds needs;
    needs.Minimum = minimumSize();
    needs.ControlsWidth = controlsWidth_;
    needs.MenuBarHeight = MainMenu1->sizeHint().height();
    needs.ScrollBarExtent = ClientScroll->horizontalScrollBar()->sizeHint().height();
    return needs;
}

void TMainForm::AnchorControls()
{
    // The view has its new size; the scroll area is about to size the client area to it,
    // but never below the client area's minimum.
    const QSize view = centralwidget->size();
    const QSize client = view.expandedTo(ClientArea->minimumSize());
    if (PlotPanel) {
        // Bottom: above the bottom row. Right: the right edge of the view, so that the whole
        // plot with both scales is in view while the client area is scrolled to the left.
        const int right = DescribedClientWidth - DescribedPanel.right() - 1;
        const int bottom = DescribedClientHeight - DescribedPanel.bottom() - 1;
        PlotPanel->setGeometry(DescribedPanel.left(), DescribedPanel.top(),
                               std::max(0, view.width() - DescribedPanel.left() - right),
                               std::max(0, client.height() - DescribedPanel.top() - bottom));
    }
    for (QGroupBox* box : {GroupBox2, GroupBox1, GroupBox3, GroupBox4, GroupBox5})
        box->move(box->x(), client.height() - GroupBoxBottomGap - box->height());
}

void TMainForm::PanelPaint(QObject*)
{
    // The picture is finished: a paint only copies it, device pixel for device pixel.
    if (QPainter* canvas = PlotPanel->Canvas())
        canvas->drawImage(0, 0, ShownPicture);
    // A change of scale that came without its event (a window system that reports none)
    // shows the old picture this once; the redraw at the new ratio follows at once.
    if (!ShownPicture.isNull() && ShownPicture.devicePixelRatio() != PlotPanel->devicePixelRatioF())
        QMetaObject::invokeMethod(this, [this] { PanelRatioChange(PlotPanel); }, Qt::QueuedConnection);
}

void TMainForm::PanelRatioChange(QObject*)
{
    if (!PlotPanel || !PlotBitmap || PlotBitmap->isNull() || PlotBitmap->devicePixelRatio() == PlotPanel->devicePixelRatioF())
        return;
    RecomputeAndRedraw();
}

void TMainForm::PanelResize(QObject*)
{
    RecomputeAndRedraw();
}

void TMainForm::cbPlotClick()
{
    RecomputeAndRedraw();
}

void TMainForm::DrawAxes()
{
    ::DrawAxes(*PlotBitmap, Geometry(), Palette(), PlotPanel->devicePixelRatioF());
}

void TMainForm::DrawPlotContent(QImage& picture) const
{
    if (picture.isNull() || !plotContent_.Data)
        return;
    const PlotGeometry g = Geometry();
    const FrequencyAxis axis{displayedSweep_.StartKHz, displayedSweep_.EndKHz, displayedSweep_.Steps};
    if (plotContent_.Scale)
        DrawFrequencyScale(picture, g, Palette(), axis);
    if (Reference && ReferenceFromFile) {
        DrawReferenceTracesAt(picture, g, Palette(), Reference->List, axis, plotContent_.Choice);
    } else if (Reference) {
        const FrequencyAxis referenceAxis{Reference->Settings.StartKHz, Reference->Settings.EndKHz,
                                          Reference->Settings.Steps};
        DrawReferenceTraces(picture, g, Palette(), Reference->List, referenceAxis, axis, plotContent_.Choice);
    }
    DrawTraces(picture, g, Palette(), *VNAList, plotContent_.Choice);
}

QImage TMainForm::FilePicture() const
{
    QImage picture;
    ::DrawAxes(picture, Geometry(), Palette(), 1);
    DrawPlotContent(picture);
    return picture;
}

PlotGeometry TMainForm::Geometry() const
{
    PlotGeometry g;
    g.ML = MarginLeft;
    g.MR = MarginRight;
    g.MT = MarginTop;
    g.MB = MarginBottom;
    g.W = PlotWidth + MarginLeft + MarginRight;
    g.H = PlotHeight + MarginTop + MarginBottom;
    return g;
}

PlotPalette TMainForm::Palette() const
{
    return PlotPalette{BackgroundColor, SwrColor, RlColor, PhaseColor, ZColor, XsColor, RsColor};
}

void TMainForm::RecomputeAndRedraw()
{
    ++FullRedraws;
    PlotWidth = PlotPanel->width() - MarginLeft - MarginRight;
    PlotHeight = PlotPanel->height() - MarginTop - MarginBottom;

    // PlotBitmap: 24 bits per pixel, the panel's size at the screen's device pixel ratio.
    DrawAxes();
    plotContent_ = PlotContent();

    if (DataShown) {
        // Take the held sweep under the lock, then compute without it, so that a
        // hand-over during the redraw neither waits for it nor mixes two sweeps.
        {
            std::lock_guard<std::mutex> lock(*SweepLock);
            displayedSweep_ = Shown;
            listSettings_ = Shown;
            listPort_ = ShownPort;
            displayedSweep_.Steps = std::clamp<int32_t>(displayedSweep_.Steps, 0, RawSweepBufferSize / 4);
            displayedRaw_.assign(RawSweepBuffer.get(), RawSweepBuffer.get() + size_t(displayedSweep_.Steps) * 4);
            heldSetupGeneration_ = shownSetupGeneration_;
            heldSweepNumber_ = shownSweepNumber_;
        }
        // The markers of a setup land on the first sweep requested after it was opened.
        const bool land1 = setupMarker1_ && heldSetupGeneration_ >= setupGeneration_;
        const bool land2 = setupMarker2_ && heldSetupGeneration_ >= setupGeneration_;
        if (land1)
            Marker1FreqMHz = *std::exchange(setupMarker1_, std::nullopt);
        if (land2)
            Marker2FreqMHz = *std::exchange(setupMarker2_, std::nullopt);
        displayedRLCalDb_ = RLCalDb;
        MarkerState marker1{Marker1FreqMHz, Marker1Index};
        MarkerState marker2{Marker2FreqMHz, Marker2Index};
        RebuildDisplayedSweep(marker1, marker2);
        listRLCalDb_ = RLCalDb;
        Marker1FreqMHz = marker1.FreqMHz;
        Marker1Index = marker1.Index;
        Marker2FreqMHz = marker2.FreqMHz;
        Marker2Index = marker2.Index;
        // There each stands on the sample a click at its frequency would choose.
        if (land1 && Marker1Index >= 0)
            Marker1FreqMHz = VNAList->GetEntry(Marker1Index)->FreqMHz;
        if (land2 && Marker2Index >= 0)
            Marker2FreqMHz = VNAList->GetEntry(Marker2Index)->FreqMHz;
        // A lowest-SWR index left over from a longer sweep, or none at all, shows nothing.
        if (MinSwrIndex >= VNAList->Count())
            MinSwrIndex = -1;

        plotContent_.Data = true;
        plotContent_.Choice.Swr = cbSWR->isChecked();
        plotContent_.Choice.Rl = cbRL->isChecked();
        plotContent_.Choice.Phase = cbPhase->isChecked();
        plotContent_.Choice.Z = cbZ->isChecked();
        plotContent_.Choice.Xs = cbXs->isChecked();
        plotContent_.Choice.Rs = cbRs->isChecked();
        plotContent_.Scale = Frequencyscale1->isChecked();
        DrawPlotContent(*PlotBitmap);
        WriteReadoutRows();
        Keepasreference1->setEnabled(true);
        RefreshCursorTip();
    }

    ShowPlot();
}

void TMainForm::WriteReadoutRows()
{
    auto rowAt = [this](int32_t index) -> std::optional<ReadoutRow> {
        if (index < 0 || index >= VNAList->Count())
            return std::nullopt;
        return FormatReadoutRow(*VNAList->GetEntry(index));
    };

    const std::optional<ReadoutRow> lowest = rowAt(MinSwrIndex);
    SetRow(lowswr_F, lowswr_SWR, lowswr_RL, lowswr_Phase, lowswr_Z, lowswr_Rs, lowswr_Xs, lowswr_L,
           lowswr_C, lowswr_Q, lowest ? &*lowest : nullptr);

    const CalculatorTexts calc1 = EvaluateCalculator(
        Marker1FreqMHz, CorL1Value, rbCalcL->isChecked() ? CalcMode::CalculateL : CalcMode::CalculateC);
    lblCalcCorLfreq->setText(Text(calc1.Freq));
    lblResultCalcLorC->setText(Text(calc1.Result));
    const CalculatorTexts calc2 = EvaluateCalculator(
        Marker2FreqMHz, CorL2Value, rbCalcL2->isChecked() ? CalcMode::CalculateL : CalcMode::CalculateC);
    lblCalcCorL2freq->setText(Text(calc2.Freq));
    lblResultCalcLorC2->setText(Text(calc2.Result));

    const std::optional<ReadoutRow> m1 = rowAt(Marker1Index);
    SetRow(marker1_F, marker1_SWR, marker1_RL, marker1_Phase, marker1_Z, marker1_Rs, marker1_Xs, marker1_L,
           marker1_C, marker1_Q, m1 ? &*m1 : nullptr);
    const std::optional<ReadoutRow> m2 = rowAt(Marker2Index);
    SetRow(marker2_F, marker2_SWR, marker2_RL, marker2_Phase, marker2_Z, marker2_Rs, marker2_Xs, marker2_L,
           marker2_C, marker2_Q, m2 ? &*m2 : nullptr);
    LayOutReadouts();
}

void TMainForm::LayOutReadouts()
{
    // Blank pixels at least between the texts of neighbouring columns: a narrow space.
    constexpr int kGap = 4;
    const auto textWidth = TextWidth;
    const size_t n = readoutColumns_.size();
    std::vector<int> need(n), right(n);
    for (size_t i = 0; i < n; ++i)
        for (const QLabel* label : readoutColumns_[i].Labels)
            need[i] = std::max(need[i], textWidth(label));
    // From the right: a column's texts are right-aligned, so a column ends at its described
    // edge or, where the column to its right needs the room, a gap before that one's text.
    right[n - 1] = readoutColumns_[n - 1].Right;
    for (size_t i = n - 1; i-- > 0;)
        right[i] = std::min(readoutColumns_[i].Right, right[i + 1] - need[i + 1] - kGap);
    int titles = 0;
    for (const QLabel* title : {Label1, Label2, Label3})
        titles = std::max(titles, title->x() + textWidth(title));
    const int shift = std::max(0, titles + kGap - (right[0] - need[0]));
    for (size_t i = 0; i < n; ++i) {
        for (QLabel* label : readoutColumns_[i].Labels) {
            const int width = std::max(readoutColumns_[i].Width, textWidth(label));
            label->setGeometry(right[i] + shift - width, label->y(), width, label->height());
        }
    }
    // The last column keeps its edge, so the box grows only by the shift.
    const int grown = shift;
    if (GroupBox1->width() != describedValuesWidth_ + grown) {
        GroupBox1->resize(describedValuesWidth_ + grown, GroupBox1->height());
        const std::array<QGroupBox*, 3> boxes{GroupBox3, GroupBox4, GroupBox5};
        for (size_t i = 0; i < boxes.size(); ++i)
            boxes[i]->move(describedBoxesRightX_[i] + grown, boxes[i]->y());
        controlsWidth_ = describedControlsWidth_ + grown;
        ClientArea->setMinimumSize(Needs().ClientMinimum());
    }
}

void TMainForm::ComposeShownPicture()
{
    // The sample count of the last rebuild, which the marker indices refer to.
    ComposeShown(ShownPicture, *PlotBitmap, Geometry(), Palette(), DataShown, VNAList->Count(), Marker1Index,
                 Marker2Index, MinSwrIndex);
    DrawAntennaOverlay();
    // The logical pixels the picture covers whole.
    const QSizeF covered = ShownPicture.deviceIndependentSize();
    PlotPanel->SetCoveredArea(QRect(0, 0, static_cast<int>(std::floor(covered.width() + 1e-6)),
                                    static_cast<int>(std::floor(covered.height() + 1e-6))));
}

void TMainForm::ShowPlot()
{
    ComposeShownPicture();
    PlotPanel->update();
}
