// soak: the real window, worker and serial component over a long run, and at rest.
//
//   soak [--sweeps N] [--steps S] [--idle-seconds T]   (default: 10000 sweeps of 4000 steps, 5 s)
//
// 1. The processor time the program takes while stopped, over T seconds.
// 2. The same while it waits on an analyser that never answers (at most 5.5 s: the
//    worker gives up on such an analyser after three silent replies).
// 3. N sweeps against the simulated analyser at fast pacing, each one handed to the window
//    and redrawn there (both markers set, so the overlay is composed as well), with the
//    resident memory after sweep 100, 1000, 10000 (and N).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include "ToolWindow.h"
#include "plot/TPanelPlus.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace kestrin;

constexpr std::chrono::milliseconds kSilentAtMost{5500};

// The window, counting the sweeps it has shown and noting the resident memory at the
// chosen counts.
class CountingForm : public TMainForm {
public:
    std::set<long> ReportAt;
    long Shown = 0;
    Clock::time_point Began;

protected:
    void customEvent(QEvent* event) override
    {
        const bool sweep = event->type() == static_cast<QEvent::Type>(WM_SWEEPDONE);
        TMainForm::customEvent(event);
        if (!sweep)
            return;
        ++Shown;
        if (ReportAt.count(Shown) != 0) {
            std::printf("%8ld sweeps %9.1f s   resident %8ld KiB\n", Shown,
                        std::chrono::duration<double>(Clock::now() - Began).count(), tools::ResidentKiB());
            std::fflush(stdout);
        }
    }
};

// Processor time of the whole program (every thread) while the event loop runs for the
// given time, as a share of one processor.
void ReportIdle(const char* what, std::chrono::milliseconds time)
{
    const std::clock_t before = std::clock();
    const auto began = Clock::now();
    tools::RunFor(time);
    const double cpu = double(std::clock() - before) / CLOCKS_PER_SEC;
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();
    std::printf("%-40s %8.4f s of processor in %5.1f s: %6.3f %%\n", what, cpu, wall, 100 * cpu / wall);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    long sweeps = 10000;
    int32_t steps = 4000;
    int idleSeconds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sweeps") == 0 && i + 1 < argc) {
            sweeps = std::max(1L, std::atol(argv[++i]));
        } else if (std::strcmp(argv[i], "--steps") == 0 && i + 1 < argc) {
            steps = std::clamp(std::atoi(argv[++i]), 10, 4000);
        } else if (std::strcmp(argv[i], "--idle-seconds") == 0 && i + 1 < argc) {
            idleSeconds = std::max(0, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--sweeps N] [--steps S] [--idle-seconds T]\n", argv[0]);
            return 2;
        }
    }

    tools::UseOffscreenUnlessNamed();
    QApplication app(argc, argv);
    InitWindowSynchronize();
    CountingForm form;
    tools::ReportErrorsOnConsole(form);
    form.show();
    QApplication::processEvents();
    tools::SetSteps(form, steps);

    const std::chrono::milliseconds idle(idleSeconds * 1000);
    if (idleSeconds > 0) {
        tools::RunFor(std::chrono::milliseconds(500));
        ReportIdle("stopped", idle);

        sim::SimConfig silent;
        silent.Mode = sim::Fault::Silent;
        tools::OfferAnalyser(form, silent);
        form.btnStartClick();
        tools::RunFor(std::chrono::milliseconds(500)); // the port open and the request out
        // Within the three silent replies (2.2 s each) after which the worker gives up.
        ReportIdle("waiting on an analyser that never answers", std::min(idle, kSilentAtMost));
        if (form.ComThread == nullptr) {
            std::fprintf(stderr, "the worker ended while the analyser was silent\n");
            return 1;
        }
        form.btnStartClick();
        if (form.DataShown) {
            std::fprintf(stderr, "the silent analyser delivered a sweep\n");
            return 1;
        }
    }

    sim::SimConfig fast;
    fast.Pace = sim::Pacing::Fast;
    tools::OfferAnalyser(form, fast);
    form.ReportAt = {100, 1000, 10000, sweeps};
    form.Began = Clock::now();
    std::printf("%8s sweeps of %d steps at fast pacing; resident before: %ld KiB\n", "", steps, tools::ResidentKiB());
    form.btnStartClick();
    // Both markers on the first sweep, so that every redraw composes their overlay too.
    const bool first = tools::RunUntil([&] { return form.Shown >= 1; }, std::chrono::seconds(30));
    if (first) {
        form.panelMouseDown(form.PlotPanel, Qt::LeftButton, Qt::NoModifier, form.MarginLeft + form.PlotWidth / 3, 100);
        form.panelMouseDown(form.PlotPanel, Qt::RightButton, Qt::NoModifier,
                            form.MarginLeft + 2 * form.PlotWidth / 3, 100);
    }
    // Each sweep takes the 200 ms pause and a little more; a minute beyond that of slack.
    const bool done = first && tools::RunUntil([&] { return form.Shown >= sweeps; },
                                               std::chrono::milliseconds(sweeps * 400) + std::chrono::minutes(1));
    form.btnStartClick();
    if (!done) {
        std::fprintf(stderr, "only %ld of %ld sweeps came\n", form.Shown, sweeps);
        return 1;
    }
    return 0;
}
