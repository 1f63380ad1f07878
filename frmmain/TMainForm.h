#pragma once
// The program's only window: the sweep settings, the plot and the read-outs. It holds
// the state the parts share and owns the plot panel, the sample list, the plot picture,
// the raw sweep buffer with its lock and, while a sweep runs, the sweep worker.
#include <QColor>
#include <QImage>
#include <QMainWindow>
#include <QSize>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/SweepSetup.h"
#include "acquisition/TComThread.h"
#include "frmmain/WindowSize.h"
#include "measure/Bandwidth.h"
#include "measure/Extended.h"
#include "measure/SweepAverage.h"
#include "measure/VNAList.h"
#include "platform/PortList.h"
#include "plot/PlotDraw.h"
#include "ui_TMainForm.h"

class QFileDialog;
class QScrollArea;
class TComThread;
class TPanelPlus;

// The type of the event a worker posts to the window when a sweep has been handed over.
constexpr int WM_SWEEPDONE = 1025;
// The type of the event a worker posts to the window when it ended on its own (open
// failure, port lost).
constexpr int WM_COMTHREADENDED = 1026;

// Room in RawSweepBuffer: 4000 samples of 4 bytes.
constexpr int RawSweepBufferSize = 16000;

// Makes the window font Tahoma available (Wine's metric-compatible face) when installed.
void RegisterWindowFont();

// Call once on the UI thread after the QApplication exists: calls handed to the UI thread
// (kestrin::Synchronize) then run from an event posted to the event loop, besides the
// waits that run them themselves.
void InitWindowSynchronize();

class TMainForm : public QMainWindow, public Ui_TMainForm, public TSweepWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // The save-file dialog of the picture export; it lives as long as the window, so
    // it offers the name chosen last time.
    QFileDialog* SaveDialog1 = nullptr;

    // Scrolls the client area ClientArea, with every control and the plot panel, when the
    // window is smaller than the controls need. Its viewport is centralwidget, the part of
    // the client area in view; the menu bar stays outside.
    QScrollArea* ClientScroll = nullptr;
    // What this window needs of its size: the controls' width, menu bar, scroll bars.
    WindowNeeds Needs() const;

    // Owned objects and shared state, in declaration order of the window.
    TPanelPlus* PlotPanel = nullptr;
    TVNAList* VNAList = nullptr;
    // The settings of the sweep whose data is held, written by the worker's hand-over,
    // and the requested settings, written by the settings entry and zoom; both under SweepLock.
    SweepSettings Shown;
    SweepSettings Requested;
    int32_t& ShownStartKHz = Shown.StartKHz;
    int32_t& ShownEndKHz = Shown.EndKHz;
    int32_t& ShownSteps = Shown.Steps;
    Extended& ShownTuningFactor = Shown.TuningFactor;
    int32_t& SweepStartKHz = Requested.StartKHz;
    int32_t& SweepEndKHz = Requested.EndKHz;
    int32_t& SweepSteps = Requested.Steps;
    int32_t DdsClockHz = 0;
    Extended& TuningFactor = Requested.TuningFactor; // 2^32 * 1000 / DdsClockHz
    int32_t MarginTop = 0;
    int32_t MarginBottom = 0;
    int32_t MarginLeft = 0;
    int32_t MarginRight = 0;
    int32_t PlotWidth = 0;
    int32_t PlotHeight = 0;
    int32_t Marker1Index = -1;
    int32_t Marker2Index = -1;
    int32_t MinSwrIndex = -1;
    TComThread* ComThread = nullptr;
    std::unique_ptr<uint8_t[]> RawSweepBuffer; // RawSweepBufferSize bytes, guarded by SweepLock
    std::unique_ptr<std::mutex> SweepLock;     // guards the copies between worker and window
    std::unique_ptr<QImage> PlotBitmap;        // grid and traces, never the markers; at the screen's ratio
    QImage ShownPicture; // PlotBitmap with the overlay, as a paint of the panel copies it
    QColor BackgroundColor, SwrColor, RlColor, PhaseColor, ZColor, XsColor, RsColor;
    bool DataShown = false;
    Extended RLCalDb = 0;
    Extended CorL1Value = 0;
    Extended CorL2Value = 0;
    Extended Marker1FreqMHz = 0; // 0 = unset
    Extended Marker2FreqMHz = 0;
    Extended PhaseScale = 0;     // degrees per raw phase count
    // Every file dialog of the window: the dialog kept in slot (made on first use, living
    // with the window) opens where the last file was saved or opened, on the first use of a
    // run in the person's Documents folder (else home), never the program's folder; it offers
    // again the file it chose last (or offer) while that lies there. Returns the chosen path,
    // empty when cancelled; SaveDialogRun or OpenDialogRun answer instead when set.
    QString AskFilePath(QFileDialog*& slot, bool save, const QString& suffix, const QString& filter,
                        const QString& offer = {});
    // The folder the next file dialog opens in.
    QString FileDialogFolder() const;
    // Opens the setup once the window is on screen, as File > Open Setup would (a setup
    // given to the program, double-clicked or dropped on it).
    void OpenSetupWhenShown(const QString& path);
    // Where ShowError puts its message; empty means the modal error box (tests record here).
    std::function<void(const QString&)> ErrorBox;
    // The error box: title "Error", the message, one OK button.
    void ShowError(const QString& message);
    // The save-file dialogs of CSV Save and Save Touchstone, made on first use; they live
    // as long as the window.
    QFileDialog* CsvSaveDialog = nullptr;
    QFileDialog* TouchstoneSaveDialog = nullptr;
    // The port the sweep whose data is held came from (its device path, or "Simulator"),
    // written with Shown by the hand-over under SweepLock.
    std::string ShownPort;
    // Runs a save dialog and returns the chosen path, empty when cancelled; empty means
    // the modal dialog (tests answer here).
    std::function<QString(QFileDialog&)> SaveDialogRun;
    // The file dialogs of Open Setup and Save Setup, made on first use; both offer the setup
    // opened or saved last. OpenDialogRun: as SaveDialogRun, for the open dialog.
    QFileDialog* SetupOpenDialog = nullptr;
    QFileDialog* SetupSaveDialog = nullptr;
    std::function<QString(QFileDialog&)> OpenDialogRun;
    // Setups (frmmain/TMainFormSetup.cpp). The window's setup as a file would hold it; markers
    // still waiting for their sweep count with the frequencies they wait with.
    kestrin::SweepSetup CurrentSetup() const;
    // Reads the file and applies every value as if typed, or nothing with a message.
    bool OpenSetupFile(const QString& path);
    // Writes CurrentSetup() to path, through a temporary file; a message when it fails.
    bool SaveSetupFile(const QString& path);
    // The serial ports in the system's enumeration order; empty means the system's own
    // provider (tests give a made-up device tree).
    std::function<std::vector<kestrin::PortEntry>()> EnumeratePorts;

    // Sweep worker (frmmain/TMainFormSweep.cpp).
    void StartComThread();
    // Ends and frees a running worker; nothing to do while ComThread is null.
    void StopComThread();
    // Worker thread: takes the requested settings under SweepLock.
    void CopySweepSettings() override;
    // Worker thread: stores a complete reply and its settings under SweepLock.
    void HandOverSweep(const uint8_t* sampleBuffer) override;
    // Worker thread: posts the event WM_COMTHREADENDED.
    void WorkerEnded() override;
    void WMSweepDone();
    // Frees a worker that ended on its own, returns to Stopped and tells the person why.
    void WMComThreadEnded();

    // The full redraw: layout, axes, then with data the samples, traces, read-outs and
    // calculators; last the picture on the panel.
    void RecomputeAndRedraw();
    // How many full redraws have run (tests count them).
    int FullRedraws = 0;

    // A sweep kept for comparison (View menu): the settings and raw bytes of the sweep on
    // display when it was kept, the R.L. calibration it was shown with, and its samples
    // computed from them once, by the same rebuild as the live sweep.
    struct KeptSweep {
        SweepSettings Settings;
        std::vector<uint8_t> Raw;
        Extended RLCalDb = 0;
        TVNAList List;
    };
    std::unique_ptr<KeptSweep> Reference; // none until kept; lasts until cleared
    // A reference read from a file: List holds its points at their own frequencies (Settings
    // and Raw stay empty).
    bool ReferenceFromFile = false;
    // Makes PlotBitmap the panel's size at the panel's device pixel ratio and draws the axes.
    void DrawAxes();
    // Draws what the last redraw drew besides the axes, at the ratio picture carries: with a
    // sweep, the frequency scale when shown, the reference when kept, then the traces.
    void DrawPlotContent(QImage& picture) const;
    // The picture BMP Save writes: the plot of the last redraw at ratio 1 (logical pixels),
    // without the overlay, drawn by the same code as PlotBitmap.
    QImage FilePicture() const;
    // Puts PlotBitmap with the overlay on the panel: composes ShownPicture and has the
    // panel painted when the window system next paints.
    void ShowPlot();
    // Makes ShownPicture anew from PlotBitmap and, once data is shown, the overlay of the
    // markers and the lowest SWR: after every redraw and every change of a marker.
    void ComposeShownPicture();
    // The plot layout of the last redraw, and the palette, for the drawing functions.
    PlotGeometry Geometry() const;
    PlotPalette Palette() const;

    void PanelPaint(QObject* sender);
    void PanelResize(QObject* sender);
    // The panel moved to a screen of another scale: the full redraw at the new ratio.
    void PanelRatioChange(QObject* sender);
    void panelMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // The values under the cursor in a tooltip (frmmain/TMainFormView.cpp).
    void panelMouseMove(QObject* sender, Qt::KeyboardModifiers shift, int x, int y);
    void panelMouseLeave(QObject* sender);

public slots:
    // Sweep (frmmain/TMainFormSweep.cpp).
    void btnStartClick();
    // The port list (frmmain/TMainFormPorts.cpp): filled anew as it opens; the closed
    // field's tooltip follows the chosen item.
    void cbComPortDropDown();
    void cbComPortChange();
    // Markers, zoom and export (frmmain/TMainFormMarkers.cpp).
    void btnZoomClick();
    void BMPSaveClick();
    void Button1Click();
    // File menu (frmmain/TMainFormMarkers.cpp): the sweep on display as a Touchstone file;
    // Exit closes the window as its close button does.
    void SaveTouchstone1Click();
    void Exit1Click();
    // File menu: setups (frmmain/TMainFormSetup.cpp).
    void OpenSetup1Click();
    void SaveSetup1Click();
    // Plot check boxes (frmmain/TMainForm.cpp).
    void cbPlotClick();
    // View menu: reference sweep and frequency scale (frmmain/TMainFormView.cpp).
    void Keepasreference1Click();
    void Clearreference1Click();
    void Frequencyscale1Click();
    // Help menu (frmmain/TMainFormView.cpp): the version, the licence and what the program is for.
    void AboutKestrinVNA1Click();
    // Settings entry, band presets, model and calculators (frmmain/TMainFormSettings.cpp).
    void eFstartExit();
    void eFendExit();
    void eFstartEndKeyPress(char& key);
    void eStepsExit();
    void eDDSFreqKeyPress(char& key);
    void eDDSFreqExit();
    void eCalRLExit();
    void eCalRLKeyPress(char& key);
    void eCorLExit();
    void eCorLKeyPress(char& key);
    void eCorL2Exit();
    void eCorL2KeyPress(char& key);
    void rbCalcLClick();
    void rbCalcL2Click();
    void VNASelectChange();
    void N130MHz1Click();
    void N1180Mhz1Click();
    void N1500MHz1Click();
    void N160M1Click();
    void N80M1Click();
    void N40M1Click();
    void N30M1Click();
    void N20M1Click();
    void N17M1Click();
    void N15M1Click();
    void N12M1Click();
    void N10M1Click();
    void N6M1Click();
    void N2M1Click();
    void N70CM1Click();

public:
    // What antenna builders asked for (frmmain/TMainFormAntenna.cpp): a Touchstone file as
    // the reference, averaging, the SWR bandwidth and a picture with the read-outs.
    QAction* OpenReference1 = nullptr;  // File > Open Reference...
    QAction* SavePicture1 = nullptr;    // File > Save Picture...
    QMenu* Average1 = nullptr;          // View > Average: Off, 2, 4, 8, 16
    std::vector<QAction*> AverageItems; // in that order
    QMenu* SwrBandwidth1 = nullptr;     // View > SWR bandwidth: Off, 1.5, 2, 3
    std::vector<QAction*> BandwidthItems;
    // Sweeps held for the mean; its depth is the View > Average choice (1: off).
    SweepAverage Average;
    // The SWR limit of the bandwidth shown in the overlay; 0: off.
    Extended BandwidthSwr = DefaultBandwidthSwr;
    // Reads a one-port Touchstone file and shows it as the reference; a file that cannot be
    // read changes nothing and says why, in a message titled with the file's name.
    bool OpenReferenceFile(const QString& path);
    // Writes the picture File > Save Picture writes; a message when it fails.
    bool SavePictureFile(const QString& path);
    // That picture: the plot as on screen with the overlay, and below it the read-out rows,
    // the sweep's range and steps and the date.
    QImage PictureWithReadouts() const;
    // The lines of text below the plot in that picture.
    std::vector<PictureLine> PictureLines() const;
    QFileDialog* ReferenceOpenDialog = nullptr;
    QFileDialog* PictureSaveDialog = nullptr;
    // Where the message boxes of a file named in their title go; empty means the modal box
    // (tests record "title: message" here).
    std::function<void(const QString&, const QString&)> TitledErrorBox;
    void SetAverageDepth(int depth);
    void SetBandwidthSwr(Extended limit);

public slots:
    void OpenReference1Click();
    void SavePicture1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void customEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();
    // Fills the port list; the port chosen before stays chosen while it is listed.
    void FillPortList();
    void WriteReadoutRows();
    // Sizes the read-out grid to its texts: every cell and header keeps the right edge the
    // window description gives its column and grows to the left as its text needs, while
    // the texts of neighbouring columns, and of the first column and the row titles, keep
    // a gap. Where the group box has no room left, the columns move right and the box
    // widens, the boxes to its right moving with it.
    void LayOutReadouts();
    // Keeps the anchored controls in place as the part of the client area in view changes size.
    void AnchorControls();

    // Settings entry (frmmain/TMainFormSettings.cpp).
    void RejectEntry(QLineEdit* field, const QString& message, const QString& stored);
    void FrequencyExit(QLineEdit* field, int32_t& storedKHz);
    void CheckDdsClock();
    // Sets the requested range and shows it in the edits (band presets and zoom).
    void ApplyBand(int32_t startKHz, int32_t endKHz);

    // View menu (frmmain/TMainFormView.cpp): the tooltip with the values under the cursor.
    QString CursorTipText(QPoint at) const;
    void ShowCursorTip(QPoint at);
    void HideCursorTip();
    // After a redraw with data: new values for a tip that is up, or none when the data
    // changed shape.
    void RefreshCursorTip();

    // What the last redraw drew besides the axes: whether a sweep, the traces chosen and
    // whether the frequency scale.
    struct PlotContent {
        bool Data = false;
        TraceChoice Choice;
        bool Scale = false;
    };
    PlotContent plotContent_;
    // The sweep the last redraw showed: its settings (steps limited to the buffer), raw
    // bytes and R.L. calibration.
    SweepSettings displayedSweep_;
    std::vector<uint8_t> displayedRaw_;
    Extended displayedRLCalDb_ = 0;

    // The tooltip while it is up: where, what, and the shape of the data it was made for.
    struct CursorTip {
        QPoint At;
        QString Text;
        SweepShape Shape;
        int PW = 0;
        int PH = 0;
    };
    std::optional<CursorTip> cursorTip_;

    // Right edge of the rightmost control plus the left margin; wider while the Values box is.
    int controlsWidth_ = 0;
    // The read-out grid as the window description has it: each column's header and three
    // cells with its right edge and width; the widths of the controls and of the Values
    // box, and the left edges of the boxes to its right.
    struct ReadoutColumn {
        std::array<QLabel*, 4> Labels; // header, lowest SWR, marker 1, marker 2
        int Right = 0;
        int Width = 0;
    };
    std::vector<ReadoutColumn> readoutColumns_;
    int describedControlsWidth_ = 0;
    int describedValuesWidth_ = 0;
    std::array<int, 3> describedBoxesRightX_{};
    bool shown_ = false;
    std::string workerPort_; // the port of the running worker, for ShownPort
    // Where the samples in VNAList came from: the sweep's settings and port, and the
    // calibration they were computed with (a hand-over may already hold the next sweep).
    SweepSettings listSettings_;
    std::string listPort_;
    Extended listRLCalDb_ = 0;
    bool errorBoxOpen_ = false; // a settings error box is up: focus changes it causes commit nothing
    int entryRejections_ = 0;   // entries refused so far

    // Setups: the settings and view a setup sets, applied as typed; committing the entry that
    // has the focus before a save; the markers of a setup until the first sweep requested
    // after it was opened arrives.
    void ApplySetup(const kestrin::SweepSetup& setup);
    bool CommitFocusedEntry();
    std::optional<Extended> setupMarker1_, setupMarker2_; // MHz, 0 = none; unset: not waiting
    // Which opening of a setup the requested settings, the worker's copy of them and the sweep
    // held come from; written under SweepLock.
    int setupGeneration_ = 0;
    int copiedSetupGeneration_ = 0;
    int shownSetupGeneration_ = 0;
    int heldSetupGeneration_ = 0; // of the sweep the last redraw took
    QString setupPath_;           // the setup opened or saved last, which the dialogs offer

    // Averaging, the bandwidth overlay and the picture (frmmain/TMainFormAntenna.cpp).
    void CreateAntennaMenus();
    // The list of the sweep taken by a redraw: the mean while averaging is on.
    void RebuildDisplayedSweep(MarkerState& marker1, MarkerState& marker2);
    // The SWR bandwidth and the count averaged, on ShownPicture.
    void DrawAntennaOverlay();
    void ShowTitledError(const QString& title, const QString& message);
    uint64_t shownSweepNumber_ = 0;    // sweeps handed over; under SweepLock
    uint64_t heldSweepNumber_ = 0;     // of the sweep the last redraw took
    uint64_t averagedSweepNumber_ = 0; // the last sweep added to Average
    QString referencePath_;            // the file opened last as a reference
    QString fileFolder_;          // where the last file was saved or opened; empty before the first
};
