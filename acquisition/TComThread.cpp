#include "acquisition/TComThread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial/uVornComport.h"

TComThread::~TComThread()
{
    Terminate();
    WaitFor();
}

void TComThread::Terminate()
{
    {
        std::lock_guard lock(pauseMutex_);
        kestrin::TThread::Terminate();
    }
    pauseWake_.notify_all();
}

void TComThread::Pause(int ms)
{
    std::unique_lock lock(pauseMutex_);
    pauseWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Terminated(); });
}

void TComThread::DataAvailable(TVornComPort*)
{
    // Assigned so that received bytes stay queued until the worker reads them.
}

void TComThread::EndOnItsOwn(TComThreadEnd cause, std::string message, int systemError)
{
    endMessage_ = std::move(message);
    endSystemError_ = systemError;
    endCause_ = cause;
}

void TComThread::Execute()
{
    auto port = std::make_unique<TVornComPort>(nullptr);
    ComPort = port.get();
    auto samples = std::make_unique<uint8_t[]>(SampleBufferSize);
    SampleBuffer = samples.get();

    ComPort->SetPort(PortNumber);
    ComPort->SetBaudrate(115200);
    ComPort->SetByteSize(8);
    ComPort->SetStopBits(sbOne);
    ComPort->SetParity(ptNone);
    ComPort->FlowCtrl()->SetXonXoff(false);
    ComPort->SetOnDataAvailable([this](TVornComPort* sender) { DataAvailable(sender); });
    ComPort->SetRxBuffer(16384);

    try {
        ComPort->SetActive(true);
    } catch (const EVornComPort& e) {
        EndOnItsOwn(TComThreadEnd::OpenFailed, e.what(), e.SystemError());
    }

    if (ComPort->Active()) {
        try {
            ComPort->PurgeTx();
            Pause(100);
            ComPort->PurgeRx();
            AwaitingReply = false;

            while (!Terminated()) {
                if (!AwaitingReply) {
                    AwaitingReply = true;
                    Pause(200);
                    Form->CopySweepSettings();
                    const SweepWords words = EncodeSweep(Settings);
                    // Whatever is still queued (surplus or stray bytes) must not become
                    // the head of this sweep's reply.
                    ComPort->PurgeRx();
                    for (const std::string& line : RequestLines(words, Settings.Steps))
                        ComPort->WriteString(line);
                }
                Pause(50);
                if (Terminated())
                    break;
                const uint32_t replyBytes = uint32_t(Settings.Steps) * 4u;
                if (ComPort->InQueue() < replyBytes) {
                    if (ComPort->Lost()) {
                        EndOnItsOwn(TComThreadEnd::PortLost, std::string(), 0);
                        break;
                    }
                    continue;
                }
                // The window keeps the steps within 4000; the buffer's end is never passed.
                ComPort->Read(SampleBuffer, int32_t(std::min<uint32_t>(replyBytes, SampleBufferSize)));
                Form->HandOverSweep(SampleBuffer);
                AwaitingReply = false;
            }
        } catch (const EVornComPort& e) {
            EndOnItsOwn(TComThreadEnd::Failed, e.what(), e.SystemError());
        }
        try {
            ComPort->SetActive(false);
        } catch (const EVornComPort&) {
            // the port is closed all the same; the error, if any, is already recorded
        }
    }

    SampleBuffer = nullptr;
    samples.reset();
    ComPort = nullptr;
    port.reset();
    if (EndedOnItsOwn())
        Form->WorkerEnded();
}

std::string OpenFailureText(const std::string& componentMessage, int systemError)
{
    std::string text = componentMessage + ".";
    if (systemError == EACCES || systemError == EPERM)
        text += "\n\nYou have no permission to use this port. Add your user to the group "
                "'dialout' (sudo usermod -aG dialout $USER), log out and in again, then press Start.";
    else if (systemError == EBUSY)
        text += "\n\nAnother program is using this port. Close it, then press Start.";
    else if (systemError == ENOENT || systemError == ENODEV || systemError == ENXIO)
        text += "\n\nThe port is not there. Check that the analyser is plugged in.";
    return text;
}

std::string PortLostText(const std::string& portName)
{
    return "The connection to port '" + portName + "' was lost. Check that the analyser is "
           "plugged in, then press Start.";
}
