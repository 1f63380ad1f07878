#pragma once
// What the measuring tools share: the real window on the offscreen platform (unless a
// platform is named), sweeping against an in-process simulated analyser of the tool's
// choosing through the window's own port list, Start button and worker.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "frmmain/TMainForm.h"
#include "platform/PortTable.h"
#include "sim/Simulator.h"

namespace kestrin::tools {

// The port number the tools give their analyser: far from any the port list hands out.
constexpr int kToolPortNumber = 900001;

// Call before the QApplication is made.
inline void UseOffscreenUnlessNamed()
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Error messages go to the standard error output instead of a modal box.
inline void ReportErrorsOnConsole(TMainForm& form)
{
    form.ErrorBox = [](const QString& message) { std::fprintf(stderr, "error: %s\n", qPrintable(message)); };
}

// Makes the window's port list offer an analyser with this configuration, selected.
inline void OfferAnalyser(TMainForm& form, const sim::SimConfig& config)
{
    SetVirtualPort(kToolPortNumber, [config](const VirtualDeviceOptions& options,
                                             std::string& pathOut) -> std::shared_ptr<void> {
        sim::SimConfig played = config;
        if (options.ddsClockHz >= 1)
            played.ClockHz = options.ddsClockHz;
        auto simulator = std::make_shared<sim::Simulator>(played);
        std::string error;
        if (!simulator->Start(error)) {
            std::fprintf(stderr, "the simulated analyser does not start: %s\n", error.c_str());
            pathOut.clear();
            return nullptr;
        }
        pathOut = simulator->SlavePath();
        return simulator;
    });
    int index = form.cbComPort->findData(kToolPortNumber);
    if (index < 0) {
        form.cbComPort->addItem(QStringLiteral("Tool analyser"), kToolPortNumber);
        index = form.cbComPort->count() - 1;
    }
    form.cbComPort->setCurrentIndex(index);
}

// The steps of the next requests, as the Steps field would set them.
inline void SetSteps(TMainForm& form, int32_t steps)
{
    std::lock_guard<std::mutex> lock(*form.SweepLock);
    form.SweepSteps = steps;
}

// Runs the event loop until done() holds, looking every 10 ms, or until timeout.
// Returns done().
inline bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done() || std::chrono::steady_clock::now() >= end)
            loop.quit();
    });
    look.start(10);
    if (!done())
        loop.exec();
    return done();
}

// Runs the event loop for the given time without looking at anything.
inline void RunFor(std::chrono::milliseconds time)
{
    QEventLoop loop;
    QTimer::singleShot(time, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Resident memory of this process in KiB (VmRSS), 0 when unknown.
inline long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

} // namespace kestrin::tools
