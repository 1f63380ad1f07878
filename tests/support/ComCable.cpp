// kestrin-com-cable: null-modem cables between pairs of pseudo-terminals, for the tests of
// the Windows build under Wine, where a COM port is a link to a terminal.
//
// kestrin-com-cable DIR FIRST COUNT makes COUNT cables. Cable i joins the links
// DIR/com<FIRST+2i> (the near end, the port under test) and DIR/com<FIRST+2i+1> (the far end,
// which the test plays): what is written into one end comes out of the other. The near end
// is held open here, so the port under test can open and close it any number of times.
// When the far end, once opened, is closed again, the cable is cut: the near end hangs up,
// as a serial device does when its USB adapter is pulled. A new cable then takes the same
// two names, for the next test program (a program takes each cable once). Prints "ready"
// once every link is in place, and serves until SIGINT or SIGTERM; then it removes its links.
#include "platform/PseudoTerminal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using kestrin::PseudoTerminal;

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) { stopRequested = 1; }

// Bytes read from one end and not yet taken by the other.
struct Direction {
    PseudoTerminal* from;
    PseudoTerminal* to;
    std::deque<char> pending;
};

bool Link(const std::string& target, const std::string& link)
{
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    return ::symlink(target.c_str(), temporary.c_str()) == 0 && ::rename(temporary.c_str(), link.c_str()) == 0;
}

struct Cable {
    PseudoTerminal nearEnd;
    PseudoTerminal farEnd;
    std::string nearLink, farLink;
    Direction out{&nearEnd, &farEnd, {}}; // written by the port under test
    Direction in{&farEnd, &nearEnd, {}};  // written by the test

    // Makes both terminals and points the links at them; false with a message on failure.
    bool Lay(std::string& error)
    {
        if (!nearEnd.Open(true, error) || !farEnd.Open(false, error))
            return false;
        if (!Link(nearEnd.SlavePath(), nearLink) || !Link(farEnd.SlavePath(), farLink)) {
            error = std::string("cannot make the links: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
};

// The cable named nearLink and farLink, laid; null with a message on failure.
std::unique_ptr<Cable> LayCable(const std::string& nearLink, const std::string& farLink, std::string& error)
{
    auto c = std::make_unique<Cable>();
    c->nearLink = nearLink;
    c->farLink = farLink;
    return c->Lay(error) ? std::move(c) : nullptr;
}

// Moves what the source has to the destination, as far as the destination takes it.
// False when the far end has hung up.
bool Pump(Direction& d, short fromEvents, short toEvents)
{
    if ((toEvents & POLLOUT) || !d.pending.empty()) {
        while (!d.pending.empty()) {
            char chunk[4096];
            size_t n = 0;
            for (; n < sizeof chunk && n < d.pending.size(); ++n)
                chunk[n] = d.pending[n];
            const long written = d.to->Write(chunk, n);
            if (written <= 0)
                break;
            d.pending.erase(d.pending.begin(), d.pending.begin() + written);
        }
    }
    if (fromEvents & (POLLIN | POLLHUP | POLLERR)) {
        while (d.pending.size() < 65536) {
            char chunk[4096];
            const long n = d.from->Read(chunk, sizeof chunk);
            if (n < 0)
                return false;
            if (n == 0)
                break;
            d.pending.insert(d.pending.end(), chunk, chunk + n);
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DIR FIRST COUNT\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const int first = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    std::vector<std::unique_ptr<Cable>> cables;
    for (int i = 0; i < count; ++i) {
        std::string error;
        auto c = LayCable(dir + "/com" + std::to_string(first + 2 * i), dir + "/com" + std::to_string(first + 2 * i + 1),
                          error);
        if (!c) {
            std::fprintf(stderr, "kestrin-com-cable: %s\n", error.c_str());
            return 1;
        }
        cables.push_back(std::move(c));
    }
    std::printf("ready\n");
    std::fflush(stdout);

    while (!stopRequested) {
        std::vector<pollfd> fds;
        std::vector<Cable*> polled;
        for (auto& c : cables) {
            // A full buffer waits for the destination; the other side is read meanwhile.
            const auto want = [](const Direction& d, bool source) {
                return short(source ? (d.pending.size() < 65536 ? POLLIN : 0) : (d.pending.empty() ? 0 : POLLOUT));
            };
            fds.push_back({int(c->nearEnd.NativeHandle()), short(want(c->out, true) | want(c->in, false)), 0});
            fds.push_back({int(c->farEnd.NativeHandle()), short(want(c->in, true) | want(c->out, false)), 0});
            polled.push_back(c.get());
        }
        if (::poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR)
            break;
        for (size_t i = 0; i < polled.size(); ++i) {
            Cable& c = *polled[i];
            const short nearEvents = fds[2 * i].revents, farEvents = fds[2 * i + 1].revents;
            // The far end hangs up only after the test has opened and closed it.
            const bool outOk = Pump(c.out, nearEvents, farEvents), inOk = outOk && Pump(c.in, farEvents, nearEvents);
            if (outOk && inOk && !(farEvents & POLLHUP))
                continue;
            std::fprintf(stderr, "kestrin-com-cable: %s cut (%s; near events %#x, far events %#x)\n", c.farLink.c_str(),
                         !outOk ? "the near end failed" : !inOk ? "the far end failed" : "the far end hung up",
                         unsigned(nearEvents), unsigned(farEvents));
            // Cut: the new cable is laid (and linked) before the old one's terminals close,
            // so that their numbers cannot come back under the same names meanwhile.
            std::string error;
            auto fresh = LayCable(c.nearLink, c.farLink, error);
            if (!fresh) {
                std::fprintf(stderr, "kestrin-com-cable: %s\n", error.c_str());
                return 1;
            }
            for (auto& slot : cables)
                if (slot.get() == &c)
                    slot = std::move(fresh);
        }
    }
    for (auto& c : cables) {
        ::unlink(c->nearLink.c_str());
        ::unlink(c->farLink.c_str());
    }
    return 0;
}
