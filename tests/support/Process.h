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
// The process's resources once they have stayed the same for 500 ms (up to 10 s): a thread
// that has just ended, or one Wine runs for a wait of its own, is still counted for a moment.
ProcessResources SettledProcessResources();

// The program runs under Wine, whose COM ports are pseudo-terminals that more than one
// opener may hold.
bool UnderWine();
