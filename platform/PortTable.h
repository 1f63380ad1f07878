#pragma once
// The table that maps a serial port number (what the port list carries with each
// item and what TVornComPort::Port holds) to the device to open. Linux has no COM
// numbers, so the port list fills this table as it enumerates devices.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrin {

// What the opener of an in-process device tells it about the analyser it is to play:
// the DDS clock in Hz its tuning words are computed for (below 1: the device's own).
struct VirtualDeviceOptions {
    int64_t ddsClockHz = 0;
};

// An in-process device (the simulated analyser) is opened through a factory: it
// makes the device for the options given, writes the path to open into its argument,
// and returns an object that keeps the device alive; the port releases it after closing.
using VirtualPortFactory =
    std::function<std::shared_ptr<void>(const VirtualDeviceOptions& options, std::string& pathOut)>;

struct PortTableEntry {
    std::string path;               // device path, e.g. /dev/ttyUSB0; empty for a virtual port
    VirtualPortFactory openVirtual; // set only for a virtual port
};

// Thread-safe: the port list writes on the UI thread, the sweep worker reads.
void SetPortPath(int number, std::string path);
void SetVirtualPort(int number, VirtualPortFactory factory);
void RemovePort(int number);
std::optional<PortTableEntry> FindPort(int number);

} // namespace kestrin
