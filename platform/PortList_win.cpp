#include "platform/PortList_win.h"

#include <windows.h>

#include <setupapi.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace kestrin {

int ComPortNumber(const std::string& name)
{
    if (name.size() <= 3 || name.size() > 12 || _strnicmp(name.c_str(), "COM", 3) != 0)
        return -1;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

int UsbSerialKind(const std::string& deviceName)
{
    if (deviceName.find("VCP") != std::string::npos)
        return 2;
    std::string lower = deviceName;
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    // The names the USB serial drivers give their devices: Silicon Labs CP210x, Windows' own
    // USB CDC driver, Prolific PL2303, WCH CH340/CH341 (two generations of its driver).
    for (const char* driver : {"silabser", "usbser", "prolificserial", "ch341ser", "ch34", "wchusbser"})
        if (lower.find(driver) != std::string::npos)
            return 1;
    return 0;
}

namespace {

std::string Utf8(const wchar_t* text, size_t length)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::wstring Wide(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

struct DeviceText {
    std::string friendlyName, maker;
};

// What Windows' device manager knows of the present ports, by COM number: the friendly
// name ("USB-SERIAL CH340 (COM5)") and the maker.
std::map<int, DeviceText> PortDevices()
{
    std::map<int, DeviceText> devices;
    // The device setup class "Ports (COM & LPT)".
    static const GUID portsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO set = SetupDiGetClassDevsW(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t portName[64] = {};
        DWORD size = sizeof portName - sizeof(wchar_t), type = 0;
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                                            &size) == ERROR_SUCCESS && type == REG_SZ;
        RegCloseKey(key);
        const int number = named ? ComPortNumber(Utf8(portName, wcsnlen(portName, 63))) : -1;
        if (number < 0)
            continue;
        auto property = [&](DWORD which) {
            wchar_t text[512] = {};
            DWORD dataType = 0;
            if (!SetupDiGetDeviceRegistryPropertyW(set, &device, which, &dataType, reinterpret_cast<BYTE*>(text),
                                                   sizeof text - sizeof(wchar_t), nullptr) ||
                dataType != REG_SZ)
                return std::string();
            return Utf8(text, wcsnlen(text, 511));
        };
        devices[number] = {property(SPDRP_FRIENDLYNAME), property(SPDRP_MFG)};
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

} // namespace

std::unique_ptr<PortProvider> MakeSystemPortProvider()
{
    return std::make_unique<WindowsPortProvider>();
}

WindowsPortProvider::WindowsPortProvider() : WindowsPortProvider(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM")
{
}

WindowsPortProvider::WindowsPortProvider(void* root, std::string key) : root_(root), key_(std::move(key)) {}

std::vector<PortEntry> WindowsPortProvider::Enumerate()
{
    std::vector<PortEntry> ports;
    HKEY key;
    if (RegOpenKeyExW(static_cast<HKEY>(root_), Wide(key_).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    std::vector<wchar_t> name(16384), data(512);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = DWORD(name.size()), dataSize = DWORD(data.size() * sizeof(wchar_t)), type = 0;
        const LONG r = RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue; // odd value (too long, not a text): not a port
        std::string port = Utf8(data.data(), wcsnlen(data.data(), dataSize / sizeof(wchar_t)));
        const int number = ComPortNumber(port);
        if (number < 0)
            continue;
        const std::string device = Utf8(name.data(), nameSize);
        const int kind = UsbSerialKind(device);
        PortEntry e;
        e.text = "COM" + std::to_string(number);
        e.number = number;
        e.preferred = kind == 2;
        e.usbSerial = kind == 1;
        e.path = "\\\\.\\" + e.text;
        e.driver = device;
        char key10[16];
        std::snprintf(key10, sizeof key10, "COM%010d", number);
        e.sortKey = key10;
        ports.push_back(std::move(e));
    }
    RegCloseKey(key);
    if (ports.empty())
        return ports;
    const std::map<int, DeviceText> devices = PortDevices();
    for (PortEntry& e : ports) {
        const auto found = devices.find(e.number);
        if (found == devices.end() || found->second.friendlyName.empty())
            continue;
        // Windows knows the adapter: its name and maker as the Device Manager shows them.
        e.product = found->second.friendlyName;
        e.manufacturer = found->second.maker;
    }
    return ports;
}

} // namespace kestrin
