#pragma once
#include <QColor>
#include <QImage>

#include <functional>
#include <memory>

#include "measure/VNAList.h"
#include "plot/PlotDraw.h"

inline QColor PixelAt(const QImage& img, int x, int y)
{
    const uchar* p = img.constScanLine(y) + 3 * x;
    return QColor(p[0], p[1], p[2]);
}

inline bool Is(const QImage& img, int x, int y, const QColor& c) { return PixelAt(img, x, y) == c; }

inline PlotGeometry Geometry(int w = 1168, int h = 550)
{
    PlotGeometry g;
    g.W = w;
    g.H = h;
    return g;
}

inline QImage AxesPicture(const PlotGeometry& g, const PlotPalette& p = PlotPalette())
{
    QImage img;
    DrawAxes(img, g, p);
    return img;
}

// A list of n entries, each filled by fill(entry, index).
inline std::unique_ptr<TVNAList> MakeList(int n, const std::function<void(TVNAEntry&, int)>& fill)
{
    auto list = std::make_unique<TVNAList>();
    for (int i = 0; i < n; ++i)
        fill(*list->NewEntry(), i);
    return list;
}
