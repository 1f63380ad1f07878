#include "platform/Console.h"

#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace kestrin {

bool IsTerminal(std::FILE* stream)
{
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

void UseParentConsole() {}

bool ProgramArguments(int argc, char** argv, std::vector<std::string>& arguments, std::string&)
{
    arguments.assign(argv, argv + argc);
    return true;
}

// The requests are blocked in every thread and taken by one thread with sigwait; SIGUSR1,
// blocked as well, sent to that thread alone, ends it.
struct InterruptWatch::State {
    sigset_t watched{};
    sigset_t saved{};
    std::thread waiter;
};

InterruptWatch::InterruptWatch(std::function<void()> onRequest) : state_(std::make_unique<State>())
{
    sigemptyset(&state_->watched);
    sigaddset(&state_->watched, SIGINT);
    sigaddset(&state_->watched, SIGTERM);
    sigaddset(&state_->watched, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &state_->watched, &state_->saved);
    state_->waiter = std::thread([watched = state_->watched, onRequest = std::move(onRequest)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&watched, &signal) != 0 || signal == SIGUSR1)
                return;
            onRequest();
        }
    });
}

InterruptWatch::~InterruptWatch()
{
    pthread_kill(state_->waiter.native_handle(), SIGUSR1);
    state_->waiter.join();
    // A request that came meanwhile is taken here rather than ending the process late.
    sigset_t pending;
    sigpending(&pending);
    const timespec none{0, 0};
    for (int signal : {SIGINT, SIGTERM, SIGUSR1})
        if (sigismember(&pending, signal) == 1) {
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, signal);
            sigtimedwait(&one, nullptr, &none);
        }
    pthread_sigmask(SIG_SETMASK, &state_->saved, nullptr);
}

} // namespace kestrin
