#pragma once
// The serial port list of Windows, for the port list itself and its tests.
#include <string>

#include "platform/PortList.h"

namespace kestrin {

// The number of a port name "COM" + decimal digits, in any case ("COM12": 12), or -1.
int ComPortNumber(const std::string& name);

// Windows: the values under HKEY_LOCAL_MACHINE\<key>, in the registry's enumeration
// order. Each value's data names a port, "COM" and its number; the item shows that name
// and carries the number (the device \\.\COMn). A value name containing "VCP" (FTDI's
// Virtual COM Port driver) makes its port preferred. A key that cannot be opened gives no
// ports; a value that does not name a COM port is skipped.
class WindowsPortProvider : public PortProvider {
public:
    explicit WindowsPortProvider(std::string key = "HARDWARE\\DEVICEMAP\\SERIALCOMM");
    std::vector<PortEntry> Enumerate() override;

private:
    std::string key_;
};

} // namespace kestrin
