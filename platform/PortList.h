#pragma once
// The serial port list: what the port drop-down shows and which item it selects.
// The list rule is written once; a provider feeds it the ports of the system.
#include <memory>
#include <string>
#include <vector>

namespace kestrin {

// One port as the system enumerates it.
struct PortEntry {
    std::string text;       // shown in the list, e.g. COM3 or /dev/ttyUSB0
    int number = 0;         // carried by the item: the n of COMn, or an entry of the port table
    bool preferred = false; // a port of the analyser's usual USB serial chip
};

struct PortListResult {
    std::vector<PortEntry> items; // sorted by text, plain byte order
    int selected = -1;            // index into items, -1 for an empty list
};

// Sorts the entries by text (so /dev/ttyUSB10 comes before /dev/ttyUSB2; equal texts
// keep their enumeration order), appends the trailing items unsorted (the simulated
// analyser follows every device), and selects the preferred port, the last enumerated
// one if several are preferred, else the first item.
PortListResult BuildPortList(std::vector<PortEntry> entries, const std::vector<PortEntry>& trailing = {});

class PortProvider {
public:
    virtual ~PortProvider() = default;
    // The ports in the system's enumeration order.
    virtual std::vector<PortEntry> Enumerate() = 0;
};

// The provider of the system the program runs on, numbering its ports from 1.
std::unique_ptr<PortProvider> MakeSystemPortProvider();

// The number carried by the "Simulator" item that follows the device ports.
constexpr int SimulatorPortNumber = 9999;
inline constexpr const char* SimulatorPortText = "Simulator";

} // namespace kestrin
