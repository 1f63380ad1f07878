#include "support/Process.h"

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
