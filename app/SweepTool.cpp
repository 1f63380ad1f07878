#include "app/SweepTool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/SweepRequest.h"
#include "acquisition/TComThread.h"
#include "measure/NumberText.h"
#include "measure/Bandwidth.h"
#include "measure/Readouts.h"
#include "measure/Sweep.h"
#include "measure/SweepAverage.h"
#include "measure/Touchstone.h"
#include "measure/VNAList.h"
#include "platform/AtomicFile.h"
#include "platform/Console.h"
#include "platform/PortList.h"
#include "platform/PortTable.h"
#include "platform/Synchronize.h"
#include "sim/SimulatorPort.h"

namespace kestrin {

namespace {

using SystemClock = std::chrono::system_clock;

// The port-table entry for a device given by its path.
constexpr int PathPortNumber = SimulatorPortNumber - 1;

// A complete reply with the settings it was requested with and the time it arrived.
struct ArrivedSweep {
    SweepSettings Settings;
    std::vector<uint8_t> Bytes;
    SystemClock::time_point Time;
};

// The worker's window: hands sweeps, the progress and the worker's end to the main thread.
class ToolWindow final : public TSweepWindow {
public:
    explicit ToolWindow(const SweepSettings& settings) : settings_(settings) {}

    TComThread* Worker = nullptr;

    void CopySweepSettings() override { Worker->Settings = settings_; }
    void HandOverSweep(const uint8_t* sampleBuffer) override
    {
        ArrivedSweep sweep{Worker->Settings, {}, SystemClock::now()};
        const int32_t steps = std::clamp<int32_t>(sweep.Settings.Steps, 0, TComThread::SampleBufferSize / 4);
        sweep.Bytes.assign(sampleBuffer, sampleBuffer + 4 * steps);
        {
            std::lock_guard lock(mutex_);
            arrived_.push_back(std::move(sweep));
        }
        WakeSynchronizeWaiters();
    }
    void WorkerEnded() override
    {
        ended_ = true;
        WakeSynchronizeWaiters();
    }
    void ReplyProgress(uint32_t received, uint32_t expected) override
    {
        const bool newCount = progress_.exchange(received) != received;
        if (expected_.exchange(expected) != expected || newCount) {
            progressChanged_ = true;
            WakeSynchronizeWaiters();
        }
    }

    bool Ended() const { return ended_; }
    bool HasNews()
    {
        std::lock_guard lock(mutex_);
        return !arrived_.empty() || ended_ || progressChanged_;
    }
    std::deque<ArrivedSweep> TakeArrived()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(arrived_, {});
    }
    // The reply under way: bytes so far and expected; false when unchanged since last asked.
    bool TakeProgress(uint32_t& received, uint32_t& expected)
    {
        if (!progressChanged_.exchange(false))
            return false;
        received = progress_;
        expected = expected_;
        return true;
    }

private:
    const SweepSettings settings_;
    std::mutex mutex_;
    std::deque<ArrivedSweep> arrived_;
    std::atomic<bool> ended_{false};
    std::atomic<bool> progressChanged_{false};
    std::atomic<uint32_t> progress_{0};
    std::atomic<uint32_t> expected_{0};
};

// The port number the worker opens and the name messages give it.
void ResolvePort(const SweepOptions& o, int& number, std::string& name)
{
    if (IsSimulatorPort(o.Port)) {
        // The window's "Simulator" item; the worker hands it the DDS clock.
        RegisterSimulatorPort(SimulatorPortNumber);
        number = SimulatorPortNumber;
        name = SimulatorPortText;
        return;
    }
    if (o.Port.find('/') == std::string::npos) {
        // A name as the window's port list shows it (ttyUSB0).
        for (const PortEntry& e : MakeSystemPortProvider()->Enumerate()) {
            const std::optional<PortTableEntry> entry = FindPort(e.number);
            if (e.text == o.Port && entry && !entry->path.empty()) {
                number = e.number;
                name = entry->path;
                return;
            }
        }
    }
    SetPortPath(PathPortNumber, o.Port);
    number = PathPortNumber;
    name = o.Port;
}

// Where the sweeps go: standard output, a file that appears once complete (a count of 1
// or more), or a file that grows by whole sweeps (--count 0). The output begins, header
// first, with the first sweep, so a run that fails before it leaves an existing file alone.
class Output {
public:
    Output(const SweepOptions& o, std::FILE* out, std::string header)
        : options_(o), out_(out), header_(std::move(header))
    {
    }
    ~Output()
    {
        if (file_ != nullptr)
            std::fclose(file_);
    }

    // Adds text, after the header; a stream gets it at once. False with error set when
    // writing failed.
    bool Add(const std::string& text, std::string& error)
    {
        if (!begun_) {
            begun_ = true;
            if (Streams() && !options_.Output.empty()) {
                file_ = OpenFile(options_.Output, "w");
                if (file_ == nullptr) {
                    error = "Cannot save " + options_.Output + ": " + std::strerror(errno);
                    return false;
                }
            }
            if (!Add(header_, error))
                return false;
        }
        if (!Streams()) {
            held_ += text;
            return true;
        }
        std::FILE* stream = file_ != nullptr ? file_ : out_;
        if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
            error = "Cannot write " + Name() + ": " + std::strerror(errno);
            return false;
        }
        if (std::fflush(stream) != 0) {
            error = "Cannot write " + Name() + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    // Ends the output well-formed (the header at least); a file that appears once complete
    // is written now, through a temporary file.
    bool Finish(std::string& error)
    {
        if (!Add(std::string(), error))
            return false;
        if (Streams())
            return true;
        return SaveFileAtomically(options_.Output, held_, error);
    }

private:
    bool Streams() const { return options_.Output.empty() || options_.Count == 0; }
    std::string Name() const { return options_.Output.empty() ? "to standard output" : options_.Output; }

    const SweepOptions& options_;
    std::FILE* out_;
    const std::string header_;
    bool begun_ = false;
    std::FILE* file_ = nullptr;
    std::string held_;
};

// The texts of each format.
std::string Header(const SweepOptions& o)
{
    if (o.Format != SweepFormat::Csv)
        return {};
    return o.Count == 1 ? SweepCsvHeader() : "Sweep,Time (UTC)," + SweepCsvHeader();
}

std::string SweepText(const SweepOptions& o, const std::string& portName, int64_t number, const ArrivedSweep& sweep,
                      const TVNAList& list, int32_t minSwrIndex, int averaged)
{
    switch (o.Format) {
    case SweepFormat::Csv:
        return SweepCsvRows(list, o.Count == 1 ? std::string()
                                               : std::to_string(number) + "," + UtcTimeText(sweep.Time) + ",");
    case SweepFormat::Touchstone: {
        TouchstoneSource source;
        source.Program = "Kestrin VNA " KESTRIN_VERSION ", " + std::string(SweepToolName);
        source.SavedAt = UtcTimeText(SystemClock::now());
        source.Port = portName;
        source.Shape = sweep.Settings;
        source.DdsClockHz = o.DdsClockHz;
        source.RLCalDb = o.RLCalDb;
        source.Averaged = averaged;
        return SweepTouchstone(list, source);
    }
    case SweepFormat::Summary: {
        std::string line = UtcTimeText(sweep.Time);
        if (minSwrIndex >= 0 && minSwrIndex < list.Count()) {
            const ReadoutRow r = FormatReadoutRow(*list.GetEntry(minSwrIndex));
            for (const std::string* text : {&r.F, &r.SWR, &r.RL, &r.Phase, &r.Z, &r.Rs, &r.Xs, &r.L, &r.C, &r.Q})
                line += '\t' + *text;
            // The SWR bandwidth's edges, as the window shows them.
            const SwrBandwidth bw = FindSwrBandwidth(list, minSwrIndex, o.BandwidthSwr);
            line += bw.Found ? '\t' + EdgeText(bw.Low, true) + '\t' + EdgeText(bw.High, false) : "\tnone\tnone";
        }
        return line + '\n';
    }
    }
    return {};
}

// The progress line on a terminal: written over itself, cleared before anything else.
class ProgressLine {
public:
    ProgressLine(std::FILE* err, bool enabled) : err_(err), enabled_(enabled) {}
    void Show(int64_t sweep, uint32_t received, uint32_t expected)
    {
        if (!enabled_)
            return;
        std::fprintf(err_, "\r\033[KSweep %lld: %u of %u bytes", static_cast<long long>(sweep), received, expected);
        std::fflush(err_);
        shown_ = true;
    }
    void Clear()
    {
        if (!shown_)
            return;
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        shown_ = false;
    }

private:
    std::FILE* err_;
    bool enabled_;
    bool shown_ = false;
};

} // namespace

int RunSweepTool(const SweepOptions& options, std::FILE* out, std::FILE* err, bool progress)
{
    std::atomic<bool> interrupted{false};
    const InterruptWatch watch([&interrupted] {
        interrupted = true;
        WakeSynchronizeWaiters();
    });
    // The serial component's notifications run on this thread while it waits.
    InitSynchronize();

    ProgressLine line(err, progress);
    std::string error;
    auto fail = [&](const std::string& message) {
        line.Clear();
        std::fprintf(err, "%s: %s\n", SweepToolName, message.c_str());
        return 1;
    };

    Output output(options, out, Header(options));

    int portNumber = 0;
    std::string portName;
    ResolvePort(options, portNumber, portName);

    SweepSettings settings;
    settings.StartKHz = options.StartKHz;
    settings.EndKHz = options.EndKHz;
    settings.Steps = options.Steps;
    settings.TuningFactor = TuningFactorForClock(options.DdsClockHz);
    ToolWindow window(settings);
    auto worker = std::make_unique<TComThread>();
    worker->SetFreeOnTerminate(false);
    worker->Form = &window;
    worker->Settings = settings;
    worker->PortNumber = portNumber;
    worker->DdsClockHz = options.DdsClockHz; // the simulated analyser plays that model
    window.Worker = worker.get();
    worker->Resume();

    TVNAList list;
    MarkerState marker1, marker2; // unset: the tool has no markers
    int32_t minSwrIndex = -1;
    int64_t written = 0;
    int status = 0;
    SweepAverage average;
    average.SetDepth(options.Average);
    // A Touchstone file holds one sweep: the last (the last mean), written at the end.
    std::string touchstone;
    for (;;) {
        WaitRunningSynchronize([&] { return interrupted || window.HasNews(); });
        for (const ArrivedSweep& sweep : window.TakeArrived()) {
            if (options.Count != 0 && written >= options.Count)
                break;
            if (options.Average > 1) {
                const AverageKey key{sweep.Settings.StartKHz, sweep.Settings.EndKHz, sweep.Settings.Steps,
                                     sweep.Settings.TuningFactor, options.RLCalDb, DefaultPhaseScale, 0};
                average.Add(key, sweep.Bytes.data());
                average.Rebuild(list, marker1, marker2, minSwrIndex);
            } else {
                RebuildSweep(list, sweep.Bytes.data(), sweep.Settings, options.RLCalDb, DefaultPhaseScale, marker1,
                             marker2, minSwrIndex);
            }
            line.Clear();
            const int averaged = options.Average > 1 ? average.Count() : 1;
            const std::string text = SweepText(options, portName, written + 1, sweep, list, minSwrIndex, averaged);
            if (options.Format == SweepFormat::Touchstone) {
                touchstone = text;
                ++written;
                continue;
            }
            if (!output.Add(text, error)) {
                status = fail(error);
                break;
            }
            ++written;
        }
        if (status != 0 || (options.Count != 0 && written >= options.Count) || interrupted)
            break;
        if (window.Ended()) {
            worker->WaitFor();
            status = fail(WorkerEndText(*worker, portName, TryAgain::RunSweepTool));
            break;
        }
        if (uint32_t received = 0, expected = 0; window.TakeProgress(received, expected))
            line.Show(written + 1, received, expected);
    }
    // A sweep under way is dropped; its port closes.
    worker->Terminate();
    worker->WaitFor();
    worker.reset();
    line.Clear();
    RemovePort(portNumber);

    if (status == 0 && options.Format == SweepFormat::Touchstone && written > 0 && !output.Add(touchstone, error))
        status = fail(error);
    if (status == 0 && !(options.Format == SweepFormat::Touchstone && written == 0) && !output.Finish(error))
        status = fail(error);
    return status;
}

} // namespace kestrin
