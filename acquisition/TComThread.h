#pragma once
// The sweep worker: owns the analyser's serial connection while the acquisition runs,
// sends one sweep request after another built from the window's settings, waits for
// each complete reply and hands it to the window, until it is told to stop.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "acquisition/SweepRequest.h"
#include "platform/Thread.h"

class TVornComPort;

// What the worker needs of the window that started it. All three are called on the
// worker thread; none may wait for the UI thread.
class TSweepWindow {
public:
    // Copies the requested settings into the worker's Settings under the window's lock.
    virtual void CopySweepSettings() = 0;
    // Takes a complete reply of Settings.Steps x 4 bytes with the settings it was requested with.
    virtual void HandOverSweep(const uint8_t* sampleBuffer) = 0;
    // The worker is ending on its own (see TComThread::EndCause); the window frees it
    // later on the UI thread.
    virtual void WorkerEnded() = 0;

protected:
    ~TSweepWindow() = default;
};

// Why a worker ended without being asked to.
enum class TComThreadEnd {
    None,       // still running, or ended because it was asked to
    OpenFailed, // the port could not be opened: EndMessage, EndSystemError
    PortLost,   // the device vanished while open (unplugged)
    Failed,     // the serial component raised an error while sweeping: EndMessage
};

class TComThread : public kestrin::TThread {
public:
    // Room in SampleBuffer: a reply of at most 4000 samples of 4 bytes.
    static constexpr int32_t SampleBufferSize = 16000;

    TComThread() = default;
    ~TComThread() override; // ends a running body first

    // Asks the body to end; a pause in progress ends at once.
    void Terminate();

    TVornComPort* ComPort = nullptr; // created and freed by the body, on its own thread
    bool AwaitingReply = false;      // a request is out and its reply not yet handed over
    TSweepWindow* Form = nullptr;
    SweepSettings Settings; // the sweep in progress, copied from the window before each request
    int32_t PortNumber = 0;
    uint8_t* SampleBuffer = nullptr; // SampleBufferSize bytes while the body runs

    // Set by the body before it calls Form->WorkerEnded; read the details after WaitFor.
    bool EndedOnItsOwn() const { return endCause_.load() != TComThreadEnd::None; }
    TComThreadEnd EndCause() const { return endCause_.load(); }
    const std::string& EndMessage() const { return endMessage_; }
    int EndSystemError() const { return endSystemError_; }

protected:
    void Execute() override;

private:
    // Sleeps ms milliseconds, or less when Terminate comes; the caller checks Terminated.
    void Pause(int ms);
    void DataAvailable(TVornComPort* sender);
    void EndOnItsOwn(TComThreadEnd cause, std::string message, int systemError);

    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;
    std::atomic<TComThreadEnd> endCause_{TComThreadEnd::None};
    std::string endMessage_;
    int endSystemError_ = 0;
};

// The error box text for a port that would not open: the component's message, and
// for a missing permission or a port in use what the person can do about it.
std::string OpenFailureText(const std::string& componentMessage, int systemError);

// The text telling the person that the connection to a port was lost.
std::string PortLostText(const std::string& portName);
