// A pseudo-terminal pair of the system: the master side's descriptor, an eventfd as the interrupt.
#include "platform/PseudoTerminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kestrin {

namespace {

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool MakeNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

PseudoTerminal::~PseudoTerminal() { Close(); }

bool PseudoTerminal::IsOpen() const { return fd_ >= 0; }

bool PseudoTerminal::Open(bool holdSlave, std::string& error)
{
    Close();
    auto fail = [&](const char* what) {
        error = std::string(what) + ": " + std::strerror(errno);
        Close();
        return false;
    };
    interrupt_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (interrupt_ < 0)
        return fail("cannot create the stop event");
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0)
        return fail("cannot create a pseudo-terminal");
    if (grantpt(fd_) != 0 || unlockpt(fd_) != 0)
        return fail("cannot unlock the pseudo-terminal");
    char name[128];
    if (ptsname_r(fd_, name, sizeof name) != 0)
        return fail("cannot name the pseudo-terminal");
    slavePath_ = name;
    if (holdSlave) {
        slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveHold_ < 0)
            return fail("cannot open the pseudo-terminal's slave side");
        termios tio{};
        if (tcgetattr(slaveHold_, &tio) != 0)
            return fail("cannot read the terminal settings");
        cfmakeraw(&tio);
        cfsetspeed(&tio, B115200);
        if (tcsetattr(slaveHold_, TCSANOW, &tio) != 0)
            return fail("cannot set raw mode");
    }
    if (!MakeNonBlocking(fd_))
        return fail("cannot make the pseudo-terminal non-blocking");
    return true;
}

bool PseudoTerminal::OpenPath(const std::string& path)
{
    Close();
    interrupt_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (interrupt_ < 0 || fd_ < 0 || !MakeNonBlocking(fd_)) {
        Close();
        return false;
    }
    return true;
}

void PseudoTerminal::Hangup()
{
    CloseFd(fd_);
    CloseFd(slaveHold_);
}

void PseudoTerminal::Close()
{
    Hangup();
    CloseFd(interrupt_);
    slavePath_.clear();
}

long PseudoTerminal::Read(void* buffer, size_t size)
{
    ssize_t n;
    while ((n = ::read(fd_, buffer, size)) < 0 && errno == EINTR) {
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return 0;
    return n > 0 ? long(n) : -1; // a master reads an error, or nothing, once the slave has gone
}

long PseudoTerminal::Write(const void* data, size_t size)
{
    ssize_t n;
    while ((n = ::write(fd_, data, size)) < 0 && errno == EINTR) {
    }
    if (n < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    return long(n);
}

PseudoTerminal::WaitResult PseudoTerminal::Wait(short events, int timeoutMs)
{
    pollfd fds[2] = {{fd_, events, 0}, {interrupt_, POLLIN, 0}};
    int r;
    while ((r = ::poll(fds, 2, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (r < 0)
        return WaitResult::Failed;
    if (fds[1].revents & POLLIN)
        return WaitResult::Interrupted;
    if (r == 0)
        return WaitResult::TimedOut;
    if (fds[0].revents & (POLLERR | POLLNVAL))
        return WaitResult::Failed;
    return WaitResult::Ready;
}

PseudoTerminal::WaitResult PseudoTerminal::WaitReadable(int timeoutMs) { return Wait(POLLIN, timeoutMs); }

PseudoTerminal::WaitResult PseudoTerminal::WaitWritable(int timeoutMs) { return Wait(POLLOUT, timeoutMs); }

bool PseudoTerminal::WaitInterrupt(int timeoutMs)
{
    pollfd p{interrupt_, POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return r != 0;
}

void PseudoTerminal::Interrupt()
{
    const uint64_t one = 1;
    while (::write(interrupt_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

long PseudoTerminal::SlaveQueued() const
{
    int queued = 0;
    if (slaveHold_ < 0 || ioctl(slaveHold_, TIOCINQ, &queued) != 0)
        return -1;
    return queued;
}

} // namespace kestrin
