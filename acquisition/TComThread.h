#pragma once
// The sweep worker: owns the analyser's serial connection while the acquisition runs,
// sends one sweep request after another built from the window's settings, waits for
// each complete reply and hands it to the window, until it is told to stop.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "acquisition/SweepRequest.h"
#include "platform/Thread.h"

class TVornComPort;

// What the worker needs of the window that started it. All are called on the worker
// thread; none may wait for the UI thread.
class TSweepWindow {
public:
    // The bytes of the reply under way so far, of the expected count, each time the worker
    // looks; for a progress display. A window may ignore it.
    virtual void ReplyProgress(uint32_t received, uint32_t expected)
    {
        (void)received;
        (void)expected;
    }
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
    PortLost,   // the device vanished while open (unplugged), or took no request line
    Failed,     // the serial component raised an error while sweeping: EndMessage
    NoAnswer,   // AbandonedRepliesLimit replies in a row were abandoned
    Error,      // any other error ended the body (no thread, no memory): EndMessage
};

// An incomplete reply is abandoned when no byte has arrived for this long.
constexpr std::chrono::milliseconds ReplySilenceLimit{2000};
// After this many abandoned replies in a row the analyser counts as not answering.
constexpr int AbandonedRepliesLimit = 3;

// Tells when an incomplete reply has gone silent: no change of the received count for
// ReplySilenceLimit, measured on the clock, however often it is looked at. An analyser that
// keeps sending, however slowly, is never silent.
class TReplySilence {
public:
    using Clock = std::chrono::steady_clock;
    // A request has just been sent; nothing of its reply has arrived.
    void Restart(Clock::time_point now);
    // Notes the received count at now; true once it has not changed for ReplySilenceLimit.
    bool Silent(uint32_t received, Clock::time_point now);

private:
    Clock::time_point lastChange_{};
    uint32_t received_ = 0;
};

class TComThread : public kestrin::TThread {
public:
    // Room in SampleBuffer: a reply of at most 4000 samples of 4 bytes.
    static constexpr int32_t SampleBufferSize = 16000;

    TComThread() = default;
    ~TComThread() override; // ends a running body first

    // Asks the body to end; a pause in progress ends at once.
    void Terminate();

    // The longest wait between two looks at the port while a reply is awaited. The port
    // wakes the worker as soon as the reply is complete; the looks notice silence and a
    // lost device. (Tests lengthen it to show that the wake alone brings every sweep.)
    static inline std::atomic<int> ReplyLookMs{50};

    TVornComPort* ComPort = nullptr; // created and freed by the body, on its own thread
    bool AwaitingReply = false;      // a request is out and its reply not yet handed over
    TSweepWindow* Form = nullptr;
    SweepSettings Settings; // the sweep in progress, copied from the window before each request
    int32_t PortNumber = 0;
    int32_t DdsClockHz = 0; // handed to an in-process analyser when the port opens (0: its own)
    uint8_t* SampleBuffer = nullptr; // SampleBufferSize bytes while the body runs

    // Set by the body before it calls Form->WorkerEnded; read the details after WaitFor.
    bool EndedOnItsOwn() const { return endCause_.load() != TComThreadEnd::None; }
    TComThreadEnd EndCause() const { return endCause_.load(); }
    const std::string& EndMessage() const { return endMessage_; }
    int EndSystemError() const { return endSystemError_; }

protected:
    void Execute() override;

private:
    // The body: opens the port, sweeps until told to stop or an end of its own, closes it.
    void Sweep();
    // Sleeps ms milliseconds, or less when Terminate comes; the caller checks Terminated.
    void Pause(int ms);
    // As Pause, and less when the port reports the reply of ExpectReply complete.
    void AwaitReply(int ms);
    // The reply the request about to go out asks for, in bytes (kNoReply: none).
    void ExpectReply(uint32_t bytes);
    // The port's handler: on the UI thread whenever it has counted newly received bytes.
    void DataAvailable(TVornComPort* sender);
    void EndOnItsOwn(TComThreadEnd cause, std::string message, int systemError);

    static constexpr uint32_t kNoReply = UINT32_MAX;

    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;
    std::atomic<uint32_t> awaitedBytes_{kNoReply};
    bool replyComplete_ = false; // guarded by pauseMutex_: the port counted the whole reply
    std::atomic<TComThreadEnd> endCause_{TComThreadEnd::None};
    std::string endMessage_;
    int endSystemError_ = 0;
};

// How the person tries again once they have seen to the cause: the window's Start button,
// or running the command-line tool again. The texts below end with it.
enum class TryAgain { PressStart, RunSweepTool };

// The text for a port that would not open (the window's error box, the tool's message):
// the component's message, and for a missing permission or a port in use what the person
// can do about it.
std::string OpenFailureText(const std::string& componentMessage, int systemError,
                            TryAgain again = TryAgain::PressStart);

// The text telling the person that the connection to a port was lost.
std::string PortLostText(const std::string& portName, TryAgain again = TryAgain::PressStart);

// The text telling the person that the analyser on a port does not answer.
std::string NoAnswerText(const std::string& portName, TryAgain again = TryAgain::PressStart);

// The text for any other error that ended the sweep.
std::string SweepStoppedText(const std::string& what);

// Why a worker that ended on its own ended, told the person: portName is the port's
// device path (or the name it is known by).
std::string WorkerEndText(const TComThread& worker, const std::string& portName,
                          TryAgain again = TryAgain::PressStart);
