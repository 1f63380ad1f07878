#include "support/Process.h"

#include <chrono>
#include <thread>

#include <ctime>
#include <filesystem>
#include <iterator>

double ProcessCpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

ProcessResources CurrentProcessResources()
{
    using std::filesystem::directory_iterator;
    const auto count = [](const char* dir) { return long(std::distance(directory_iterator(dir), {})); };
    return {count("/proc/self/fd"), count("/proc/self/task")};
}

bool UnderWine() { return false; }

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
