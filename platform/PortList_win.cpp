#include "platform/PortList_win.h"

#include <windows.h>

#include <cstring>
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

std::unique_ptr<PortProvider> MakeSystemPortProvider()
{
    return std::make_unique<WindowsPortProvider>();
}

WindowsPortProvider::WindowsPortProvider(std::string key) : key_(std::move(key)) {}

std::vector<PortEntry> WindowsPortProvider::Enumerate()
{
    std::vector<PortEntry> ports;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    std::vector<char> name(16384), data(1024);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = DWORD(name.size()), dataSize = DWORD(data.size()), type = 0;
        const LONG r = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue; // odd value (too long, not a text): not a port
        std::string port(data.data(), dataSize);
        while (!port.empty() && port.back() == '\0')
            port.pop_back();
        const int number = ComPortNumber(port);
        if (number < 0)
            continue;
        PortEntry e;
        e.text = port;
        e.number = number;
        e.preferred = std::string(name.data(), nameSize).find("VCP") != std::string::npos;
        ports.push_back(std::move(e));
    }
    RegCloseKey(key);
    return ports;
}

} // namespace kestrin
