#pragma once
// What a test needs to know of its own process.

// CPU time used by the process so far, in seconds.
double ProcessCpuSeconds();

// The process's open handles (descriptors on Linux) and threads.
struct ProcessResources {
    long handles = 0;
    long threads = 0;
    bool operator==(const ProcessResources&) const = default;
};
ProcessResources CurrentProcessResources();

// The program runs under Wine, whose COM ports are pseudo-terminals that more than one
// opener may hold.
bool UnderWine();
