#pragma once
// The serial port list of Linux, for the port list itself and its tests.
#include <functional>
#include <string>

#include "platform/PortList.h"

namespace kestrin {

// Linux: tty devices under <root>/sys/class/tty with a device link (ttyUSB, ttyACM,
// ttyAMA, rfcomm, and ttyS only with a real UART), plus <root>/dev/ttyUSB* and
// <root>/dev/ttyACM* that are symbolic links to pseudo-terminals (a test bench's
// virtual analyser). Each port's text is its kernel name (a link's own name), its path
// <root>/dev/<name>; sysfs gives its driver and a USB device's manufacturer, product and
// serial number. A driver ftdi_sio makes a port preferred; a ttyUSB or ttyACM name makes
// it a USB serial port. Numbers count up from firstNumber in enumeration order, and each
// is recorded in the port table (kestrin::SetPortPath). Missing or odd entries are skipped.
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

} // namespace kestrin
