// Windows has no pseudo-terminals: the pair is an in-process line. Its slave path is the
// line's path, which the serial device opens as it opens a COM port.
#include "platform/PseudoTerminal.h"

#include "platform/InProcessLine.h"

namespace kestrin {

PseudoTerminal::~PseudoTerminal() { Close(); }

bool PseudoTerminal::IsOpen() const { return line_ && fd_ >= 0; }

bool PseudoTerminal::Open(bool /*holdSlave: a line has no hang-up while no one holds it*/, std::string& error)
{
    Close();
    try {
        line_ = InProcessLine::Create();
    } catch (const std::exception& e) {
        error = std::string("cannot create the in-process line: ") + e.what();
        return false;
    }
    fd_ = 0; // open
    slavePath_ = line_->Path();
    return true;
}

bool PseudoTerminal::OpenPath(const std::string&)
{
    Close();
    return false;
}

void PseudoTerminal::Hangup()
{
    if (line_ && fd_ >= 0)
        line_->Close();
    fd_ = -1;
}

void PseudoTerminal::Close()
{
    Hangup();
    line_.reset();
    slavePath_.clear();
}

long PseudoTerminal::Read(void* buffer, size_t size)
{
    if (!IsOpen())
        return -1;
    return long(line_->TakeFromProgram(static_cast<uint8_t*>(buffer), size));
}

long PseudoTerminal::Write(const void* data, size_t size)
{
    if (!IsOpen())
        return -1;
    return long(line_->SendToProgram(static_cast<const uint8_t*>(data), size));
}

PseudoTerminal::WaitResult PseudoTerminal::Wait(short events, int timeoutMs)
{
    if (!line_)
        return WaitResult::Failed;
    const bool ready = events == 0 ? line_->WaitFromProgram(timeoutMs) : line_->WaitRoom(timeoutMs);
    if (line_->Interrupted())
        return WaitResult::Interrupted;
    if (fd_ < 0)
        return WaitResult::Failed;
    return ready ? WaitResult::Ready : WaitResult::TimedOut;
}

// The events argument tells the two waits apart: 0 for bytes to read, 1 for room to write.
PseudoTerminal::WaitResult PseudoTerminal::WaitReadable(int timeoutMs) { return Wait(0, timeoutMs); }

PseudoTerminal::WaitResult PseudoTerminal::WaitWritable(int timeoutMs) { return Wait(1, timeoutMs); }

bool PseudoTerminal::WaitInterrupt(int timeoutMs)
{
    return !line_ || line_->WaitInterrupt(timeoutMs);
}

void PseudoTerminal::Interrupt()
{
    if (line_)
        line_->Interrupt();
}

long PseudoTerminal::SlaveQueued() const
{
    return line_ ? long(line_->QueuedForProgram()) : -1;
}

} // namespace kestrin
