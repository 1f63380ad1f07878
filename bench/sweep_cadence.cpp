// sweep_cadence: the sweep period of the real window, worker and serial component against
// the simulated analyser at the real line rate (11520 bytes/s), compared with the protocol's
// floor: the reply's steps x 4 bytes on the line plus the 200 ms pause before each request.
//
//   sweep_cadence [--sweeps N] [--steps S ...]     (default: 20 sweeps at 500 and 4000 steps)
//
// It times each request as the worker makes it (when it takes the settings, right before
// writing the request lines) and prints the median, lowest and highest request-to-request
// time of N sweeps per step count.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "ToolWindow.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace kestrin;

// The window, with the time of every request its worker makes.
class TimedForm : public TMainForm {
public:
    void CopySweepSettings() override
    {
        {
            std::lock_guard<std::mutex> lock(timesMutex_);
            requests_.push_back(Clock::now());
        }
        TMainForm::CopySweepSettings();
    }
    std::vector<Clock::time_point> Requests()
    {
        std::lock_guard<std::mutex> lock(timesMutex_);
        return requests_;
    }
    void ForgetRequests()
    {
        std::lock_guard<std::mutex> lock(timesMutex_);
        requests_.clear();
    }

private:
    std::mutex timesMutex_;
    std::vector<Clock::time_point> requests_;
};

struct Periods {
    double median = 0, lowest = 0, highest = 0;
    bool complete = false;
};

Periods Measure(TimedForm& form, int32_t steps, int sweeps)
{
    tools::SetSteps(form, steps);
    sim::SimConfig config; // the antenna load, real pacing
    tools::OfferAnalyser(form, config);
    form.ForgetRequests();
    form.btnStartClick();
    const auto perSweep = std::chrono::milliseconds(200 + steps * 4 * 1000 / sim::kBytesPerSecond);
    Periods result;
    result.complete = tools::RunUntil([&] { return int(form.Requests().size()) > sweeps; },
                                      perSweep * (sweeps + 5) * 2 + std::chrono::seconds(5));
    form.btnStartClick();
    const std::vector<Clock::time_point> times = form.Requests();
    std::vector<double> periods;
    for (size_t i = 1; i < times.size() && int(periods.size()) < sweeps; ++i)
        periods.push_back(std::chrono::duration<double>(times[i] - times[i - 1]).count());
    if (periods.empty())
        return result;
    std::sort(periods.begin(), periods.end());
    const size_t n = periods.size();
    result.median = n % 2 ? periods[n / 2] : (periods[n / 2 - 1] + periods[n / 2]) / 2;
    result.lowest = periods.front();
    result.highest = periods.back();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    int sweeps = 20;
    std::vector<int32_t> stepCounts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sweeps") == 0 && i + 1 < argc) {
            sweeps = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--steps") == 0 && i + 1 < argc) {
            stepCounts.push_back(std::clamp(std::atoi(argv[++i]), 10, 4000));
        } else {
            std::fprintf(stderr, "usage: %s [--sweeps N] [--steps S ...]\n", argv[0]);
            return 2;
        }
    }
    if (stepCounts.empty())
        stepCounts = {500, 4000};

    tools::UseOffscreenUnlessNamed();
    QApplication app(argc, argv);
    InitWindowSynchronize();
    TimedForm form;
    tools::ReportErrorsOnConsole(form);
    form.show();
    QApplication::processEvents();

    std::printf("%6s %7s %10s %10s %10s %10s %7s\n", "steps", "sweeps", "floor s", "median s", "lowest s",
                "highest s", "ratio");
    int status = 0;
    for (int32_t steps : stepCounts) {
        const Periods p = Measure(form, steps, sweeps);
        const double floor = 0.2 + double(steps) * 4 / sim::kBytesPerSecond;
        std::printf("%6d %7d %10.4f %10.4f %10.4f %10.4f %7.3f%s\n", steps, sweeps, floor, p.median, p.lowest,
                    p.highest, p.median / floor, p.complete ? "" : "  (incomplete: too few sweeps came)");
        std::fflush(stdout);
        if (!p.complete)
            status = 1;
    }
    return status;
}
