#pragma once
// Drawing of the plot picture: axes, traces and the marker overlay, all into a
// QImage of the panel's size, and the picture files. Widget-free.
// Every line runs from A up to B with B's own pixel left out; pens are one pixel
// wide; dotted and dashed lines and text cells show the background colour.
// A picture carries a device pixel ratio (QImage::devicePixelRatio, set by DrawAxes):
// it then holds ceil(W x ratio) x ceil(H x ratio) device pixels, while every place,
// row, tick, label box and trace point stays in logical pixels. Its lines are
// round(ratio) device pixels wide on whole device pixels, unblended, with dots and
// dashes scaled; traces step by one device pixel; text is drawn at the device's
// resolution. At ratio 1 the picture is the plain one.
#include <QColor>
#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "measure/VNAList.h"

struct PlotGeometry {
    int W = 0;  // picture width
    int H = 0;  // picture height
    int ML = 90;
    int MR = 90;
    int MT = 40;
    int MB = 40;
    int PW() const { return W - ML - MR; }
    int PH() const { return H - MT - MB; }
};

struct PlotPalette {
    QColor Background{0, 0, 56};
    QColor Swr{224, 48, 48};
    QColor Rl{96, 96, 255};
    QColor Phase{225, 0, 203};
    QColor Z{202, 202, 0};
    QColor Xs{192, 192, 192};
    QColor Rs{255, 128, 0};
};

struct TraceChoice {
    bool Swr = true;
    bool Rl = false;
    bool Phase = true;
    bool Z = true;
    bool Xs = true;
    bool Rs = false;
};

// Makes img a 24-bit (Format_RGB888) picture of g.W x g.H logical pixels at the device
// pixel ratio ratio, which the picture then carries, clears it and draws frame, the four
// scales, labels and grid. The functions below draw at the ratio the picture carries.
void DrawAxes(QImage& img, const PlotGeometry& g, const PlotPalette& p, qreal ratio = 1);

// x of sample i of n: ML + 1 + Round((PW / n) * i), the quotient first in extended precision.
int TraceX(const PlotGeometry& g, int n, int i);

// Draws the chosen traces of list (n = list.Count()) as open polylines, in the
// order SWR, return loss, phase, Z, Xs, Rs; values beyond the far end of a scale
// lie on its end line, values before the near end are not limited.
void DrawTraces(QImage& img, const PlotGeometry& g, const PlotPalette& p, const TVNAList& list, TraceChoice choice);

// The frequency axis of a sweep: sample i of Steps lies at the trace point's x, so
// StartKHz lies at ML + 1 and EndKHz at ML + 1 + PW.
struct FrequencyAxis {
    int32_t StartKHz = 0;
    int32_t EndKHz = 0;
    int32_t Steps = 0; // 1 to 4000; any other count has no axis
};

// A frequency as the exact fraction Num / Den kHz.
struct KHzFraction {
    int64_t Num = 0;
    int64_t Den = 1; // 1 to 10000
};

// x of frequency f on the axis: ML + 1 + Round((PW / N) x p), where p = (f - S) x N / (E - S)
// is f's position in samples, worked out exactly; on a sample's own frequency that is exactly
// the sample's TraceX. Nothing when f lies outside the sweep (S to E, both included), or when
// the axis has no span or no valid sample count.
std::optional<int> FrequencyX(const PlotGeometry& g, const FrequencyAxis& axis, KHzFraction f);

// A step of the frequency scale: Mantissa (1, 2 or 5) x 10^Exponent MHz.
struct ScaleStep {
    int Mantissa = 1;
    int Exponent = 0;
    bool operator==(const ScaleStep&) const = default;
};

// The smallest step of 1, 2 or 5 x 10^k MHz (down to 1 Hz) whose neighbouring ticks lie at
// least 80 pixels apart when spanKHz (> 0) are spread over pw (> 0) pixels.
ScaleStep NiceStep(int64_t spanKHz, int pw);

struct ScaleTick {
    int X = 0;
    QString Label; // MHz with as many decimals as the step needs: "7.05" on a 50 kHz step
    bool operator==(const ScaleTick&) const = default;
};

// The ticks of the frequency scale: one at every whole multiple of the step that lies within
// the sweep (the first is the start rounded up to a multiple, the last the end rounded down),
// at FrequencyX. Neighbours are never nearer than 80 pixels: should rounding bring two closer,
// the next larger step is taken. Empty when the axis has no span or the plot no width.
std::vector<ScaleTick> FrequencyTicks(const PlotGeometry& g, const FrequencyAxis& axis);

// The frequency scale in the bottom margin, in the frame's colour: ticks 4 pixels long below
// the bottom frame line, and labels in the scales' font centred under them with their top at
// H - MB + 18. Touches no pixel of the plot area.
void DrawFrequencyScale(QImage& img, const PlotGeometry& g, const PlotPalette& p, const FrequencyAxis& axis);

// Draws the chosen traces of a kept reference sweep, solid, each in its live trace's colour
// averaged with the background channel by channel and rounded down (SWR 224,48,48 on 0,0,56
// gives 112,24,52), with the live traces' scales and clipping: each sample j of reference (made over referenceAxis) at
// the x of its own frequency on axis; samples outside axis's range are left out.
void DrawReferenceTraces(QImage& img, const PlotGeometry& g, const PlotPalette& p, const TVNAList& reference,
                         const FrequencyAxis& referenceAxis, const FrequencyAxis& axis, TraceChoice choice);

// Sample index under a click at x: Round((x - ML) / (PW / n)) limited to n - 1;
// -1 when x < ML or x > ML + PW (the marker is cleared).
int MarkerIndexFromX(const PlotGeometry& g, int n, int x);

// Dashed marker lines with "m1"/"m2" and the dashed lowest-SWR line, at
// x = ML + Round((PW / n) * index); an index outside 0..n-1 draws nothing. Index 0
// stands on the left frame line, which shows in the gaps of its dashes.
// Meant for the copy that is shown, never for the plot picture itself. Draws the
// same pixels on a 24-bit picture and on a Format_RGB32 one, at the device pixel ratio
// img carries; everything the overlay shows is drawn here.
void DrawOverlay(QImage& img, const PlotGeometry& g, const PlotPalette& p, int n,
                 int marker1Index, int marker2Index, int minSwrIndex);

// The picture a paint of the panel copies: plot in the pixel format of a window's
// backing store (Format_RGB32) and at plot's device pixel ratio, so that the copy is a
// plain one, with DrawOverlay on top when overlay is set. shown keeps its memory from one
// call to the next.
void ComposeShown(QImage& shown, const QImage& plot, const PlotGeometry& g, const PlotPalette& p, bool overlay,
                  int n, int marker1Index, int marker2Index, int minSwrIndex);

// Saves the picture, pixel for pixel, as an uncompressed 24-bit BMP file of 96 dots per inch
// through SaveFileAtomically: a failure
// never harms an existing file. On failure returns false and sets error to the full path
// and the reason.
bool SaveBmpFile(const QImage& img, const QString& path, QString& error);

// x of a frequency in kHz on the axis, for points at any frequency (a reference read from a
// file): a frequency within a millionth of a sample of a sample's own lies on that sample's
// TraceX, so a file holding the frequencies of a sweep is drawn where that sweep would be;
// any other at ML + 1 + Round((PW / N) x p), as FrequencyX. Nothing outside the sweep (S to E,
// both included, within the same millionth), or when the axis has no span or sample count.
std::optional<int> FrequencyXAt(const PlotGeometry& g, const FrequencyAxis& axis, long double kHz);

// DrawReferenceTraces for a reference whose samples lie at any frequencies, each entry at the
// x of its own FreqMHz (FrequencyXAt); entries outside axis's range are left out.
void DrawReferenceTracesAt(QImage& img, const PlotGeometry& g, const PlotPalette& p, const TVNAList& reference,
                           const FrequencyAxis& axis, TraceChoice choice);

// The SWR bandwidth in the overlay, through a QPainter in the picture's logical coordinates:
// when found, a solid line at the limit's height on the SWR scale from the x of lowMHz to
// that of highMHz with short upright ends, and in any case the text at the top left of the
// plot area, on an opaque cell in the background colour.
void DrawSwrBandwidth(QImage& img, const PlotGeometry& g, const PlotPalette& p, const FrequencyAxis& axis,
                      bool found, long double lowMHz, long double highMHz, long double limit, const QString& text);

// The picture File > Save Picture writes: shown (the plot as on screen, overlay included, at
// its own device pixel ratio) with a band below it holding the lines of text in the scales'
// font. The lines marked Table form one table: the first column left-aligned, the others
// right-aligned, each as wide as its widest cell plus a gap; any other line is one text at the
// left. The band's height is the lines times the font's line spacing plus a margin above and below.
struct PictureLine {
    std::vector<QString> Cells;
    bool Table = false;
    int BoldFrom = -1; // cells from this index on in bold type; -1: none
};
QImage PictureWithText(const QImage& shown, const PlotPalette& p, const std::vector<PictureLine>& lines);

// Saves the picture as a PNG file, as SaveBmpFile saves a BMP (the device pixel ratio is
// left out: the file holds the picture's pixels).
bool SavePngFile(const QImage& img, const QString& path, QString& error);

// A line of text in the overlay at the top right of the plot area, right-aligned, in the
// frame's colour on an opaque cell in the background colour (the count of sweeps averaged).
void DrawCornerText(QImage& img, const PlotGeometry& g, const PlotPalette& p, const QString& text);
