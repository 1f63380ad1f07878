#pragma once
// The serial port list of Windows, for the port list itself and its tests.
#include <string>

#include "platform/PortList.h"

namespace kestrin {

// The number of a port name "COM" + decimal digits, in any case ("COM12": 12), or -1.
int ComPortNumber(const std::string& name);

// Windows: the values under the registry key SERIALCOMM (under HKEY_LOCAL_MACHINE, the key
// HARDWARE\DEVICEMAP\SERIALCOMM; tests give a key of their own under HKEY_CURRENT_USER), in the
// registry's enumeration order. Each value's data names a port, "COM" and its number; the
// item shows that name, carries the number (the device \\.\COMn) and sorts by it (COM2
// before COM10). The value's name is the driver's device: "\Device\VCP0" (FTDI) makes the
// port preferred, the other USB serial drivers' ("\Device\Silabser0" of a CP210x,
// "\Device\USBSER000" of a USB CDC device, "\Device\ProlificSerial0", a CH340's
// "\Device\CH341SER0") make it a USB serial port, chosen before an on-board
// "\Device\Serial0". The tooltip gives the device's friendly name and maker where Windows
// knows them (SetupAPI), else the driver's device name. A key that cannot be opened gives
// no ports; a value that does not name a COM port is skipped.
class WindowsPortProvider : public PortProvider {
public:
    WindowsPortProvider();
    // root: an open registry key (HKEY) or predefined root; key: the path below it.
    WindowsPortProvider(void* root, std::string key);
    std::vector<PortEntry> Enumerate() override;

private:
    void* root_;
    std::string key_;
};

// What a SERIALCOMM value's name says of its port: 2 an FTDI adapter's, 1 another USB serial
// adapter's, 0 any other (an on-board port).
int UsbSerialKind(const std::string& deviceName);

} // namespace kestrin
