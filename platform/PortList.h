#pragma once
// The serial port list: what the port drop-down shows and which item it selects.
// The list rule is written once; a provider feeds it the ports of the system.
#include <functional>
#include <string>
#include <vector>

namespace kestrin {

// One port as the system enumerates it.
struct PortEntry {
    std::string text;       // shown in the list, e.g. /dev/ttyUSB0
    int number = 0;         // carried by the item; the port table maps it to the device
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

// Linux: tty devices under <root>/sys/class/tty with a device link (ttyUSB, ttyACM,
// ttyAMA, rfcomm, and ttyS only with a real UART), plus <root>/dev/ttyUSB* and
// <root>/dev/ttyACM* that are symbolic links to pseudo-terminals (a test bench's
// virtual analyser). A driver ftdi_sio makes a port preferred. Numbers count up from
// firstNumber in enumeration order, and each is recorded in the port table
// (kestrin::SetPortPath). Missing or odd entries are skipped.
class LinuxPortProvider : public PortProvider {
public:
    explicit LinuxPortProvider(std::string root = "/", int firstNumber = 1);
    std::vector<PortEntry> Enumerate() override;

    // Whether the serial port at the device path has a real UART; the default asks the
    // driver (TIOCGSERIAL, type not PORT_UNKNOWN). Replaceable for tests.
    std::function<bool(const std::string& devicePath)> hasRealUart;

private:
    std::string root_;
    int firstNumber_;
};

// The number carried by the "Simulator" item that follows the device ports.
constexpr int SimulatorPortNumber = 9999;
inline constexpr const char* SimulatorPortText = "Simulator";

} // namespace kestrin
