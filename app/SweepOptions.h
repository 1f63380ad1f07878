#pragma once
// The command line of kestrin-vna-sweep: the port, the sweep settings (the window's
// defaults, checked by the window's rules with its messages), how many sweeps, and in
// which format they go where.
#include <cstdint>
#include <string>
#include <vector>

#include "measure/Extended.h"

namespace kestrin {

enum class SweepFormat { Csv, Touchstone, Summary };

struct SweepOptions {
    std::string Port; // a device path, a name from the port list (ttyUSB0), or "simulator"
    int32_t StartKHz = 0;
    int32_t EndKHz = 0;
    int32_t Steps = 0;
    int32_t DdsClockHz = 0;
    Extended RLCalDb = 0;
    int64_t Count = 1; // 0: until interrupted
    SweepFormat Format = SweepFormat::Csv;
    std::string Output; // empty: standard output
    int32_t Average = 1;               // sweeps in the mean, 1 (none) to 16
    Extended BandwidthSwr = 2;         // the summary's SWR bandwidth limit
    bool Help = false;
    bool Version = false;
};

struct SweepOptionsResult {
    SweepOptions Options;
    std::string Error; // empty when the command line is good; else for stderr, status 2
};

inline constexpr const char* SweepToolName = "kestrin-vna-sweep";

// arguments: without the program name. --help and --version win over everything after them.
SweepOptionsResult ParseSweepOptions(const std::vector<std::string>& arguments);

// What --help prints.
std::string SweepToolHelp();

// Whether the port names the simulated analyser ("simulator", in any case).
bool IsSimulatorPort(const std::string& port);

} // namespace kestrin
