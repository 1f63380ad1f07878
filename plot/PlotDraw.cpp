#include "plot/PlotDraw.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"

namespace {

// Colours that are not part of the palette.
const QColor kFrameColor(0, 128, 0);
const QColor kSwrGridColor(128, 0, 0);
const QColor kPhaseGridColor(136, 0, 122);
const QColor kZGridColor(125, 122, 0);
const QColor kMarkerColor(0, 0, 255);
const QColor kMinSwrColor(0, 255, 0);

// Pixel sizes of the label fonts: 9 and 10 points at 96 dots per inch.
constexpr int kAxisFontPx = 12;
constexpr int kMarkerFontPx = 13;

// Coordinates far outside any picture are limited to this, so that the line
// arithmetic stays inside 64 bits; the visible part of a line does not change
// for any value a sweep can produce.
constexpr long long kCoordLimit = 1LL << 28;

enum class PenStyle { Solid, Dot, Dash };

struct Rgb {
    uchar r, g, b;
};

Rgb ToRgb(const QColor& c)
{
    return Rgb{static_cast<uchar>(c.red()), static_cast<uchar>(c.green()), static_cast<uchar>(c.blue())};
}

// Direct pixel access to a 24-bit (Format_RGB888) or 32-bit (Format_RGB32) picture.
class Surface {
public:
    explicit Surface(QImage& img)
        : bits_(img.bits()), bpl_(img.bytesPerLine()), w_(img.width()), h_(img.height()),
          wide_(img.format() == QImage::Format_RGB32)
    {
    }
    int Width() const { return w_; }
    int Height() const { return h_; }
    // For a point known to lie inside the picture.
    void PutInside(int x, int y, Rgb c)
    {
        uchar* row = bits_ + static_cast<qsizetype>(y) * bpl_;
        if (wide_) {
            reinterpret_cast<uint32_t*>(row)[x] = 0xFF000000u | (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
            return;
        }
        uchar* p = row + 3 * static_cast<qsizetype>(x);
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
    }
    void Fill(Rgb c)
    {
        if (w_ <= 0 || h_ <= 0)
            return;
        for (int x = 0; x < w_; ++x)
            PutInside(x, 0, c);
        const size_t rowBytes = static_cast<size_t>((wide_ ? 4 : 3) * w_);
        for (int y = 1; y < h_; ++y)
            std::memcpy(bits_ + static_cast<qsizetype>(y) * bpl_, bits_, rowBytes);
    }

private:
    uchar* bits_;
    qsizetype bpl_;
    int w_;
    int h_;
    bool wide_;
};

// Logical pixels of the plot to the device pixels of a picture at a device pixel ratio. A
// line through logical pixel x covers the device pixels Pos(x) to Pos(x) + LineWidth() - 1
// across it: whole device pixels, round(ratio) of them (at least one), the same for every
// line, centred on the logical pixel's place. At ratio 1 this is the identity.
class DeviceMap {
public:
    explicit DeviceMap(qreal ratio)
        : r_(ratio > 0 ? ratio : 1.0), w_(std::max(1, static_cast<int>(std::floor(r_ + 0.5)))),
          offset_((r_ - w_) / 2 + 0.5)
    {
    }
    qreal Ratio() const { return r_; }
    int LineWidth() const { return w_; }
    long long Pos(long long x) const { return static_cast<long long>(std::floor(static_cast<double>(x) * r_ + offset_)); }
    // The logical step that device step k of a line lies in: dots and dashes keep their
    // pattern, scaled.
    long long LogicalStep(long long k) const
    {
        return r_ == 1.0 ? k : static_cast<long long>(std::floor(static_cast<double>(k) / r_));
    }
    // A font's pixel size on the picture.
    int FontPx(int px) const { return std::max(1, static_cast<int>(std::floor(px * r_ + 0.5))); }
    // Device pixels of a picture side of length logical pixels: the whole side covered.
    int Length(int logical) const { return static_cast<int>(std::ceil(logical * r_ - 1e-6)); }

private:
    qreal r_;
    int w_;
    double offset_;
};

// Holds a picture at device pixel ratio 1 while it is drawn on in device pixels, and gives
// it its ratio back afterwards. Declared before any painter on the picture.
class DeviceDrawing {
public:
    explicit DeviceDrawing(QImage& img) : img_(img), map_(img.devicePixelRatio()) { img_.setDevicePixelRatio(1); }
    ~DeviceDrawing() { img_.setDevicePixelRatio(map_.Ratio()); }
    DeviceDrawing(const DeviceDrawing&) = delete;
    DeviceDrawing& operator=(const DeviceDrawing&) = delete;
    const DeviceMap& Map() const { return map_; }

private:
    QImage& img_;
    DeviceMap map_;
};

// A one-pixel pen: colour, style, and the colour the gaps of a dotted or dashed line show
// (or, with paintGaps false, nothing: the gaps leave the pixels under them).
struct Pen {
    Rgb color;
    PenStyle style = PenStyle::Solid;
    Rgb background{0, 0, 0};
    bool paintGaps = true;
};

bool PatternOn(PenStyle style, long long k)
{
    switch (style) {
    case PenStyle::Dot:
        return k % 6 < 3;  // 3 on, 3 off
    case PenStyle::Dash:
        return k % 24 < 18;  // 18 on, 6 off
    case PenStyle::Solid:
        break;
    }
    return true;
}

long long FloorDiv(long long a, long long b)
{
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

long long Limit(long long v)
{
    return std::clamp(v, -kCoordLimit, kCoordLimit);
}

// Draws from (x0, y0) towards (x1, y1); the end pixel itself is left out, so a
// polyline touches each joint once. Bresenham along the major axis; ties go the
// way a Windows display driver takes them (octants 3, 5, 6 and 8 carry a bias),
// so that the pixels do not depend on how the steps are counted. The pattern of
// a dotted or dashed pen starts at the first pixel; its gaps get the background.
// On a picture at a device pixel ratio (the traces), the end points are the device places of
// the logical ones, the steps are device pixels, and the line is map.LineWidth() pixels thick:
// each step covers that many pixels across the major axis, downwards or rightwards.
void DrawLine(Surface& s, const DeviceMap& map, long long x0, long long y0, long long x1, long long y1, const Pen& pen)
{
    x0 = map.Pos(Limit(x0));
    y0 = map.Pos(Limit(y0));
    x1 = map.Pos(Limit(x1));
    y1 = map.Pos(Limit(y1));
    const long long dx = x1 - x0;
    const long long dy = y1 - y0;
    const long long adx = std::llabs(dx);
    const long long ady = std::llabs(dy);
    if (adx == 0 && ady == 0)
        return;

    int octant;
    if (dy > 0) {
        if (dx > 0)
            octant = dx > dy ? 1 : 2;
        else
            octant = -dx > dy ? 4 : 3;
    } else {
        if (dx < 0)
            octant = -dx > -dy ? 5 : 6;
        else
            octant = dx > -dy ? 8 : 7;
    }
    const long long bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8) ? 1 : 0;

    const bool xMajor = adx > ady;
    const long long major = xMajor ? adx : ady;
    const long long minor = xMajor ? ady : adx;
    const long long majorStart = xMajor ? x0 : y0;
    const long long minorStart = xMajor ? y0 : x0;
    const long long majorStep = (xMajor ? dx : dy) > 0 ? 1 : -1;
    const long long minorStep = (xMajor ? dy : dx) >= 0 ? 1 : -1;
    const long long majorDim = xMajor ? s.Width() : s.Height();

    // Only the steps whose major coordinate lies inside the picture are walked.
    long long kFirst, kEnd;
    if (majorStep > 0) {
        kFirst = std::max(0LL, -majorStart);
        kEnd = std::min(major, majorDim - majorStart);
    } else {
        kFirst = std::max(0LL, majorStart - majorDim + 1);
        kEnd = std::min(major, majorStart + 1);
    }
    if (kFirst >= kEnd)
        return;

    // Minor steps taken before step k: ceil((2 k minor - major + bias) / (2 major)),
    // which is 0 for the first step.
    const long long twoMajor = 2 * major;
    const long long twoMinor = 2 * minor;
    long long m = kFirst == 0 ? 0 : -FloorDiv(-(kFirst * twoMinor - major + bias), twoMajor);
    // Decision for the step after k: (2 (k + 1) minor - major + bias) - 2 major m > 0.
    long long d = (kFirst + 1) * twoMinor - major + bias - twoMajor * m;

    // The major coordinate of every walked step lies inside the picture; the minor
    // one is checked per pixel.
    const long long minorDim = xMajor ? s.Height() : s.Width();
    const int width = map.LineWidth();
    auto walk = [&](auto colorOf) {
        for (long long k = kFirst; k < kEnd; ++k) {
            const long long b = minorStart + minorStep * m;
            const Rgb* c = b + width > 0 && b < minorDim ? colorOf(k) : nullptr;
            if (c != nullptr) {
                const long long a = majorStart + majorStep * k;
                const long long bEnd = std::min(b + width, minorDim);
                for (long long across = std::max(b, 0LL); across < bEnd; ++across) {
                    if (xMajor)
                        s.PutInside(static_cast<int>(a), static_cast<int>(across), *c);
                    else
                        s.PutInside(static_cast<int>(across), static_cast<int>(a), *c);
                }
            }
            if (d > 0) {
                ++m;
                d -= twoMajor;
            }
            d += twoMinor;
        }
    };
    const Rgb* gap = pen.paintGaps ? &pen.background : nullptr;
    if (pen.style == PenStyle::Solid)
        walk([&](long long) { return &pen.color; });
    else
        walk([&](long long k) { return PatternOn(pen.style, map.LogicalStep(k)) ? &pen.color : gap; });
}

// A horizontal or vertical line of the scales or the overlay, from (x0, y0) towards (x1, y1)
// with the end pixel left out. Each logical pixel on it covers the device pixels from its own
// place to the next pixel's place along the line, the last one at least LineWidth of them, and
// LineWidth across: the union of the logical pixels' device squares, so lines meet at corners
// as they do at ratio 1. Dots and dashes count logical pixels from the start; their gaps get
// the background (or nothing, with paintGaps false). At ratio 1 these are DrawLine's pixels.
void DrawStraightLine(Surface& s, const DeviceMap& map, int x0, int y0, int x1, int y1, const Pen& pen)
{
    const bool horizontal = y0 == y1;
    if (!horizontal && x0 != x1)
        return;
    const int a0 = horizontal ? x0 : y0;
    const int a1 = horizontal ? x1 : y1;
    const int count = std::abs(a1 - a0);
    const int step = a1 > a0 ? 1 : -1;
    const int highest = step > 0 ? a1 - 1 : a0;
    const long long alongDim = horizontal ? s.Width() : s.Height();
    const long long acrossDim = horizontal ? s.Height() : s.Width();
    const long long across = map.Pos(horizontal ? y0 : x0);
    const long long acrossBegin = std::max(across, 0LL);
    const long long acrossEnd = std::min(across + map.LineWidth(), acrossDim);
    if (acrossBegin >= acrossEnd)
        return;
    for (int j = 0; j < count; ++j) {
        const int a = a0 + step * j;
        const bool on = PatternOn(pen.style, j);
        if (!on && !pen.paintGaps)
            continue;
        const Rgb& c = on ? pen.color : pen.background;
        const long long next = map.Pos(static_cast<long long>(a) + 1);
        const long long from = std::max(map.Pos(a), 0LL);
        const long long to = std::min(a == highest ? std::max(next, map.Pos(a) + map.LineWidth()) : next, alongDim);
        for (long long along = from; along < to; ++along)
            for (long long t = acrossBegin; t < acrossEnd; ++t) {
                if (horizontal)
                    s.PutInside(static_cast<int>(along), static_cast<int>(t), c);
                else
                    s.PutInside(static_cast<int>(t), static_cast<int>(along), c);
            }
    }
}

QFont PixelFont(int px, bool bold)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(px);
    f.setBold(bold);
    // Light hinting, the desktop's default, named: the font system would turn hinting off
    // while any screen is scaled, and the picture at ratio 1 would change with the screens.
    f.setHintingPreference(QFont::PreferVerticalHinting);
    return f;
}

// Text on a picture that is drawn in device pixels, placed in logical pixels: the fonts'
// logical pixel sizes at the device's resolution, each text on an opaque cell in the
// background colour.
class PlotText {
public:
    PlotText(QImage& img, const DeviceMap& map) : painter_(&img), map_(map) {}

    void SetFont(int px, bool bold)
    {
        logicalHeight_ = QFontMetrics(PixelFont(px, bold)).height();
        painter_.setFont(PixelFont(map_.FontPx(px), bold));
    }
    // Top-left corner at logical (x, y).
    void Out(int x, int y, const QString& text, const QColor& color, const QColor& background)
    {
        OutAt(map_.Pos(x), map_.Pos(y), text, color, background);
    }
    // Right edge at logical x, top at logical y, measured at the device's resolution.
    void Right(int x, int y, const QString& text, const QColor& color, const QColor& background)
    {
        const QFontMetrics fm(painter_.font());
        OutAt(map_.Pos(x) - fm.horizontalAdvance(text), map_.Pos(y), text, color, background);
    }
    // Centred under a line at logical x, top at logical y.
    void Centred(int x, int y, const QString& text, const QColor& color, const QColor& background)
    {
        const QFontMetrics fm(painter_.font());
        const long long centre = map_.Pos(x) + map_.LineWidth() / 2;
        OutAt(centre - fm.horizontalAdvance(text) / 2, map_.Pos(y), text, color, background);
    }
    // A tick label: one line, right-aligned in the box [left, right) around height y,
    // vertically centred and clipped to the box; the box is as high as the text in logical
    // pixels.
    void InBox(int left, int right, int y, const QString& text, const QColor& color, const QColor& background)
    {
        const int th = logicalHeight_;
        const long long boxRight = map_.Pos(right);
        const QRect box(QPoint(int(map_.Pos(left)), int(map_.Pos(y - th / 2))),
                        QPoint(int(boxRight - 1), int(map_.Pos(y + th / 2) - 1)));
        const QFontMetrics fm(painter_.font());
        const int top = box.top() + (box.height() - fm.height()) / 2;
        painter_.save();
        painter_.setClipRect(box);
        OutAt(boxRight - fm.horizontalAdvance(text), top, text, color, background);
        painter_.restore();
    }

private:
    void OutAt(long long x, long long y, const QString& text, const QColor& color, const QColor& background)
    {
        const QFontMetrics fm(painter_.font());
        painter_.fillRect(QRect(int(x), int(y), fm.horizontalAdvance(text), fm.height()), background);
        painter_.setPen(color);
        painter_.drawText(QPoint(int(x), int(y) + fm.ascent()), text);
    }

    QPainter painter_;
    const DeviceMap& map_;
    int logicalHeight_ = 0;
};

long long RoundToLL(long double v)
{
    return llrintl(v);
}

// Offset of a value on a trace's scale, limited to ph at the far end only.
// A non-finite value lies at the far end as well.
long long TraceOffset(long double scaled, int ph)
{
    if (!(scaled <= static_cast<long double>(ph)))
        return ph;
    if (scaled < -static_cast<long double>(kCoordLimit))
        return -kCoordLimit;
    return RoundToLL(scaled);
}

QImage& EnsureRgb888(QImage& img)
{
    if (img.format() != QImage::Format_RGB888)
        img = img.convertToFormat(QImage::Format_RGB888);
    return img;
}

}  // namespace

void DrawAxes(QImage& img, const PlotGeometry& g, const PlotPalette& p, qreal ratio)
{
    const DeviceMap size(ratio);
    const QSize device(size.Length(g.W), size.Length(g.H));
    if (g.W <= 0 || g.H <= 0) {
        img = QImage();
        return;
    }
    if (img.size() != device || img.format() != QImage::Format_RGB888)
        img = QImage(device, QImage::Format_RGB888);
    img.setDevicePixelRatio(size.Ratio());
    if (img.isNull())
        return;

    const int W = g.W, H = g.H, ML = g.ML, MR = g.MR, MT = g.MT, MB = g.MB;
    const int PH = g.PH();
    const Rgb bg = ToRgb(p.Background);

    const DeviceDrawing drawing(img);
    const DeviceMap& map = drawing.Map();
    Surface s(img);
    s.Fill(bg);

    auto solid = [&](const QColor& c) { return Pen{ToRgb(c), PenStyle::Solid, bg}; };
    auto dotted = [&](const QColor& c) { return Pen{ToRgb(c), PenStyle::Dot, bg}; };

    PlotText text(img, map);
    text.SetFont(kAxisFontPx, false);
    auto title = [&](int x, int y, const QString& caption, const QColor& color) {
        text.SetFont(kAxisFontPx, true);
        text.Out(x, y, caption, color, p.Background);
        text.SetFont(kAxisFontPx, false);
    };
    auto grid = [&](int y, const QColor& color) { DrawStraightLine(s, map, ML + 2, y, W - MR, y, dotted(color)); };

    // SWR: logarithmic, 1 on the bottom line, 10 on the top line of the plot area.
    title(ML - 30, MT - 25, QStringLiteral("SWR"), p.Swr);
    struct SwrRow {
        const char* label;
        long double value;
        bool grid;
    };
    static const SwrRow swrRows[] = {
        {"1", 1.0L, false}, {"1.5", 1.5L, true}, {"2", 2.0L, true}, {"2.5", 2.5L, false},
        {"3", 3.0L, true},  {"4", 4.0L, false},  {"5", 5.0L, false}, {"6", 6.0L, false},
        {"7", 7.0L, false}, {"8", 8.0L, false},  {"9", 9.0L, false}, {"10", 10.0L, false},
    };
    for (const SwrRow& row : swrRows) {
        const int y = H - MB - static_cast<int>(RoundToLL(static_cast<long double>(H - MB - MT) * log10l(row.value)));
        DrawStraightLine(s, map, ML - 10, y, ML, y, solid(p.Swr));
        if (row.grid)
            grid(y, kSwrGridColor);
        text.InBox(ML - 40, ML - 15, y, QString::fromLatin1(row.label), p.Swr, p.Background);
    }

    // Return loss: 0 dB at the top, 30 dB at the bottom.
    title(ML - 75, MT - 25, QStringLiteral("R.L."), p.Rl);
    DrawStraightLine(s, map, ML - 45, MT, ML - 45, H - MB, solid(p.Rl));
    const int rlY[] = {MT, MT + PH / 3, MT + (PH / 3) * 2, H - MB};
    const char* rlLabel[] = {"0 db", "10 db", "20 db", "30 db"};
    for (int i = 0; i < 4; ++i) {
        DrawStraightLine(s, map, ML - 45, rlY[i], ML - 35, rlY[i], solid(p.Rl));
        text.InBox(0, ML - 50, rlY[i], QString::fromLatin1(rlLabel[i]), p.Rl, p.Background);
    }

    // Phase: 0 degrees at the top, 180 at the bottom.
    title(W - MR + 5, MT - 25, QStringLiteral("Phase"), p.Phase);
    for (int i = 0; i <= 4; ++i) {
        const int y = i == 4 ? H - MB : MT + (PH / 4) * i;
        DrawStraightLine(s, map, W - MR + 1, y, W - MR + 11, y, solid(p.Phase));
        if (i < 4)
            grid(y, kPhaseGridColor);
        text.InBox(W - MR + 10, W - MR + 40, y, QString::number(45 * i) + QChar(0x00B0), p.Phase, p.Background);
    }

    // Z, Xs and Rs in ohms: 0 at the top, 400 at the bottom.
    title(W - MR + 50, MT - 25, QStringLiteral("Z-X-R"), p.Z);
    DrawStraightLine(s, map, W - MR + 60, MT, W - MR + 60, H - MB, solid(p.Z));
    for (int k = 0; k <= 8; ++k) {
        const int y = k == 8 ? H - MB : MT + k * (PH / 8);
        DrawStraightLine(s, map, W - MR + 50, y, W - MR + 61, y, solid(p.Z));
        if (k == 1)
            grid(y, kZGridColor);
        text.InBox(W - MR + 60, W - MR + 85, y, QString::number(50 * k), p.Z, p.Background);
    }

    // Frame, last: bottom and both sides, no top line. Nothing above overlaps it at ratio 1;
    // at a fractional ratio the ticks and grid rows beside it would otherwise take part of
    // its width where their device pixels meet.
    const Pen frame = solid(kFrameColor);
    DrawStraightLine(s, map, ML, H - MB, W - MR, H - MB, frame);
    DrawStraightLine(s, map, ML, H - MB, ML, MT - 5, frame);
    DrawStraightLine(s, map, W - MR, H - MB, W - MR, MT - 5, frame);
}

int TraceX(const PlotGeometry& g, int n, int i)
{
    if (n <= 0)
        return g.ML + 1;
    const long double step = static_cast<long double>(g.PW()) / static_cast<long double>(n);
    return g.ML + 1 + static_cast<int>(RoundToLL(step * static_cast<long double>(i)));
}

namespace {

// A sample whose x is this is left out: the polyline joins the samples on either side.
constexpr int kLeftOut = INT_MIN;

// The colour a reference trace is drawn in: its live trace's colour averaged with the
// background, channel by channel, rounded down.
Rgb Dimmed(const QColor& trace, const QColor& background)
{
    return Rgb{static_cast<uchar>((trace.red() + background.red()) / 2),
               static_cast<uchar>((trace.green() + background.green()) / 2),
               static_cast<uchar>((trace.blue() + background.blue()) / 2)};
}

// Draws the chosen traces of list, sample i at xs[i], as open polylines in the order
// SWR, return loss, phase, Z, Xs, Rs; each in its palette colour, or dimmed towards the
// background for a reference.
void DrawTraceLines(QImage& img, const PlotGeometry& g, const PlotPalette& p, const TVNAList& list,
                    TraceChoice choice, const std::vector<int>& xs, bool dimmed)
{
    const int n = list.Count();
    if (n <= 0 || img.isNull())
        return;
    EnsureRgb888(img);
    const DeviceDrawing drawing(img);
    const DeviceMap& map = drawing.Map();
    Surface s(img);

    const int H = g.H, MT = g.MT, MB = g.MB;
    const int PH = g.PH();
    const long double ph = static_cast<long double>(PH);
    const Rgb bg = ToRgb(p.Background);

    // SWR runs up from the bottom on a logarithmic scale; every other trace runs down from
    // the top, its value times the pixels per unit of its scale.
    struct Trace {
        bool on;
        QColor color;
        Extended TVNAEntry::*value;
        long double pixelsPerUnit;
    };
    const long double rlScale = ph / 30.0L;
    const long double phaseScale = ph / 180.0L;
    const long double ohmScale = ph / 400.0L;
    const Trace traces[] = {
        {choice.Swr, p.Swr, &TVNAEntry::SWR, ph},
        {choice.Rl, p.Rl, &TVNAEntry::RLdB, rlScale},
        {choice.Phase, p.Phase, &TVNAEntry::PhaseDeg, phaseScale},
        {choice.Z, p.Z, &TVNAEntry::Z, ohmScale},
        {choice.Xs, p.Xs, &TVNAEntry::Xs, ohmScale},
        {choice.Rs, p.Rs, &TVNAEntry::Rs, ohmScale},
    };

    std::vector<const TVNAEntry*> entries(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        entries[static_cast<size_t>(i)] = list.GetEntry(i);

    for (const Trace& t : traces) {
        if (!t.on)
            continue;
        const Pen pen{dimmed ? Dimmed(t.color, p.Background) : ToRgb(t.color), PenStyle::Solid, bg};
        const bool swr = t.value == &TVNAEntry::SWR;
        bool started = false;
        long long prevX = 0, prevY = 0;
        for (int i = 0; i < n; ++i) {
            const int xi = xs[static_cast<size_t>(i)];
            if (xi == kLeftOut)
                continue;
            const Extended v = entries[static_cast<size_t>(i)]->*t.value;
            const long long y =
                swr ? H - MB - TraceOffset(log10l(v) * ph, PH) : MT + TraceOffset(t.pixelsPerUnit * v, PH);
            const long long x = xi;
            if (started)
                DrawLine(s, map, prevX, prevY, x, y, pen);
            started = true;
            prevX = x;
            prevY = y;
        }
    }
}

}  // namespace

void DrawTraces(QImage& img, const PlotGeometry& g, const PlotPalette& p, const TVNAList& list, TraceChoice choice)
{
    const int n = list.Count();
    if (n <= 0 || img.isNull())
        return;
    std::vector<int> xs(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        xs[static_cast<size_t>(i)] = TraceX(g, n, i);
    DrawTraceLines(img, g, p, list, choice, xs, false);
}

std::optional<int> FrequencyX(const PlotGeometry& g, const FrequencyAxis& axis, KHzFraction f)
{
    const int64_t n = axis.Steps;
    if (n < 1 || n > 4000 || f.Den < 1 || f.Den > 10000 || axis.EndKHz == axis.StartKHz)
        return std::nullopt;
    // p = a x N / den with 0 <= a <= den inside the sweep. The bounds on N and Den keep every
    // product inside 64 bits for any pair of 32-bit kHz values.
    int64_t a = f.Num - int64_t{axis.StartKHz} * f.Den;
    int64_t den = f.Den * (int64_t{axis.EndKHz} - axis.StartKHz);
    if (den < 0) {
        a = -a;
        den = -den;
    }
    if (a < 0 || a > den)
        return std::nullopt;
    const int64_t num = a * n;
    if (num % den == 0)
        return TraceX(g, static_cast<int>(n), static_cast<int>(num / den));
    const long double step = static_cast<long double>(g.PW()) / static_cast<long double>(n);
    const long double p = static_cast<long double>(num) / static_cast<long double>(den);
    return g.ML + 1 + static_cast<int>(RoundToLL(step * p));
}

namespace {

constexpr int kMinTickSpacing = 80;
// Steps are tried from 1 Hz (10^-3 kHz) up.
constexpr int kSmallestStepExponentKHz = -3;

int64_t Pow10(int e)
{
    int64_t v = 1;
    for (int i = 0; i < e; ++i)
        v *= 10;
    return v;
}

ScaleStep NextStep(ScaleStep s)
{
    if (s.Mantissa == 1)
        return {2, s.Exponent};
    if (s.Mantissa == 2)
        return {5, s.Exponent};
    return {1, s.Exponent + 1};
}

// The ticks at the multiples of step; empty when the step is outside the range handled.
std::vector<ScaleTick> TicksAt(const PlotGeometry& g, const FrequencyAxis& axis, ScaleStep step)
{
    std::vector<ScaleTick> ticks;
    const int e = step.Exponent + 3; // exponent of the step in kHz
    if (e < kSmallestStepExponentKHz || e > 12)
        return ticks;
    // Frequencies in units of 10^-d kHz, in which the step is whole.
    const int d = std::max(0, -e);
    const int64_t unitsPerKHz = Pow10(d);
    const int64_t stepUnits = step.Mantissa * Pow10(e + d);
    const int64_t lo = int64_t{std::min(axis.StartKHz, axis.EndKHz)} * unitsPerKHz;
    const int64_t hi = int64_t{std::max(axis.StartKHz, axis.EndKHz)} * unitsPerKHz;
    const int64_t first = -FloorDiv(-lo, stepUnits);
    const int64_t last = FloorDiv(hi, stepUnits);
    // Decimals the step needs, and the label value in units of 10^-decimals MHz.
    const int decimals = std::max(0, -step.Exponent);
    const int64_t dropped = Pow10(d + 3 - decimals);
    for (int64_t c = first; c <= last; ++c) {
        const int64_t units = c * stepUnits;
        const std::optional<int> x = FrequencyX(g, axis, KHzFraction{units, unitsPerKHz});
        if (!x)
            continue;
        const int64_t value = units / dropped;
        const int64_t magnitude = value < 0 ? -value : value;
        QString label = value < 0 ? QStringLiteral("-") : QString();
        label += QString::number(magnitude / Pow10(decimals));
        if (decimals > 0)
            label += QLatin1Char('.') + QStringLiteral("%1").arg(magnitude % Pow10(decimals), decimals, 10, QLatin1Char('0'));
        ticks.push_back(ScaleTick{*x, label});
    }
    return ticks;
}

}  // namespace

ScaleStep NiceStep(int64_t spanKHz, int pw)
{
    ScaleStep step{1, kSmallestStepExponentKHz - 3};
    if (spanKHz <= 0 || pw <= 0)
        return step;
    // m x 10^e kHz spread at pw / span pixels per kHz lies at least 80 pixels apart when
    // m x 10^e x pw >= 80 x span; compared in whole numbers.
    for (;; step = NextStep(step)) {
        const int e = step.Exponent + 3;
        const int64_t lhs = step.Mantissa * int64_t{pw} * Pow10(std::max(0, e));
        const int64_t rhs = kMinTickSpacing * spanKHz * Pow10(std::max(0, -e));
        if (lhs >= rhs || e >= 12)
            return step;
    }
}

std::vector<ScaleTick> FrequencyTicks(const PlotGeometry& g, const FrequencyAxis& axis)
{
    const int64_t span = std::llabs(int64_t{axis.EndKHz} - axis.StartKHz);
    if (span == 0 || g.PW() <= 0 || axis.Steps < 1 || axis.Steps > 4000)
        return {};
    for (ScaleStep step = NiceStep(span, g.PW()); step.Exponent + 3 <= 12; step = NextStep(step)) {
        std::vector<ScaleTick> ticks = TicksAt(g, axis, step);
        bool spaced = true;
        for (size_t i = 1; i < ticks.size(); ++i)
            spaced = spaced && std::abs(ticks[i].X - ticks[i - 1].X) >= kMinTickSpacing;
        if (spaced)
            return ticks;
    }
    return {};
}

void DrawFrequencyScale(QImage& img, const PlotGeometry& g, const PlotPalette& p, const FrequencyAxis& axis)
{
    if (img.isNull())
        return;
    const std::vector<ScaleTick> ticks = FrequencyTicks(g, axis);
    if (ticks.empty())
        return;
    EnsureRgb888(img);
    const int bottom = g.H - g.MB;
    const DeviceDrawing drawing(img);
    const DeviceMap& map = drawing.Map();
    {
        Surface s(img);
        const Pen frame{ToRgb(kFrameColor), PenStyle::Solid, ToRgb(p.Background)};
        for (const ScaleTick& t : ticks)
            DrawStraightLine(s, map, t.X, bottom + 1, t.X, bottom + 5, frame);
    }
    PlotText text(img, map);
    text.SetFont(kAxisFontPx, false);
    for (const ScaleTick& t : ticks)
        text.Centred(t.X, bottom + 18, t.Label, kFrameColor, p.Background);
}

void DrawReferenceTraces(QImage& img, const PlotGeometry& g, const PlotPalette& p, const TVNAList& reference,
                         const FrequencyAxis& referenceAxis, const FrequencyAxis& axis, TraceChoice choice)
{
    const int n = reference.Count();
    if (n <= 0 || n != referenceAxis.Steps || img.isNull())
        return;
    // Sample j of the reference lies at (S x N + (E - S) x j) / N kHz.
    const int64_t s = referenceAxis.StartKHz;
    const int64_t span = int64_t{referenceAxis.EndKHz} - referenceAxis.StartKHz;
    std::vector<int> xs(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) {
        const std::optional<int> x = FrequencyX(g, axis, KHzFraction{s * n + span * j, n});
        xs[static_cast<size_t>(j)] = x ? *x : kLeftOut;
    }
    DrawTraceLines(img, g, p, reference, choice, xs, true);
}

int MarkerIndexFromX(const PlotGeometry& g, int n, int x)
{
    const int PW = g.PW();
    if (n <= 0 || x < g.ML || x > g.ML + PW)
        return -1;
    if (PW <= 0)
        return 0;
    const long double step = static_cast<long double>(PW) / static_cast<long double>(n);
    const long long index = RoundToLL(static_cast<long double>(x - g.ML) / step);
    return static_cast<int>(std::min<long long>(index, n - 1));
}

void DrawOverlay(QImage& img, const PlotGeometry& g, const PlotPalette& p, int n, int marker1Index,
                 int marker2Index, int minSwrIndex)
{
    if (n <= 0 || img.isNull())
        return;
    if (img.format() != QImage::Format_RGB32)
        EnsureRgb888(img);
    const DeviceDrawing drawing(img);
    const DeviceMap& map = drawing.Map();
    Surface s(img);
    const Rgb bg = ToRgb(p.Background);
    const long double step = static_cast<long double>(g.PW()) / static_cast<long double>(n);
    auto lineX = [&](int index) { return static_cast<int>(RoundToLL(step * static_cast<long double>(index))) + g.ML; };
    auto valid = [&](int index) { return index >= 0 && index <= n - 1; };
    // Sample 0 stands on the left frame line, which stays visible in the dashes' gaps.
    auto dashed = [&](const QColor& c, int x) { return Pen{ToRgb(c), PenStyle::Dash, bg, x != g.ML}; };

    const int bottom = g.H - g.MB;
    const int markers[] = {marker1Index, marker2Index};
    const QString labels[] = {QStringLiteral("m1"), QStringLiteral("m2")};
    for (int m = 0; m < 2; ++m) {
        if (!valid(markers[m]))
            continue;
        const int x = lineX(markers[m]);
        DrawStraightLine(s, map, x, g.MT, x, bottom, dashed(kMarkerColor, x));
        PlotText text(img, map);
        text.SetFont(kMarkerFontPx, false);
        text.Out(x - 5, bottom, labels[m], kMarkerColor, p.Background);
    }
    if (valid(minSwrIndex)) {
        const int x = lineX(minSwrIndex);
        DrawStraightLine(s, map, x, g.MT, x, bottom, dashed(kMinSwrColor, x));
    }
}

void ComposeShown(QImage& shown, const QImage& plot, const PlotGeometry& g, const PlotPalette& p, bool overlay,
                  int n, int marker1Index, int marker2Index, int minSwrIndex)
{
    if (plot.isNull()) {
        shown = QImage();
        return;
    }
    // Drawn into the picture of the last call: quicker than a new picture each time.
    if (shown.size() != plot.size() || shown.format() != QImage::Format_RGB32)
        shown = QImage(plot.size(), QImage::Format_RGB32);
    shown.setDevicePixelRatio(plot.devicePixelRatio());
    {
        // Device pixel for device pixel.
        const DeviceDrawing drawing(shown);
        QPainter painter(&shown);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(plot.rect()), plot, QRectF(plot.rect()));
    }
    if (overlay)
        DrawOverlay(shown, g, p, n, marker1Index, marker2Index, minSwrIndex);
}

namespace {

// Encodes img in format and writes the file whole, or leaves what was there.
bool SaveEncoded(const QImage& img, const char* format, const QString& path, QString& error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (img.isNull() || !buffer.open(QIODevice::WriteOnly) || !img.save(&buffer, format)) {
        error = QStringLiteral("Cannot save %1: the picture could not be encoded").arg(QFileInfo(path).absoluteFilePath());
        return false;
    }
    std::string reason;
    if (kestrin::SaveFileAtomically(path.toStdString(), std::string_view(bytes.constData(), size_t(bytes.size())), reason))
        return true;
    error = QString::fromStdString(reason);
    return false;
}

} // namespace

bool SaveBmpFile(const QImage& img, const QString& path, QString& error)
{
    QImage picture = img.format() == QImage::Format_RGB888 ? img : img.convertToFormat(QImage::Format_RGB888);
    // The resolution in the file is 96 dots per inch, whatever the screens are: the same
    // picture always gives the same file.
    constexpr int kDotsPerMeter = 3780;
    picture.setDotsPerMeterX(kDotsPerMeter);
    picture.setDotsPerMeterY(kDotsPerMeter);
    return SaveEncoded(picture, "BMP", path, error);
}

std::optional<int> FrequencyXAt(const PlotGeometry& g, const FrequencyAxis& axis, long double kHz)
{
    const int n = axis.Steps;
    if (n < 1 || n > 4000 || axis.EndKHz == axis.StartKHz || !std::isfinite(kHz))
        return std::nullopt;
    constexpr long double kSnap = 1e-6L; // samples
    const long double position = (kHz - static_cast<long double>(axis.StartKHz)) * static_cast<long double>(n) /
                                 (static_cast<long double>(axis.EndKHz) - static_cast<long double>(axis.StartKHz));
    if (position < -kSnap || position > n + kSnap)
        return std::nullopt;
    const long double nearest = std::nearbyint(position);
    if (std::fabs(position - nearest) <= kSnap)
        return TraceX(g, n, static_cast<int>(nearest));
    const long double step = static_cast<long double>(g.PW()) / static_cast<long double>(n);
    return g.ML + 1 + static_cast<int>(RoundToLL(step * position));
}

void DrawReferenceTracesAt(QImage& img, const PlotGeometry& g, const PlotPalette& p, const TVNAList& reference,
                           const FrequencyAxis& axis, TraceChoice choice)
{
    const int n = reference.Count();
    if (n <= 0 || img.isNull())
        return;
    std::vector<int> xs(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) {
        const std::optional<int> x = FrequencyXAt(g, axis, reference.GetEntry(j)->FreqMHz * 1000);
        xs[static_cast<size_t>(j)] = x ? *x : kLeftOut;
    }
    DrawTraceLines(img, g, p, reference, choice, xs, true);
}

void DrawSwrBandwidth(QImage& img, const PlotGeometry& g, const PlotPalette& p, const FrequencyAxis& axis,
                      bool found, long double lowMHz, long double highMHz, long double limit, const QString& text)
{
    if (img.isNull())
        return;
    const QColor color(255, 255, 255);
    const DeviceDrawing drawing(img);
    const DeviceMap& map = drawing.Map();
    {
        Surface s(img);
        if (found && limit >= 1) {
            const std::optional<int> x0 = FrequencyXAt(g, axis, lowMHz * 1000);
            const std::optional<int> x1 = FrequencyXAt(g, axis, highMHz * 1000);
            if (x0 && x1) {
                const long long offset = std::min<long long>(RoundToLL(log10l(limit) * g.PH()), g.PH());
                const int y = g.H - g.MB - static_cast<int>(offset);
                const Pen pen{ToRgb(color)};
                const int left = std::min(*x0, *x1);
                const int right = std::max(*x0, *x1);
                // Both ends included: the edge ticks stand on the line's first and last pixel.
                DrawStraightLine(s, map, left, y, right + 1, y, pen);
                DrawStraightLine(s, map, left, y - 4, left, y + 5, pen);
                DrawStraightLine(s, map, right, y - 4, right, y + 5, pen);
            }
        }
    }
    PlotText out(img, map);
    out.SetFont(kMarkerFontPx, false);
    out.Out(g.ML + 6, g.MT + 4, text, color, p.Background);
}

QImage PictureWithText(const QImage& shown, const PlotPalette& p, const std::vector<PictureLine>& lines)
{
    const qreal ratio = shown.isNull() ? 1 : shown.devicePixelRatio();
    QFont font = PixelFont(kAxisFontPx, false);
    QFont bold = PixelFont(kAxisFontPx, true);
    const QFontMetrics fm(font);
    const QFontMetrics bm(bold);
    const int margin = 8;
    const int gap = 16;
    auto isBold = [](const PictureLine& line, size_t c) { return line.BoldFrom >= 0 && int(c) >= line.BoldFrom; };
    // Column widths of the table.
    std::vector<int> widths;
    for (const PictureLine& line : lines) {
        if (!line.Table)
            continue;
        widths.resize(std::max(widths.size(), line.Cells.size()));
        for (size_t c = 0; c < line.Cells.size(); ++c)
            widths[c] = std::max(widths[c], (isBold(line, c) ? bm : fm).horizontalAdvance(line.Cells[c]));
    }
    const int logicalShownH = static_cast<int>(std::lround(shown.height() / ratio));
    const int bandH = static_cast<int>(lines.size()) * fm.lineSpacing() + 2 * margin;
    // The shown picture's own device pixels, not its logical size rounded back (at 125 % an
    // odd logical side would come out a pixel wider or taller), and the band below it.
    QImage out(shown.width(), shown.height() + static_cast<int>(std::ceil(bandH * ratio)), QImage::Format_RGB32);
    out.setDevicePixelRatio(ratio);
    out.fill(p.Background);
    QPainter painter(&out);
    painter.drawImage(QPoint(0, 0), shown);
    painter.setPen(QColor(230, 230, 230));
    int baseline = logicalShownH + margin + fm.ascent();
    for (const PictureLine& line : lines) {
        int left = margin;
        for (size_t c = 0; c < line.Cells.size(); ++c) {
            const bool b = isBold(line, c);
            painter.setFont(b ? bold : font);
            if (!line.Table) {
                painter.drawText(left, baseline, line.Cells[c]);
                left += fm.horizontalAdvance(line.Cells[c]) + gap;
                continue;
            }
            const int w = (b ? bm : fm).horizontalAdvance(line.Cells[c]);
            painter.drawText(c == 0 ? left : left + widths[c] - w, baseline, line.Cells[c]);
            left += widths[c] + gap;
        }
        baseline += fm.lineSpacing();
    }
    return out;
}

bool SavePngFile(const QImage& img, const QString& path, QString& error)
{
    return SaveEncoded(img, "PNG", path, error);
}

void DrawCornerText(QImage& img, const PlotGeometry& g, const PlotPalette& p, const QString& text)
{
    if (img.isNull() || text.isEmpty())
        return;
    const DeviceDrawing drawing(img);
    PlotText out(img, drawing.Map());
    out.SetFont(kMarkerFontPx, false);
    out.Right(g.W - g.MR - 6, g.MT + 4, text, QColor(230, 230, 230), p.Background);
}
