// What the process facts of every platform share.
#include "support/Process.h"

#include <chrono>
#include <thread>

ProcessResources SettledProcessResources()
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    ProcessResources last = CurrentProcessResources();
    for (auto since = Clock::now(); Clock::now() - since < std::chrono::milliseconds(500) && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (const ProcessResources now = CurrentProcessResources(); !(now == last)) {
            last = now;
            since = Clock::now();
        }
    }
    return last;
}
