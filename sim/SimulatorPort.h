#pragma once
// The "Simulator" serial port: a port-table entry whose opening starts an
// in-process simulated analyser (default antenna, real pacing).

namespace kestrin {

// Makes port number `number` open a fresh simulated analyser at the DDS clock the opener
// hands over (below 1: 400000000 Hz), so that a changed analyser model sweeps the
// frequencies the program asks for. The factory writes the analyser's pseudo-terminal
// path and returns the object that keeps it alive; releasing that object stops the
// analyser and closes the pseudo-terminal. When the analyser cannot start, the factory
// writes an empty path and returns nothing, so the open fails like that of a missing device.
// The entry holds nothing but the number: it may outlive any window.
void RegisterSimulatorPort(int number);

} // namespace kestrin
