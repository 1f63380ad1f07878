#pragma once
// The serial port list: what the port drop-down shows and which item it selects.
// The list rule is written once; a provider feeds it the ports of the system.
#include <memory>
#include <string>
#include <vector>

namespace kestrin {

// One port as the system enumerates it.
struct PortEntry {
    std::string text;       // shown in the list: the port's own short name, e.g. COM3 or ttyUSB0
    int number = 0;         // carried by the item: the n of COMn, or an entry of the port table
    bool preferred = false; // a port of the analyser's usual USB serial chip (FTDI)
    bool usbSerial = false; // another USB serial port: chosen before a port that is neither
    // What the tooltip tells about the port; each is empty when the system does not say.
    std::string path = {};  // the full device path, which every message names
    std::string driver = {};
    std::string manufacturer = {}, product = {}, serialNumber = {}; // a USB device's own strings
    std::string linkTarget = {}; // where a link in the device folder leads (a test bench's pseudo-terminal)
    std::string sortKey = {};    // sorted by this instead of text when not empty (COM2 before COM10)
};

struct PortListResult {
    std::vector<PortEntry> items; // sorted by text, plain byte order
    int selected = -1;            // index into items, -1 for an empty list
};

// Sorts the entries by text, or by the sort key a provider gives (so ttyUSB10 comes before
// ttyUSB2, but COM2 before COM10; equal texts keep their enumeration order) and appends the trailing items unsorted (the simulated analyser
// follows every device). Selects the item whose text is keep (the port chosen before the
// list was filled anew) while it is listed; else a preferred port, else a USB serial
// port, the last enumerated one of the strongest kind; else the first item.
PortListResult BuildPortList(std::vector<PortEntry> entries, const std::vector<PortEntry>& trailing = {},
                             const std::string& keep = {});

// The tooltip of a port's item: the full path, then the driver, the USB strings and a
// link's target, one per line, each only when known. Empty when nothing is known.
std::string PortToolTip(const PortEntry& port);

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
