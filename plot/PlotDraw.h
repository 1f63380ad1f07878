#pragma once
// Drawing of the plot picture: axes, traces and the marker overlay, all into a
// QImage of the panel's size, and the picture files. Widget-free.
// Every line runs from A up to B with B's own pixel left out; pens are one pixel
// wide; dotted and dashed lines and text cells show the background colour.
#include <QColor>
#include <QImage>
#include <QString>

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

// Makes img a 24-bit (Format_RGB888) picture of g.W x g.H, clears it and draws
// frame, the four scales, labels and grid.
void DrawAxes(QImage& img, const PlotGeometry& g, const PlotPalette& p);

// x of sample i of n: ML + 1 + Round((PW / n) * i), the quotient first in extended precision.
int TraceX(const PlotGeometry& g, int n, int i);

// Draws the chosen traces of list (n = list.Count()) as open polylines, in the
// order SWR, return loss, phase, Z, Xs, Rs; values beyond the far end of a scale
// lie on its end line, values before the near end are not limited.
void DrawTraces(QImage& img, const PlotGeometry& g, const PlotPalette& p, const TVNAList& list, TraceChoice choice);

// Sample index under a click at x: Round((x - ML) / (PW / n)) limited to n - 1;
// -1 when x < ML or x > ML + PW (the marker is cleared).
int MarkerIndexFromX(const PlotGeometry& g, int n, int x);

// Dashed marker lines with "m1"/"m2" and the dashed lowest-SWR line, at
// x = ML + Round((PW / n) * index); an index outside 1..n-1 draws nothing.
// Meant for the copy that is shown, never for the plot picture itself.
void DrawOverlay(QImage& img, const PlotGeometry& g, const PlotPalette& p, int n,
                 int marker1Index, int marker2Index, int minSwrIndex);

// Writes through a temporary file and a rename: a failure never harms an existing
// file. On failure returns false and sets error to the full path and the system's reason.
bool SaveBmpFile(const QImage& img, const QString& path, QString& error);
bool SaveTextFile(const QByteArray& bytes, const QString& path, QString& error);
