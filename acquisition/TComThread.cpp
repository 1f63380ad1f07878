#include "acquisition/TComThread.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <chrono>

#include "platform/SerialDevice.h"
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

void TComThread::AwaitReply(int ms)
{
    std::unique_lock lock(pauseMutex_);
    pauseWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Terminated() || replyComplete_; });
    replyComplete_ = false;
}

void TComThread::ExpectReply(uint32_t bytes)
{
    std::lock_guard lock(pauseMutex_);
    awaitedBytes_ = bytes;
    replyComplete_ = false;
}

void TComThread::DataAvailable(TVornComPort* sender)
{
    // Assigned so that received bytes stay queued until the worker reads them. It runs
    // where the port has just counted newly received bytes: once they hold the whole
    // reply, the waiting worker takes it at once.
    if (sender->InQueue() < awaitedBytes_.load())
        return;
    {
        std::lock_guard lock(pauseMutex_);
        replyComplete_ = true;
    }
    pauseWake_.notify_all();
}

void TComThread::EndOnItsOwn(TComThreadEnd cause, std::string message, int systemError)
{
    endMessage_ = std::move(message);
    endSystemError_ = systemError;
    endCause_ = cause;
}

void TReplySilence::Restart(Clock::time_point now)
{
    lastChange_ = now;
    received_ = 0;
}

bool TReplySilence::Silent(uint32_t received, Clock::time_point now)
{
    if (received != received_) {
        received_ = received;
        lastChange_ = now;
        return false;
    }
    return now - lastChange_ >= ReplySilenceLimit;
}

void TComThread::Execute()
{
    // Whatever escapes the body (a reader thread that cannot start, no memory) ends the
    // worker like a port error: the port is closed and freed on the way out, and the
    // window hears of it.
    try {
        Sweep();
    } catch (const EVornComPort& e) {
        EndOnItsOwn(TComThreadEnd::Failed, e.what(), e.SystemError());
    } catch (const std::exception& e) {
        EndOnItsOwn(TComThreadEnd::Error, e.what(), 0);
    } catch (...) {
        EndOnItsOwn(TComThreadEnd::Error, "unknown error", 0);
    }
    if (EndedOnItsOwn())
        Form->WorkerEnded();
}

void TComThread::Sweep()
{
    auto port = std::make_unique<TVornComPort>(nullptr);
    auto samples = std::make_unique<uint8_t[]>(SampleBufferSize);
    // Declared last, so it runs first: the fields never name a freed port or buffer.
    struct Publish {
        TComThread& worker;
        ~Publish()
        {
            worker.ComPort = nullptr;
            worker.SampleBuffer = nullptr;
        }
    } publish{*this};
    ComPort = port.get();
    SampleBuffer = samples.get();

    ComPort->SetPort(PortNumber);
    ComPort->SetBaudrate(115200);
    ComPort->SetByteSize(8);
    ComPort->SetStopBits(sbOne);
    ComPort->SetParity(ptNone);
    ComPort->FlowCtrl()->SetXonXoff(false);
    ComPort->SetOnDataAvailable([this](TVornComPort* sender) { DataAvailable(sender); });
    ComPort->SetRxBuffer(16384);
    ComPort->SetVirtualDeviceOptions({DdsClockHz});

    try {
        ComPort->SetActive(true);
    } catch (const EVornComPort& e) {
        EndOnItsOwn(TComThreadEnd::OpenFailed, e.what(), e.SystemError());
        return;
    }
    // A driver that refused the line settings leaves the port at its old speed, where the
    // analyser's replies cannot be read: that port did not open as the analyser needs it.
    if (const std::string refusal = ComPort->CommThread()->Device()->StateRefusal(); !refusal.empty()) {
        EndOnItsOwn(TComThreadEnd::OpenFailed, refusal, EIO);
        try {
            ComPort->SetActive(false);
        } catch (const EVornComPort&) {
            // the port is closed all the same
        }
        return;
    }

    try {
        ComPort->PurgeTx();
        Pause(100);
        ComPort->PurgeRx();
        AwaitingReply = false;
        TReplySilence silence;
        int abandoned = 0; // replies abandoned in a row

        while (!Terminated()) {
            if (!AwaitingReply) {
                AwaitingReply = true;
                Pause(200);
                Form->CopySweepSettings();
                const SweepWords words = EncodeSweep(Settings);
                // Whatever is still queued (surplus or stray bytes) must not become
                // the head of this sweep's reply.
                ComPort->PurgeRx();
                ExpectReply(uint32_t(Settings.Steps) * 4u);
                // A request line the port does not take whole never reaches the analyser:
                // the device has gone or stopped taking bytes, as when it is unplugged.
                bool written = true;
                for (const std::string& line : RequestLines(words, Settings.Steps)) {
                    if (ComPort->WriteString(line) < int32_t(line.size())) {
                        written = false;
                        break;
                    }
                }
                if (!written) {
                    EndOnItsOwn(TComThreadEnd::PortLost, std::string(), 0);
                    break;
                }
                silence.Restart(TReplySilence::Clock::now());
            }
            // Woken as soon as the port has the whole reply; every 50 ms in any case, to
            // notice silence and a lost device.
            AwaitReply(ReplyLookMs.load());
            if (Terminated())
                break;
            const uint32_t replyBytes = uint32_t(Settings.Steps) * 4u;
            const uint32_t received = ComPort->InQueue();
            Form->ReplyProgress(std::min(received, replyBytes), replyBytes);
            if (received < replyBytes) {
                if (ComPort->Lost()) {
                    EndOnItsOwn(TComThreadEnd::PortLost, std::string(), 0);
                    break;
                }
                if (silence.Silent(received, TReplySilence::Clock::now())) {
                    // Dropped whole, so nothing of it is shown; the next request follows.
                    ComPort->PurgeRx();
                    ExpectReply(kNoReply);
                    AwaitingReply = false;
                    if (++abandoned >= AbandonedRepliesLimit) {
                        EndOnItsOwn(TComThreadEnd::NoAnswer, std::string(), 0);
                        break;
                    }
                }
                continue;
            }
            // The window keeps the steps within 4000; the buffer's end is never passed.
            ComPort->Read(SampleBuffer, int32_t(std::min<uint32_t>(replyBytes, SampleBufferSize)));
            ExpectReply(kNoReply);
            Form->HandOverSweep(SampleBuffer);
            AwaitingReply = false;
            abandoned = 0;
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

namespace {

std::string Again(TryAgain again)
{
    return again == TryAgain::RunSweepTool ? "then run kestrin-vna-sweep again." : "then press Start.";
}

} // namespace

std::string OpenFailureText(const std::string& componentMessage, int systemError, TryAgain again)
{
    // The component names a COM port by its device path ("\\.\COM5"); people know it as "COM5".
    std::string text = componentMessage;
    const std::string devicePrefix = "'\\\\.\\";
    if (const auto at = text.find(devicePrefix); at != std::string::npos)
        text.erase(at + 1, devicePrefix.size() - 1);
    text += ".";
    if (systemError == EACCES || systemError == EPERM)
        text += "\n\nYou have no permission to use this port. Add your user to the group "
                "'dialout' (sudo usermod -aG dialout $USER), log out and in again, " + Again(again);
    else if (systemError == EBUSY)
        text += "\n\nAnother program is using this port. Close it, " + Again(again);
#ifdef _WIN32
    else if (systemError == ENOENT || systemError == ENODEV || systemError == ENXIO)
        text += "\n\nThe port is not there. Check that the analyser is plugged in and that the Device "
                "Manager lists it under Ports (COM & LPT) with its driver installed.";
    else
        text += "\n\nAnother program may hold the port, or its driver may have failed: close other "
                "programs, or unplug the analyser and plug it in again, " + Again(again);
#else
    else if (systemError == ENOENT || systemError == ENODEV || systemError == ENXIO)
        text += "\n\nThe port is not there. Check that the analyser is plugged in.";
#endif
    return text;
}

std::string PortLostText(const std::string& portName, TryAgain again)
{
    return "The connection to port '" + portName + "' was lost. Check that the analyser is plugged in, " +
           Again(again);
}

std::string NoAnswerText(const std::string& portName, TryAgain again)
{
    return "The analyser on port '" + portName + "' does not answer. Check that it is switched on and connected, " +
           Again(again);
}

std::string SweepStoppedText(const std::string& what)
{
    return "The sweep stopped: " + what + ".";
}

std::string WorkerEndText(const TComThread& worker, const std::string& portName, TryAgain again)
{
    switch (worker.EndCause()) {
    case TComThreadEnd::OpenFailed:
        return OpenFailureText(worker.EndMessage(), worker.EndSystemError(), again);
    case TComThreadEnd::PortLost:
        return PortLostText(portName, again);
    case TComThreadEnd::NoAnswer:
        return NoAnswerText(portName, again);
    case TComThreadEnd::Error:
        return SweepStoppedText(worker.EndMessage());
    default:
        return worker.EndMessage() + ".";
    }
}
