#pragma once
// The "Simulator" serial port: a port-table entry whose opening starts an
// in-process simulated analyser (default antenna, real pacing).

#include <cstdint>
#include <functional>

namespace kestrin {

// Makes port number `number` open a fresh simulated analyser: the factory writes
// the analyser's pseudo-terminal path and returns the object that keeps it alive;
// releasing that object stops the analyser and closes the pseudo-terminal. When
// the analyser cannot start, the factory writes an empty path and returns nothing,
// so the open fails like that of a missing device.
void RegisterSimulatorPort(int number);

// The same, with the DDS clock (Hz) that the analyser is to use read from
// clockHz each time the port opens, so that a changed analyser model sweeps
// the frequencies the program asks for. clockHz is called on the thread that
// opens the port and must be safe there; a value below 1 means 400000000.
void RegisterSimulatorPort(int number, std::function<int64_t()> clockHz);

} // namespace kestrin
