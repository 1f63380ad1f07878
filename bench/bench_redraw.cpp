// The full redraw with data: rebuild of the sample list from raw analyser bytes,
// axes, all six traces, and the picture with the marker overlay that a paint shows,
// at a screen's device pixel ratio; and the paint itself, of the real window's plot panel.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>

#include <cmath>
#include <cstdint>
#include <vector>

#include "frmmain/TMainForm.h"
#include "measure/Sweep.h"
#include "measure/VNAList.h"
#include "plot/PlotDraw.h"
#include "plot/TPanelPlus.h"

namespace {

// Raw samples of an antenna with a few resonances across the sweep, with a little
// noise in the counts as a real analyser delivers them.
std::vector<uint8_t> AntennaSweep(int steps)
{
    std::vector<uint8_t> raw(static_cast<size_t>(steps) * 4);
    uint32_t noise = 12345;
    for (int i = 0; i < steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double dip = std::pow(std::sin(t * 3.14159265 * 7), 8.0);
        noise = noise * 1103515245u + 12345u;
        const int jitter = static_cast<int>((noise >> 16) % 9) - 4;
        const int rl = std::clamp(static_cast<int>(400 + 500 * dip) + jitter, 0, 1023);
        const int phase = std::clamp(static_cast<int>(512 + 480 * std::sin(t * 3.14159265 * 14)) + jitter, 0, 1023);
        raw[4 * static_cast<size_t>(i) + 0] = static_cast<uint8_t>(phase & 0xff);
        raw[4 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(phase >> 8);
        raw[4 * static_cast<size_t>(i) + 2] = static_cast<uint8_t>(rl & 0xff);
        raw[4 * static_cast<size_t>(i) + 3] = static_cast<uint8_t>(rl >> 8);
    }
    return raw;
}

// What every redraw case works on: a sweep of the given steps on a picture of the given
// logical size, scaled: at the device pixel ratio in percent of the fourth argument, else 1.
struct RedrawCase {
    RedrawCase(const benchmark::State& state, bool sized, bool scaled = false)
        : raw(AntennaSweep(static_cast<int>(state.range(0)))),
          shape{100, 180000, static_cast<int32_t>(state.range(0))}
    {
        if (sized) {
            g.W = static_cast<int>(state.range(1));
            g.H = static_cast<int>(state.range(2));
        }
        if (scaled)
            ratio = static_cast<qreal>(state.range(3)) / 100;
        all.Swr = all.Rl = all.Phase = all.Z = all.Xs = all.Rs = true;
    }
    void Rebuild() { RebuildSweep(list, raw.data(), shape, 0, 0.17578125L, m1, m2, minSwr); }
    void Draw()
    {
        DrawAxes(plot, g, palette, ratio);
        DrawTraces(plot, g, palette, list, all);
        ComposeShown(shown, plot, g, palette, true, list.Count(), m1.Index, m2.Index, minSwr);
        benchmark::DoNotOptimize(shown.constBits());
    }

    const std::vector<uint8_t> raw;
    const SweepShape shape;
    PlotGeometry g;
    qreal ratio = 1;
    const PlotPalette palette;
    TraceChoice all;
    TVNAList list;
    MarkerState m1{14.2L, -1};
    MarkerState m2{100.0L, -1};
    int32_t minSwr = -1;
    QImage plot;
    QImage shown;
};

void BM_Redraw(benchmark::State& state)
{
    RedrawCase c(state, true, true);
    for (auto _ : state) {
        c.Rebuild();
        c.Draw();
    }
}

// The two halves of the redraw on their own: the sample rebuild, and the drawing.
void BM_RebuildOnly(benchmark::State& state)
{
    RedrawCase c(state, false);
    for (auto _ : state) {
        c.Rebuild();
        benchmark::DoNotOptimize(c.minSwr);
    }
}

void BM_DrawOnly(benchmark::State& state)
{
    RedrawCase c(state, true);
    c.Rebuild();
    for (auto _ : state)
        c.Draw();
}

// A paint of the window's exposed plot panel (W x H) with both markers set and a sweep of
// the given steps on display: what an uncovered window or a compositor's expose costs.
void BM_Paint(benchmark::State& state)
{
    TMainForm form;
    form.show();
    // The panel follows the window; scroll bars coming and going may take a second step.
    const QSize panel(int(state.range(1)), int(state.range(2)));
    for (int tries = 0; tries < 4 && form.PlotPanel->size() != panel; ++tries) {
        form.resize(form.size() + panel - form.PlotPanel->size());
        QApplication::processEvents();
    }

    const RedrawCase c(state, true);
    TComThread worker; // never started: the hand-over only reads its settings
    worker.Settings = {c.shape, form.TuningFactor};
    form.ComThread = &worker;
    form.HandOverSweep(c.raw.data());
    form.ComThread = nullptr;
    QApplication::processEvents();
    const int x1 = form.MarginLeft + form.PlotWidth / 3, x2 = form.MarginLeft + 2 * form.PlotWidth / 3;
    form.panelMouseDown(form.PlotPanel, Qt::LeftButton, Qt::NoModifier, x1, 100);
    form.panelMouseDown(form.PlotPanel, Qt::RightButton, Qt::NoModifier, x2, 100);
    QApplication::processEvents();
    if (form.PlotPanel->size() != panel || form.Marker1Index < 1 ||
        form.Marker2Index < 1) {
        state.SkipWithError("the window did not take the panel size or the markers");
        return;
    }

    for (auto _ : state)
        form.PlotPanel->repaint();
}

BENCHMARK(BM_RebuildOnly)->ArgName("steps")->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawOnly)
    ->ArgNames({"steps", "W", "H"})
    ->Args({4000, 1728, 884})
    ->Unit(benchmark::kMillisecond);

// W and H are logical pixels; the picture has W x H x ratio^2 device pixels.
BENCHMARK(BM_Redraw)
    ->ArgNames({"steps", "W", "H", "ratio"})
    ->Args({500, 1168, 550, 100})
    ->Args({4000, 1168, 550, 100})
    ->Args({500, 1728, 884, 100})
    ->Args({4000, 1728, 884, 100})
    ->Args({4000, 1728, 884, 150})
    ->Args({4000, 1728, 884, 200})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_Paint)->ArgNames({"steps", "W", "H"})->Args({4000, 1728, 884})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // No display is needed: without a platform named, the offscreen one.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitWindowSynchronize();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
