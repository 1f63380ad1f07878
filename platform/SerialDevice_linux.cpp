// The serial device on Linux: a tty, with poll on it and on an eventfd for the waits.
#include "SerialDevice.h"

// termios2 (any baud rate) comes from the kernel headers; glibc's <termios.h>
// would clash with them, so it is not used here.
#include <asm/termbits.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kestrin {
namespace {

struct BaudCode {
    uint32_t rate;
    unsigned code;
};

constexpr BaudCode kBaudCodes[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
    {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400},
    {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
    {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
};

// While a write is pending, the event wait looks at the transmit queue this often.
constexpr int kTxPollMs = 10;
// A write gives up when the tty takes no byte for this long.
constexpr int kWriteStallMs = 2000;

SerialLineState StateFromTermios(const termios2& t)
{
    SerialLineState s;
    s.baudRate = t.c_ospeed;
    if ((t.c_cflag & CBAUD) != BOTHER) {
        for (const auto& b : kBaudCodes)
            if (b.code == (t.c_cflag & CBAUD))
                s.baudRate = b.rate;
    }
    switch (t.c_cflag & CSIZE) {
    case CS5: s.byteSize = 5; break;
    case CS6: s.byteSize = 6; break;
    case CS7: s.byteSize = 7; break;
    default: s.byteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        s.parity = 0;
    else if (t.c_cflag & CMSPAR)
        s.parity = (t.c_cflag & PARODD) ? 3 : 4;
    else
        s.parity = (t.c_cflag & PARODD) ? 1 : 2;
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    s.flags = SerialFlag::Binary | SerialFlag::DtrOn;
    if (t.c_cflag & CRTSCTS)
        s.flags |= SerialFlag::CtsOutFlow | SerialFlag::RtsHandshake;
    else
        s.flags |= SerialFlag::RtsOn;
    if (t.c_iflag & IXON)
        s.flags |= SerialFlag::XonXoffOut;
    if (t.c_iflag & IXOFF)
        s.flags |= SerialFlag::XonXoffIn;
    if (t.c_iflag & INPCK)
        s.flags |= SerialFlag::ParityCheck;
    s.xonChar = char(t.c_cc[VSTART]);
    s.xoffChar = char(t.c_cc[VSTOP]);
    s.eofChar = char(t.c_cc[VEOF]);
    return s;
}

void SetModemLine(int fd, int line, bool on)
{
    // Fails on a pseudo-terminal; the line state does not depend on it.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

} // namespace

struct SerialDevice::Native {
    int fd = -1;
    int wakeFd = -1; // eventfd: stop requests and freed queue space
};

SerialDevice::SerialDevice() : native_(std::make_unique<Native>()) {}

std::string SerialDevice::PathForNumber(int)
{
    return std::string();
}

std::unique_ptr<SerialDevice> SerialDevice::Open(const std::string& path, int* error)
{
    auto fail = [&](int fd, int err) -> std::unique_ptr<SerialDevice> {
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = err;
        return nullptr;
    };
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(-1, errno);
    // The lock first: a port held by someone else must not lose its TIOCEXCL to us.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(fd, errno == EWOULDBLOCK ? EBUSY : errno);
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return fail(fd, errno);
    if (ioctl(fd, TIOCEXCL) != 0)
        return fail(fd, errno);
    int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        int err = errno;
        ioctl(fd, TIOCNXCL);
        return fail(fd, err);
    }
    std::unique_ptr<SerialDevice> dev(new SerialDevice);
    dev->native_->fd = fd;
    dev->native_->wakeFd = wakeFd;
    dev->state_ = StateFromTermios(t);
    if (error)
        *error = 0;
    return dev;
}

SerialDevice::~SerialDevice()
{
    CloseHandle();
}

void SerialDevice::CloseHandle()
{
    std::lock_guard writing(writeMutex_);
    std::lock_guard lock(mutex_);
    if (native_->fd >= 0) {
        ioctl(native_->fd, TIOCNXCL);
        ::close(native_->fd);
        native_->fd = -1;
    }
    if (native_->wakeFd >= 0) {
        ::close(native_->wakeFd);
        native_->wakeFd = -1;
    }
}

bool SerialDevice::GetState(SerialLineState& state)
{
    std::lock_guard lock(mutex_);
    if (native_->fd < 0)
        return false;
    state = state_;
    return true;
}

bool SerialDevice::SetState(const SerialLineState& s)
{
    std::lock_guard lock(mutex_);
    if (native_->fd < 0 || s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4
        || s.stopBits > 2)
        return false;
    termios2 t{};
    if (ioctl(native_->fd, TCGETS2, &t) != 0)
        return false;

    // Raw mode: every byte passes unchanged, reads complete from one byte on.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF
                   | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    unsigned code = BOTHER;
    for (const auto& b : kBaudCodes)
        if (b.rate == s.baudRate)
            code = b.code;
    t.c_cflag |= code | (code << IBSHIFT);
    t.c_ispeed = t.c_ospeed = s.baudRate;

    static const unsigned sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[s.byteSize - 5];
    switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.stopBits != 0) // Linux knows no 1.5 stop bits; the UART sends 1.5 for 5-bit bytes
        t.c_cflag |= CSTOPB;
    const uint32_t rts = s.flags & SerialFlag::RtsMask;
    if ((s.flags & SerialFlag::CtsOutFlow) || rts == SerialFlag::RtsHandshake)
        t.c_cflag |= CRTSCTS;
    if (s.flags & SerialFlag::XonXoffOut)
        t.c_iflag |= IXON;
    if (s.flags & SerialFlag::XonXoffIn)
        t.c_iflag |= IXOFF;
    if (s.flags & SerialFlag::ParityCheck)
        t.c_iflag |= INPCK;
    t.c_cc[VSTART] = cc_t(s.xonChar);
    t.c_cc[VSTOP] = cc_t(s.xoffChar);

    if (ioctl(native_->fd, TCSETS2, &t) != 0)
        return false;
    SetModemLine(native_->fd, TIOCM_DTR, (s.flags & SerialFlag::DtrMask) != 0);
    if (rts != SerialFlag::RtsHandshake)
        SetModemLine(native_->fd, TIOCM_RTS, rts != 0);
    state_ = s;
    return true;
}

bool SerialDevice::OpenLocked() const
{
    return native_->fd >= 0;
}

// The tty layer has queues of its own size, and no events to select: the wait polls.
void SerialDevice::SetDriverQueuesLocked(uint32_t, uint32_t) {}

void SerialDevice::SelectDriverEventsLocked(uint32_t) {}

void SerialDevice::WakeLocked()
{
    if (native_->wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(native_->wakeFd, &one, sizeof one);
    }
}

void SerialDevice::Stop()
{
    std::lock_guard lock(mutex_);
    stop_ = true;
    WakeLocked();
}

void SerialDevice::DrainLocked(bool hungUp)
{
    uint8_t chunk[4096];
    while (queue_.size() < capacity_) {
        const size_t want = std::min(sizeof chunk, capacity_ - queue_.size());
        const ssize_t n = ::read(native_->fd, chunk, want);
        if (n > 0) {
            queue_.insert(queue_.end(), chunk, chunk + n);
            newBytes_ = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        lost_ = true; // end of file or EIO: the device is gone
        return;
    }
    if (hungUp)
        lost_ = true;
}

SerialDevice::WaitResult SerialDevice::WaitEvent(uint32_t& events)
{
    events = 0;
    for (;;) {
        pollfd fds[2];
        bool watchTx;
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return WaitResult::Stopped;
            if (native_->fd < 0)
                return WaitResult::Lost;
            if (txWatch_) {
                int outq = 0;
                if (lost_ || ioctl(native_->fd, TIOCOUTQ, &outq) != 0 || outq == 0) {
                    txWatch_ = false;
                    if (eventMask_ & kSerialEvTxEmpty)
                        events |= kSerialEvTxEmpty;
                }
            }
            if (const std::optional<WaitResult> result = ResultLocked(events))
                return *result;
            watchTx = txWatch_ && (eventMask_ & kSerialEvTxEmpty);
            fds[0] = {native_->wakeFd, POLLIN, 0};
            fds[1] = {native_->fd, short(queue_.size() < capacity_ ? POLLIN : 0), 0};
        }
        const int r = ::poll(fds, 2, watchTx ? kTxPollMs : -1);
        if (r < 0 && errno != EINTR) {
            lost_ = true;
            continue;
        }
        std::lock_guard lock(mutex_);
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(native_->wakeFd, &count, sizeof count);
        }
        if (fds[1].revents)
            DrainLocked((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
    }
}

int32_t SerialDevice::Write(const void* buffer, int32_t count)
{
    // Bytes beyond what the tty takes at once wait for room rather than being dropped;
    // a line that takes nothing for kWriteStallMs (flow control holding it) ends the write.
    std::lock_guard writing(writeMutex_);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    int32_t written = 0;
    while (written < count) {
        int fd;
        {
            std::lock_guard lock(mutex_);
            if (native_->fd < 0)
                break;
            fd = native_->fd;
            const ssize_t n = ::write(native_->fd, bytes + written, size_t(count - written));
            if (n > 0) {
                written += int32_t(n);
                txWatch_ = true;
                if (eventMask_ & kSerialEvTxEmpty)
                    WakeLocked();
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (!(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
                break;
        }
        // The descriptor stays open meanwhile: CloseHandle takes writeMutex_ too.
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kWriteStallMs) <= 0 || !(p.revents & POLLOUT))
            break;
    }
    return written;
}

bool SerialDevice::Purge(uint32_t flags)
{
    std::lock_guard lock(mutex_);
    if (native_->fd < 0)
        return false;
    if (flags & (kSerialPurgeRxAbort | kSerialPurgeRxClear)) {
        const bool wasFull = queue_.size() >= capacity_;
        queue_.clear();
        newBytes_ = false;
        ioctl(native_->fd, TCFLSH, TCIFLUSH);
        if (wasFull)
            WakeLocked();
    }
    if (flags & (kSerialPurgeTxAbort | kSerialPurgeTxClear))
        ioctl(native_->fd, TCFLSH, TCOFLUSH);
    return true;
}

} // namespace kestrin
