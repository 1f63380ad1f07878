// The serial port list of Windows: the values of a registry key like SERIALCOMM, a key of
// the test's own under HKEY_CURRENT_USER (the machine's own list is only read).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/PortList_win.h"

using kestrin::PortEntry;
using Texts = std::vector<std::string>;

namespace {

// A key of the test's own while the object lives, removed with all its values afterwards.
class SerialCommValues {
public:
    explicit SerialCommValues(const std::string& name = "SERIALCOMM")
        : path_("Software\\Kestrin VNA tests " + std::to_string(GetCurrentProcessId()) + "\\" + name)
    {
        RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~SerialCommValues()
    {
        RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, path_.substr(0, path_.rfind('\\')).c_str()); // once empty
    }
    void AddText(const std::string& name, const std::string& port)
    {
        RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                       DWORD(port.size() + 1));
    }
    void AddNumber(const std::string& name, DWORD number)
    {
        RegSetValueExA(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    kestrin::PortListResult List() const
    {
        return kestrin::BuildPortList(kestrin::WindowsPortProvider(HKEY_CURRENT_USER, path_).Enumerate());
    }

private:
    std::string path_;
    HKEY key_ = nullptr;
};

Texts TextsOf(const kestrin::PortListResult& r)
{
    Texts texts;
    for (const PortEntry& e : r.items) {
        texts.push_back(e.text);
        EXPECT_EQ("COM" + std::to_string(e.number), e.text) << "the number is the port's own";
    }
    return texts;
}

std::string Selected(const kestrin::PortListResult& r)
{
    return r.selected < 0 ? std::string() : r.items[size_t(r.selected)].text;
}

} // namespace

TEST(PortList, ComPortsInNumberOrderWithAnyUsbAdapterBeforeAnOnBoardPort)
{
    // The prefix was set up with the simulated analyser as an FTDI port.
    if (const char* com = std::getenv("KESTRIN_SIM_COM")) {
        const kestrin::PortListResult machine = kestrin::BuildPortList(kestrin::WindowsPortProvider().Enumerate());
        EXPECT_EQ(Selected(machine), std::string("COM") + com);
    }

    SerialCommValues values;
    values.AddText("\\Device\\Serial0", "COM2");
    values.AddText("\\Device\\Serial1", "COM10");
    values.AddText("\\Device\\Serial2", "COM1");
    values.AddText("\\Device\\Serial3", "LPT1");    // not a COM port
    values.AddText("\\Device\\Serial4", "COMX");    // no number
    values.AddNumber("\\Device\\Serial5", 3);       // not a text
    kestrin::PortListResult r = values.List();
    EXPECT_EQ(TextsOf(r), (Texts{"COM1", "COM2", "COM10"}));
    EXPECT_EQ(r.selected, 0) << "no USB adapter: the first port";

    // A CP210x at COM12 beside the on-board ports; then a CH340 and a Prolific adapter;
    // an FTDI adapter wins over them all, as on Linux.
    values.AddText("\\Device\\Silabser0", "COM12");
    r = values.List();
    EXPECT_EQ(TextsOf(r), (Texts{"COM1", "COM2", "COM10", "COM12"}));
    EXPECT_EQ(Selected(r), "COM12");
    // Windows' device manager does not know these ports: the tooltip names the driver's device.
    EXPECT_EQ(kestrin::PortToolTip(r.items[3]), "\\\\.\\COM12\nDriver: \\Device\\Silabser0");
    for (const char* device : {"\\Device\\USBSER000", "\\Device\\ProlificSerial0", "\\Device\\CH341SER0"}) {
        SerialCommValues other("other");
        other.AddText("\\Device\\Serial0", "COM1");
        other.AddText(device, "COM4");
        other.AddText("\\Device\\Serial1", "COM3");
        EXPECT_EQ(Selected(other.List()), "COM4") << device;
    }
    values.AddText("\\Device\\VCP0", "COM7");
    values.AddText("\\Device\\USBSER000", "COM9");
    EXPECT_EQ(Selected(values.List()), "COM7");
}

TEST(PortList, AMissingKeyGivesNoPorts)
{
    const kestrin::PortListResult r =
        kestrin::BuildPortList(kestrin::WindowsPortProvider(HKEY_CURRENT_USER, "Software\\KestrinNoSuchKey").Enumerate());
    EXPECT_TRUE(r.items.empty());
    EXPECT_EQ(r.selected, -1);
}
