#pragma once
#include <QColor>
#include <QImage>

#include <functional>
#include <memory>

#include "measure/VNAList.h"
#include "plot/PlotDraw.h"

inline bool Is(const QImage& img, int x, int y, const QColor& c) { return img.pixelColor(x, y) == c; }

inline PlotGeometry Geometry(int w = 1168, int h = 550) { return PlotGeometry{w, h}; }

inline QImage AxesPicture(const PlotGeometry& g, const PlotPalette& p = PlotPalette())
{
    QImage img;
    DrawAxes(img, g, p);
    return img;
}

// Bounding box of the pixels inside r that differ from the background bg.
inline QRect InkBox(const QImage& img, const QRect& r, const QColor& bg)
{
    QRect box;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (!Is(img, x, y, bg))
                box |= QRect(x, y, 1, 1);
    return box;
}

// A list of n entries, each filled by fill(entry, index).
inline std::unique_ptr<TVNAList> MakeList(int n, const std::function<void(TVNAEntry&, int)>& fill)
{
    auto list = std::make_unique<TVNAList>();
    for (int i = 0; i < n; ++i)
        fill(*list->NewEntry(), i);
    return list;
}
