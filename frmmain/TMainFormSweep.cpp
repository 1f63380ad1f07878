// Start and Stop, and the hand-off between the sweep worker and the window.
#include "frmmain/TMainForm.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <cstring>

#include "platform/PortTable.h"
#include "platform/Synchronize.h"

namespace {

// Runs the calls handed to the UI thread when the event posted for them arrives.
class SynchronizeDispatcher : public QObject {
public:
    static QEvent::Type EventType()
    {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    bool event(QEvent* e) override
    {
        if (e->type() != EventType())
            return QObject::event(e);
        kestrin::CheckSynchronize(0);
        return true;
    }
};

// Stopped: "Start", model and port choosable, no zoom. Running: the reverse.
void ShowSweepState(TMainForm& form)
{
    const bool running = form.ComThread != nullptr;
    form.btnStart->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    form.VNASelect->setEnabled(!running);
    form.cbComPort->setEnabled(!running);
    form.btnZoom->setEnabled(running);
}

// The name the person knows the port by: its device path, else the list's text.
std::string PortName(const TMainForm& form, int32_t portNumber)
{
    if (const auto entry = kestrin::FindPort(portNumber); entry && !entry->path.empty())
        return entry->path;
    return form.cbComPort->currentText().toStdString();
}

} // namespace

void InitWindowSynchronize()
{
    static SynchronizeDispatcher* const dispatcher = new SynchronizeDispatcher; // lives as long as the program
    kestrin::InitSynchronize(
        [] { QCoreApplication::postEvent(dispatcher, new QEvent(SynchronizeDispatcher::EventType())); });
}

void TMainForm::btnStartClick()
{
    if (ComThread == nullptr) {
        if (cbComPort->currentIndex() < 0 || !cbComPort->currentData().isValid()) {
            ShowError(QStringLiteral("No serial port is selected. Choose the analyser's port, then press Start."));
            ShowSweepState(*this);
            return;
        }
        btnStart->setText(QStringLiteral("Stop"));
        VNASelect->setEnabled(false);
        StartComThread();
    } else {
        btnStart->setText(QStringLiteral("Start"));
        VNASelect->setEnabled(true);
        StopComThread();
    }
    cbComPort->setEnabled(ComThread == nullptr);
    btnZoom->setEnabled(ComThread != nullptr);
}

void TMainForm::StartComThread()
{
    if (ComThread != nullptr || cbComPort->currentIndex() < 0)
        return;
    auto* worker = new TComThread;
    ComThread = worker;
    worker->SetFreeOnTerminate(false);
    worker->Form = this;
    {
        std::lock_guard<std::mutex> lock(*SweepLock);
        // Start, end and steps; the tuning factor comes with the first CopySweepSettings.
        static_cast<SweepShape&>(worker->Settings) = Requested;
        worker->DdsClockHz = DdsClockHz; // for the simulated analyser, which plays the model chosen
    }
    worker->PortNumber = cbComPort->currentData().toInt();
    workerPort_ = PortName(*this, worker->PortNumber);
    worker->Resume();
}

void TMainForm::StopComThread()
{
    if (ComThread == nullptr)
        return;
    // The wait keeps running the port's notifications: its close waits for them.
    ComThread->Terminate();
    ComThread->WaitFor();
    delete ComThread;
    ComThread = nullptr;
}

void TMainForm::CopySweepSettings()
{
    std::lock_guard<std::mutex> lock(*SweepLock);
    ComThread->Settings = Requested;
    copiedSetupGeneration_ = setupGeneration_;
}

void TMainForm::HandOverSweep(const uint8_t* sampleBuffer)
{
    {
        std::lock_guard<std::mutex> lock(*SweepLock);
        Shown = ComThread->Settings;
        shownSetupGeneration_ = copiedSetupGeneration_;
        ShownPort = workerPort_;
        ++shownSweepNumber_;
        const int32_t steps = std::clamp<int32_t>(ShownSteps, 0, RawSweepBufferSize / 4);
        std::memcpy(RawSweepBuffer.get(), sampleBuffer, static_cast<size_t>(steps) * 4);
    }
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(WM_SWEEPDONE)));
}

void TMainForm::WorkerEnded()
{
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(WM_COMTHREADENDED)));
}

void TMainForm::WMSweepDone()
{
    DataShown = true;
    RecomputeAndRedraw();
}

void TMainForm::WMComThreadEnded()
{
    // The message may come from a worker already stopped by the person; only a
    // worker that is still held and ended on its own is handled here.
    TComThread* worker = ComThread;
    if (worker == nullptr || !worker->EndedOnItsOwn())
        return;
    worker->WaitFor(); // the body is returning; its port is closed
    const std::string message = WorkerEndText(*worker, PortName(*this, worker->PortNumber));
    StopComThread();
    ShowSweepState(*this);
    ShowError(QString::fromStdString(message));
}
